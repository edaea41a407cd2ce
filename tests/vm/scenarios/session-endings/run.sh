#!/bin/bash
# Setup through the real pkexec (polkit's prompt answered by pkttyagent) gives the
# watcher's transient unit and one block lock of root's on the lid switch, sleep and
# idle, held by the watcher; a stale heartbeat, the stop file, the time limit and a low
# battery each release it, stop the unit and remove the files.
source /mnt/host/guest/lib.sh

start_session 600
check "the watcher's unit is active" unit_active
check "systemd restarts the watcher" test "$(unit_prop Restart)" = always
check "the unit runs the watcher's copy" bash -c "systemctl show -p ExecStart --value $UNIT | grep -q 'path=$WATCHER ;'"
check "the session's files exist" test -f "$STATE/watcher" -a -e "$JOBFILE"
check "logind blocks the lid switch" lid_switch_blocked
systemd-inhibit --list --no-pager
figure "lock $(seconds "$LOCK_AFTER" 1) s after READY"

stop_renewing
last=$(stat -c %.3Y "$HEARTBEAT" | tr -d .)
wait_until 45 no_vesperon_lock
stale=$(since "$last")
check "a stale heartbeat releases the lock" no_vesperon_lock
check_all_clear "a stale heartbeat ends the session"
figure "stale heartbeat: released $(seconds "$stale" 1) s after the last renewal"
kill_app

start_session 600
t=$(now); request_stop
wait_until 15 no_vesperon_lock
check "the stop file releases the lock" no_vesperon_lock
figure "stop file: $(seconds "$(since "$t")" 1) s"
check_all_clear "the stop file ends the session"
kill_app

start_app
t=$(now)
setup_session 30
check "a 30 s session is set up" setup_ready
check "the 30 s session holds the lock" wait_until 15 session_lock
wait_until 50 no_vesperon_lock
check "the time limit releases the lock" no_vesperon_lock
figure "30 s limit: released at $(seconds "$(since "$t")" 1) s"
check_all_clear "the time limit ends the session"
kill_app

start_session 600
t=$(now); battery 15
wait_until 15 no_vesperon_lock
check "a battery at 15 % releases the lock" no_vesperon_lock
figure "15 % battery: $(seconds "$(since "$t")" 1) s"
check_all_clear "a low battery ends the session"
battery 80
kill_app
finish
