#!/bin/bash
# The tray app in tester's session, as a person uses it: the shortcut starts a session,
# polkit's prompt (pkttyagent) is answered, the panel's End session gives sleep back.
source /mnt/host/guest/lib.sh
T=/tmp/vm-tray
here=$HOST/scenarios.d/tray
rm -rf "$T"
in_session 0 "bash $here/desktop.sh"
if ! wait_until 120 test -e "$T/icon"; then
    cat "$T"/*.log
    fail "the tray icon appeared"
    finish
    exit 0
fi
APP=$(cat "$T/app.pid")
log "tray icon after $(seconds "$WAITED" 1) s; app $APP"
in_session 0 "expect $here/agent.exp $APP > $T/agent.log 2>&1"
wait_until 20 pgrep -u tester -x pkttyagent > /dev/null
sleep 2
x() { in_session 30 "DISPLAY=:7 xdotool $*"; }
t=$(now)
x key ctrl+alt+super+space
if wait_until 120 session_lock; then
    started=$(since "$t")
    log "the lock is held $(seconds "$started" 1) s after the shortcut"
else
    cat "$T/agent.log" "$T/app.log"
    inhibitors
    fail "Start session through the prompt gives the session's lock"
fi
check "polkit's prompt was answered" grep -q AGENT-ANSWERED "$T/agent.log"
check "the session belongs to the app" grep -q "\"pid\": *$APP\b" "$STATE/session.json"
check "the watcher's unit is active" unit_active
sleep 5   # the app verifies the session on its next ticks
# End session: the panel opens from the icon; its main button ends the session.
geometry() {  # NAME-ARGS... -> X Y WIDTH HEIGHT of the first window found
    in_session 30 "DISPLAY=:7 xdotool search $* getwindowgeometry --shell %@" |
        awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2; if (w > 1 && h > 1) {print x, y, w, h; exit}}'
}
read -r ix iy iw ih <<<"$(geometry --classname '^vesperon$')"
x mousemove $((ix + iw / 2)) $((iy + ih / 2)) click 1
panel_shown() { in_session 30 'DISPLAY=:7 xdotool search --onlyvisible --name "^Vesperon panel$"' > /dev/null; }
wait_until 30 panel_shown
read -r px py _ <<<"$(geometry --onlyvisible --name '^Vesperon\ panel$')"
t=$(now)
x mousemove $((px + 170)) $((py + 458)) click 1
check_all_clear "End session gives sleep back and clears everything" 60
ended=$(since "$t")
figure "lock $(seconds "${started:--1000}" 1) s after the shortcut; all clear $(seconds "$ended" 1) s after End session"
kill "$APP" 2>/dev/null
wait_until 30 negate kill -0 "$APP" 2> /dev/null
pkill -u tester -x pkttyagent; pkill -u tester -x trayer; kill "$(cat "$T/xvfb.pid")" "$(cat "$T/bus.pid")" 2>/dev/null
finish
