#!/bin/bash
# The app killed: the watcher sees its owner gone and gives the lock back within its
# poll, then stops its unit and removes the files.
source /mnt/host/guest/lib.sh
start_session 600
t=$(now); kill_app
wait_until 10 no_vesperon_lock
gone=$(since "$t")
check "the lock is gone after the app's death" no_vesperon_lock
check "within the watcher's bound (2 s poll: 2.5 s)" at_most "$gone" 2.5
check_all_clear "the session is over: no unit, no files, no process"
figure "lock gone $(seconds "$gone") s after the kill"
finish
