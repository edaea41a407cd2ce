#!/bin/bash
# The harness's driver, as root at every boot: installs the package (first boot), gives
# the machine a battery, then runs the scenarios listed in /mnt/host/scenarios in turn. One
# without a verdict yet runs again at the next boot; one that asked for a reboot ends this boot's run.
HOST=/mnt/host
OUT=$HOST/out
boot=$(wc -l < "$OUT/boots")
systemctl is-system-running --wait > /dev/null
echo "boot $boot: system running at uptime $(cut -d' ' -f1 /proc/uptime)"
# Under emulation root's password (every prompt's answer) gets a quick hash.
echo root:root | chpasswd -c SHA512 -s 1000
# tester's agent takes the requests out of its spool: the folder is tester's.
install -d -o tester -g tester -m 755 /run/vesperon-vm/user

if ! dpkg -s vesperon > /dev/null 2>&1 &&
    ! dpkg --force-unsafe-io -i "$HOST/vesperon.deb" > "$OUT/dpkg.log" 2>&1; then
    for name in $(cat "$HOST/scenarios"); do
        mkdir -p "$OUT/$name"
        echo "the package did not install" >> "$OUT/$name/failures"
        echo FAIL > "$OUT/$name/verdict"
    done
    exit 1
fi
systemd-analyze 2>/dev/null | head -n 1
source "$HOST/guest/battery.sh"
battery_fixture

for name in $(cat "$HOST/scenarios"); do
    mkdir -p "$OUT/$name"
    [ -e "$OUT/$name/verdict" ] && continue
    [ -e "$OUT/$name/started" ] || date +%s.%N > "$OUT/$name/started"
    limit=$(cat "$HOST/scenarios.d/$name/limit" 2>/dev/null || echo 240)
    limit=$((limit * $(cat "$HOST/slowdown" 2>/dev/null || echo 1)))
    echo "== $name (boot $boot, limit $limit s)"
    SCENARIO=$name timeout -k 5 "$limit" bash "$HOST/scenarios.d/$name/run.sh" \
        >> "$OUT/$name/log" 2>&1 < /dev/null
    rc=$?
    date +%s.%N > "$OUT/$name/ended"
    [ -e "$OUT/REBOOT-REQUESTED" ] && exit 0  # the scenario asked for a reboot
    if [ ! -e "$OUT/$name/verdict" ]; then
        if [ "$rc" = 124 ]; then echo "timed out after $limit s"; else echo "ended with status $rc and no verdict"; fi >> "$OUT/$name/failures"
        echo FAIL > "$OUT/$name/verdict"
    fi
    echo "== $name: $(cat "$OUT/$name/verdict")"
    # Whatever a scenario left must not spill into the next one.
    /usr/bin/vesperon --restore > /dev/null 2>&1
    pkill -u tester -f '^sh -c while' 2>/dev/null
    pkill -u tester -xf 'sleep 600' 2>/dev/null
    sync
done
exit 0
