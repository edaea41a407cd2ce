#!/bin/bash
# The app killed: the watcher wakes at the app's end (it does not wait for its 2 s
# poll) and gives the lock back as quickly as the kernel's own close after a killed
# watcher does, then stops its unit and removes the files.
source /mnt/host/guest/lib.sh
start_session 600
t=$(now); kill_app
wait_until 10 no_vesperon_lock
gone=$(since "$t")
check "the lock is gone after the app's death" no_vesperon_lock
check "at once (within 1 s, as for a killed watcher)" at_most "$gone" 1
check_all_clear "the session is over: no unit, no files, no process"
figure "lock gone $(seconds "$gone") s after the kill"
finish
