#!/bin/bash
# Another account takes an idle-only block lock named "Vesperon": setup must still
# succeed, and a session's end and Restore must still give sleep back.
source /mnt/host/guest/lib.sh
in_session 0 'exec systemd-inhibit --what=idle --who=Vesperon --why=look-alike --mode=block sleep 600'
lookalike() { inhibitors | grep -q '^idle|Vesperon|look-alike|block|1000|'; }
check "tester's look-alike lock is held" wait_until 20 lookalike
root_lock() { inhibitors | awk -F'|' '$2 == "Vesperon" && $5 == 0' | grep -q .; }
unit_and_files_gone() { unit_gone && no_files; }
start_session 600  # beside the look-alike
t=$(now); request_stop
check "the stop file releases the session's lock" wait_until 15 negate root_lock
check "the watcher's unit ends, nothing restarts it" wait_until 15 unit_gone
check "the files are removed" wait_until 5 no_files
figure "stop file with a look-alike: $(seconds "$(since "$t")" 1) s"
kill_app

start_session 600
t=$(now)
restore_pkexec
check "Restore succeeds beside the look-alike" test "$RESTORE_RC" = 0
check "Restore releases the session's lock" negate root_lock
check "and removes the unit and the files" wait_until 10 unit_and_files_gone
check "the look-alike lock is untouched" lookalike
figure "Restore with a look-alike: $(seconds "$(since "$t")" 1) s"
kill_app
pkill -u tester -f '^sleep 600$'
check_all_clear "everything gone once the look-alike ends" 10
finish
