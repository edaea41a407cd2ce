#!/bin/bash
# Setup through the real pkexec gives the watcher's transient unit and root's block lock
# on the lid switch, sleep and idle; a stale heartbeat, the stop file, the time limit and
# a low battery each release it, stop the unit and remove the files.
source /mnt/host/guest/lib.sh

start_session 600
check "the watcher's unit is active" unit_active
check "systemd restarts the watcher" test "$(unit_prop Restart)" = always
check "the unit runs the watcher's copy" bash -c "systemctl show -p ExecStart --value $UNIT | grep -q 'path=$WATCHER ;'"
check "the session's files exist" test -f "$STATE/watcher" -a -e "$JOBFILE"
check "logind blocks the lid switch" lid_switch_blocked
figure "lock $(seconds "$LOCK_AFTER" 1) s after READY"

stop_renewing
released "a stale heartbeat" 45 "$(stat -c %.3Y "$HEARTBEAT" | tr -d .)"
check_all_clear "a stale heartbeat ends the session"
figure "stale heartbeat: released $(seconds "$RELEASED" 1) s after the last renewal"
kill_app

start_session 600
t=$(now); request_stop
released "the stop file" 15 "$t"
figure "stop file: $(seconds "$RELEASED" 1) s"
check_all_clear "the stop file ends the session"
kill_app

start_app
t=$(now)
setup_session 30
check "a 30 s session is set up" setup_ready
check "the 30 s session holds the lock" wait_until 15 session_lock
released "the time limit" 50 "$t"
figure "30 s limit: released at $(seconds "$RELEASED" 1) s"
check_all_clear "the time limit ends the session"
kill_app

start_session 600
t=$(now); battery 15
released "a battery at 15 %" 15 "$t"
figure "15 % battery: $(seconds "$RELEASED" 1) s"
check_all_clear "a low battery ends the session"
battery 80
kill_app
finish
