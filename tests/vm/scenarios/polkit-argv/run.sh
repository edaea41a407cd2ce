#!/bin/bash
# The administrator prompt authorises changing the sleep settings, nothing else: the
# image renderers run through pkexec must not write as root through a symbolic link;
# --setup and --restore keep working.
source /mnt/host/guest/lib.sh
echo precious > /root/precious
ln -sfn /root/precious /root/x.png
out=$(pk_run root /usr/bin/vesperon --render-panel /root/x.png)
rc=$?
log "render-panel through pkexec: rc=$rc $(tail -n 2 <<<"$out" | tr -d '\r' | tr '\n' ' ')"
check "rendering through pkexec is refused" test "$rc" != 0
check "the link's target is untouched" test "$(cat /root/precious)" = precious
check "the link is still a link" test -L /root/x.png
echo precious > /root/precious2
as_tester ln -sfn /root/precious2 /tmp/tester-link.png
out=$(pk_run root /usr/bin/vesperon --render-about /tmp/tester-link.png)
rc=$?
log "render-about through pkexec: rc=$rc"
check "rendering About through pkexec is refused" test "$rc" != 0
check "the target of tester's link is untouched" test "$(cat /root/precious2)" = precious
start_session 600
check "--setup still works through pkexec" session_lock
restore_pkexec
check "--restore still works through pkexec" test "$RESTORE_RC" = 0
check_all_clear "and ends the session" 10
figure "renderers through pkexec: refused=$([ "$(cat /root/precious)$(cat /root/precious2)" = preciousprecious ] && echo yes || echo NO)"
rm -f /root/x.png /root/precious /root/precious2 /tmp/tester-link.png
kill_app
finish
