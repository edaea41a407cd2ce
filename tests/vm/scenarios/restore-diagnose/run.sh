#!/bin/bash
# --diagnose reads the real machine; --restore through pkexec as an administrator ends
# a session; a wrong password sets nothing up.
source /mnt/host/guest/lib.sh
start_app
SETUP_OUT=$(pk_run wrong /usr/bin/vesperon --setup "$APP_PID" 600 "$HEARTBEAT" "$STOPFILE")
SETUP_RC=$?
check "a wrong password is refused" negate setup_ready
check "and sets nothing up" all_clear
kill_app

start_session 600
for line in "Battery above cutoff or charger connected: true" "Lid closed: false" \
    "Sleep override: Optional(true)" "Recovery job exists: true"; do
    check "diagnose: $line" diagnosed "$line"
done
battery 10
charger 1
check "diagnose: a connected charger counts at 10 %" diagnosed "Battery above cutoff or charger connected: true"
charger 0
battery 80
t=$(now)
restore_pkexec
restored=$(since "$t")
check "Restore through pkexec prints RESTORED" restored
check_all_clear "Restore ends the session" 5
check "diagnose afterwards: no override" diagnosed "Sleep override: Optional(false)"
check "diagnose afterwards: no job" diagnosed "Recovery job exists: false"
restore_pkexec
check "a second Restore has nothing to do and succeeds" test "$RESTORE_RC" = 0
figure "Restore through pkexec $(seconds "$restored" 1) s"
kill_app
finish
