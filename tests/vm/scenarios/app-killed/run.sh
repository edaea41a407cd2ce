#!/bin/bash
# The app killed: the watcher wakes at the app's end (not at its 2 s poll), gives the
# lock back as quickly as a killed watcher does, stops its unit and removes the files.
source /mnt/host/guest/lib.sh
start_session 600
t=$(now); kill_app
released "the app's death" 10 "$t"
check "at once (within 1 s, as for a killed watcher)" at_most "$RELEASED" 1
check_all_clear "the session is over: no unit, no files, no process"
figure "lock gone $(seconds "$RELEASED") s after the kill"
finish
