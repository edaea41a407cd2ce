# wait_for_echo_off: waits (at most 60 s) until the spawned program's terminal no
# longer echoes: pkttyagent has then flushed its input and reads the password.
proc wait_for_echo_off {} {
    global spawn_out
    for {set i 0} {$i < 600} {incr i} {
        if {![catch {exec stty -F $spawn_out(slave,name) -a} settings] &&
            [regexp {(^|[ ;\n])-echo([ ;\n]|$)} $settings]} {
            after 200
            return
        }
        after 100
    }
}
