#!/bin/bash
# An administrator stops the watcher's unit mid-session: the lock goes, nothing brings the
# watcher back, the app reads no override, and its Restore clears what is left.
source /mnt/host/guest/lib.sh
start_session 600
t=$(now)
systemctl stop "$UNIT"
stopped=$(since "$t")
check "the lock is gone" wait_until 5 no_vesperon_lock
sleep 7   # past the unit's restart delay: nothing must come back
check "no watcher came back" test -z "$(watcher_processes)"
check "the lock stays gone" no_vesperon_lock
check "the unit is not running" negate unit_active
check "the app's reading: no sleep override" diagnosed "Sleep override: Optional(false)"
left="files left: $(ls -d $STATE $JOBFILE 2>/dev/null | wc -l)"
restore_pkexec
check "Restore succeeds" test "$RESTORE_RC" = 0
check_all_clear "after Restore nothing is left" 10
start_session 600  # a new session starts
request_stop
check_all_clear "and ends" 15
figure "stopped in $(seconds "$stopped" 1) s; $left before Restore"
kill_app
finish
