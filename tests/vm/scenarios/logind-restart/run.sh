#!/bin/bash
# systemd-logind restarted mid-session: logind keeps its inhibitors across a restart, so
# the lock must still be the watcher's and block the lid switch; if it were lost, the
# watcher must take it again or end the session. The session then ends as usual.
source /mnt/host/guest/lib.sh
start_session 600
holder=$(watcher_pid)
systemctl restart systemd-logind
wait_until 20 logind_answers
sleep 3
if session_lock; then
    verdict="the lock survived logind's restart"
    check "logind still blocks the lid switch" lid_switch_blocked
    check "the watcher that took it still holds it" test "$(watcher_pid)" = "$holder"
else
    verdict="the lock was lost"
    lock_back_or_clear() { session_lock || all_clear; }
    wait_until 10 lock_back_or_clear ||
        fail "the watcher neither took the lock again nor ended the session"
fi
log "$verdict"
t=$(now); request_stop
check_all_clear "the stop file ends the session after the restart" 15
figure "$verdict; ended $(seconds "$(since "$t")" 1) s after the stop file"
kill_app
finish
