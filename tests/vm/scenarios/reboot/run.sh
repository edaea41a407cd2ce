#!/bin/bash
# A hard reset mid-session, then a clean reboot mid-session. After each boot: no lock,
# vesperon-recover.service has cleared the session's files, and a new session starts.
source /mnt/host/guest/lib.sh
# It runs when the last boot left the session's files; a shutdown that let the watcher
# finish leaves none, and then systemd skips it on its condition.
recover_ran_or_skipped() {
    test "$(systemctl show -p ExecMainStartTimestampMonotonic --value vesperon-recover.service)" != 0 ||
        test "$(systemctl show -p ConditionResult --value vesperon-recover.service)" = no
}
after_boot() {   # LABEL
    check "$1: no Vesperon lock after boot" no_vesperon_lock
    check "$1: vesperon-recover.service ran, or there was nothing to clear" recover_ran_or_skipped
    check "$1: and succeeded" test "$(systemctl show -p ExecMainStatus --value vesperon-recover.service)" = 0
    check "$1: the files are cleared" no_files
    check "$1: no watcher unit" unit_gone
    start_session 600
}
case $BOOT in
1)
    start_session 600
    check "the session's files are on disk" test -f "$STATE/session.json" -o -f "$STATE/watcher"
    request_reset
    ;;
2)
    after_boot "after the hard reset"
    request_reboot
    ;;
*)
    after_boot "after the clean reboot"
    request_stop
    check_all_clear "the session after the reboots ends" 15
    kill_app
    figure "boots: $BOOT; recover cleared the files after a reset and a reboot"
    finish
    ;;
esac
