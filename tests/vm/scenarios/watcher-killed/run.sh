#!/bin/bash
# The watcher killed with SIGKILL: logind drops the lock at once; systemd restarts the
# unit 5 s later and, the session being healthy, the new watcher takes the lock again.
source /mnt/host/guest/lib.sh
start_session 600
old=$(watcher_pid)
t=$(now); kill -9 "$old"
wait_until 5 no_vesperon_lock
gone=$(since "$t")
check "the lock is gone at once (within 1 s)" at_most "$gone" 1
back_pid() { local p; p=$(watcher_pid); [ -n "$p" ] && [ "$p" != "$old" ] && session_lock; }
back=-1000
wait_until 20 back_pid && back=$(since "$t") || { describe_leftovers; fail "the restarted watcher takes the lock again"; }
check "systemd counted one restart" test "$(unit_prop NRestarts)" = 1
check "exactly one watcher runs" test "$(watcher_processes | wc -l)" = 1
request_stop
check_all_clear "the stop file still ends the session" 15
figure "lock gone $(seconds "$gone") s after the kill, taken again by a new watcher at $(seconds "$back" 1) s"
kill_app
finish
