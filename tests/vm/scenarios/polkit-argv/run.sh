#!/bin/bash
# The administrator prompt authorises the sleep settings only: the renderers run through
# pkexec must not write as root through a symbolic link; --setup and --restore still work.
source /mnt/host/guest/lib.sh
echo precious > /root/precious
ln -sfn /root/precious /root/x.png
check "rendering through pkexec is refused" negate pk_run root /usr/bin/vesperon --render-panel /root/x.png
check "the link's target is untouched" test "$(cat /root/precious)" = precious
check "the link is still a link" test -L /root/x.png
echo precious > /root/precious2
as_tester ln -sfn /root/precious2 /tmp/tester-link.png
check "rendering About through pkexec is refused" negate pk_run root /usr/bin/vesperon --render-about /tmp/tester-link.png
check "the target of tester's link is untouched" test "$(cat /root/precious2)" = precious
start_session 600  # --setup still works through pkexec
restore_pkexec
check "--restore still works through pkexec" test "$RESTORE_RC" = 0
check_all_clear "and ends the session" 10
figure "renderers through pkexec: refused=$([ "$(cat /root/precious)$(cat /root/precious2)" = preciousprecious ] && echo yes || echo NO)"
rm -f /root/x.png /root/precious /root/precious2 /tmp/tester-link.png
kill_app
finish
