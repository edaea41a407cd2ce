#!/bin/bash
# In tester's seat session: a virtual X server, an XEmbed tray host, a session bus and
# the tray application itself. Leaves its pids and the display in /tmp/vm-tray.
d=/tmp/vm-tray
mkdir -p "$d"
Xvfb :7 -screen 0 1280x800x24 -nolisten tcp > "$d/xvfb.log" 2>&1 &
echo $! > "$d/xvfb.pid"
export DISPLAY=:7 QT_QPA_PLATFORM=xcb
for _ in $(seq 100); do xdotool getdisplaygeometry > /dev/null 2>&1 && break; sleep 0.3; done
trayer --edge top --align right --widthtype request --height 32 --expand true \
    --transparent false > "$d/trayer.log" 2>&1 &
echo $! > "$d/trayer.pid"
eval "$(dbus-daemon --session --fork --print-address=1 --print-pid=1 | {
    read -r address; read -r pid; echo "export DBUS_SESSION_BUS_ADDRESS=$address; echo $pid > $d/bus.pid"; })"
/usr/bin/vesperon > "$d/app.log" 2>&1 &
echo $! > "$d/app.pid"
for _ in $(seq 300); do
    xdotool search --classname '^vesperon$' > /dev/null 2>&1 && { touch "$d/icon"; break; }
    sleep 0.3
done
