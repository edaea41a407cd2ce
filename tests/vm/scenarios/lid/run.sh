#!/bin/bash
# The lid itself, a uinput lid switch that logind handles as a laptop's (the suspend only
# leaves a marker): closed during a session it must not suspend; after the session it must.
source /mnt/host/guest/lib.sh
modprobe uinput
mkdir -p /run/systemd/system/systemd-suspend.service.d
printf '[Service]\nExecStart=\nExecStart=/bin/sh -c "echo VM-FAKE-SUSPEND > /dev/kmsg"\n' \
    > /run/systemd/system/systemd-suspend.service.d/vm-fake.conf
systemctl daemon-reload
# logind ignores the lid for HoldoffTimeoutSec after its start and after every resume.
mkdir -p /run/systemd/logind.conf.d
printf '[Login]\nHoldoffTimeoutSec=3s\n' > /run/systemd/logind.conf.d/vm.conf
systemctl restart systemd-logind
sleep 4
suspends() { journalctl -q -b -k --no-pager -o cat | grep -c VM-FAKE-SUSPEND; }
lid_closed() {
    busctl get-property org.freedesktop.login1 /org/freedesktop/login1 \
        org.freedesktop.login1.Manager LidClosed | grep -q true
}
# close_lid: closes the lid for 6 s; sets SUSPENDED to the suspends it caused.
close_lid() {
    local before
    before=$(suspends)
    "$HOST/fake-lid" 2c6o1 &
    wait_until 5 lid_closed || log "logind never saw the lid closed"
    sleep 2
    DIAG=$(as_tester /usr/bin/vesperon --diagnose 2>&1)
    wait $!
    sleep 1
    SUSPENDED=$(( $(suspends) - before ))
}

start_session 600
close_lid
check "diagnose sees the lid closed" grep -qxF "Lid closed: true" <<<"$DIAG"
check "a session's lid close does not suspend" test "$SUSPENDED" = 0
during=$SUSPENDED
check "the session is still held" session_lock
request_stop
check_all_clear "the session ends" 15
kill_app
sleep 4   # past logind's hold-off
close_lid
check "after the session a lid close suspends" test "$SUSPENDED" -ge 1
figure "suspends on lid close: $during during the session, $SUSPENDED after it"
rm -rf /run/systemd/system/systemd-suspend.service.d /run/systemd/logind.conf.d
systemctl daemon-reload
finish
