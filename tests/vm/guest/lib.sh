# Helpers sourced by each scenario's run.sh (as root in the guest). Every verdict is
# read from the real system: logind, systemd, the files, the process table.
# shellcheck shell=bash
HOST=/mnt/host
OUT=$HOST/out
GUEST=$HOST/guest
UNIT=local.vesperon.session.service
STATE=/var/lib/vesperon
JOBFILE=/run/local.vesperon.session.plist
WATCHER=$STATE/watcher
APPDIR=/tmp/vm-app
BOOT=$(wc -l < "$OUT/boots")
SCENARIO=${SCENARIO:?}
RESULT=$OUT/$SCENARIO
mkdir -p "$RESULT"

# Times are whole milliseconds (the guest has no bc); `seconds` shows them.
now() { date +%s%3N; }
log() { echo "[$(cut -d' ' -f1 /proc/uptime)] $*"; }
since() { echo $(($(now) - $1)); }
seconds() { awk -v m="$1" 'BEGIN { printf "%.*f", '"${2:-2}"', m / 1000 }'; }
# at_most MS LIMIT_SECONDS, the limit stretched by the host's slowdown factor (TCG).
SLOWDOWN=$(cat "$HOST/slowdown" 2>/dev/null || echo 1)
at_most() { [ "$1" -le "$(awk -v s="$2" -v f="$SLOWDOWN" 'BEGIN { printf "%d", s * f * 1000 }')" ]; }

check() { if "${@:2}"; then log "ok: $1"; else fail "$1"; fi; }
fail() {
    log "FAILED: $*"
    echo "$*" >> "$RESULT/failures"
}
figure() { echo "$*" >> "$RESULT/figures"; }
finish() {
    if [ -s "$RESULT/failures" ]; then echo FAIL; else echo PASS; fi > "$RESULT/verdict"
    sync
}

# wait_until SECONDS COMMAND...: polls every 0.1 s; sets WAITED to the milliseconds it took.
wait_until() {
    local limit=$(($1 * 1000)) start
    shift
    start=$(now)
    until "$@"; do
        if [ "$(since "$start")" -gt "$limit" ]; then WAITED=$limit; return 1; fi
        sleep 0.1
    done
    WAITED=$(since "$start")
}
negate() { ! "$@"; }

# One line per inhibitor: what|who|why|mode|uid|pid (from busctl's a(ssssuu) N "what" ...).
inhibitors() {
    busctl call org.freedesktop.login1 /org/freedesktop/login1 \
        org.freedesktop.login1.Manager ListInhibitors |
        awk -F'"' '{ for (k = 2; k + 7 <= NF; k += 8) { split($(k + 7), n, " ");
            print $k "|" $(k + 2) "|" $(k + 4) "|" $(k + 6) "|" n[1] "|" n[2] } }'
}
vesperon_locks() { inhibitors | awk -F'|' '$2 == "Vesperon"'; }
# The session's lock, exactly: lid switch, sleep and idle (as a set: logind lists them in
# its own order), blocking, root's, held by the watcher's process.
session_lock() {
    local pid what who why mode uid lpid
    pid=$(watcher_pid)
    [ -n "$pid" ] || return 1
    while IFS='|' read -r what who why mode uid lpid; do
        [ "$(tr ':' '\n' <<<"$what" | sort | paste -sd: -)" = "handle-lid-switch:idle:sleep" ] &&
            [ "$who" = Vesperon ] && [ "$why" = "A Vesperon session keeps the machine awake" ] &&
            [ "$mode" = block ] && [ "$uid" = 0 ] && [ "$lpid" = "$pid" ] && return 0
    done < <(inhibitors)
    return 1
}
no_vesperon_lock() { [ -z "$(vesperon_locks)" ]; }
# What logind itself says is blocked ("sleep:idle:..."); fails when logind does not answer.
block_inhibited() {
    busctl get-property org.freedesktop.login1 /org/freedesktop/login1 \
        org.freedesktop.login1.Manager BlockInhibited 2>/dev/null | cut -d'"' -f2
    return "${PIPESTATUS[0]}"
}
logind_answers() { block_inhibited > /dev/null; }
lid_switch_blocked() { [[ ":$(block_inhibited):" == *:handle-lid-switch:* ]]; }

unit_prop() { systemctl show -p "$1" --value "$UNIT" 2>/dev/null; }
unit_active() { [ "$(unit_prop ActiveState)" = active ]; }
# Gone: no such unit any more (transient units are collected), or one without a process.
unit_gone() {
    [ "$(unit_prop LoadState)" = not-found ] ||
        { [[ $(unit_prop ActiveState) =~ ^(inactive|failed)$ ]] && [ "$(unit_prop MainPID)" = 0 ]; }
}
watcher_pid() { unit_prop MainPID | grep -vx 0; }
watcher_processes() { pgrep -f "^$WATCHER --watch" || true; }
no_files() { [ ! -e "$STATE" ] && [ ! -e "$JOBFILE" ] && [ ! -e /run/local.vesperon.session.pid ]; }
# Stray: a watcher, or the executable running as root (the user's tray app is no stray).
no_stray() { [ -z "$(watcher_processes)" ] && [ -z "$(pgrep -u 0 -x vesperon || true)" ]; }
all_clear() { logind_answers && no_vesperon_lock && unit_gone && no_files && no_stray; }
describe_leftovers() {
    log "locks: $(vesperon_locks | tr '\n' ';') unit: $(unit_prop ActiveState)/$(unit_prop SubState)" \
        "pid $(unit_prop MainPID) files: $(ls -d $STATE $JOBFILE 2>/dev/null | tr '\n' ' ')" \
        "processes: $(watcher_processes | tr '\n' ' ') $(pgrep -u 0 -ax vesperon | tr '\n' ';')"
}
# released WHAT SECONDS START: WHAT releases the lock within SECONDS; RELEASED: ms since START.
released() {
    wait_until "$2" no_vesperon_lock
    RELEASED=$(since "$3")
    check "$1 releases the lock" no_vesperon_lock
}
check_all_clear() {  # [WHAT [SECONDS]]
    wait_until "${2:-10}" all_clear || describe_leftovers
    check "${1:-everything gone} (in $(seconds "$WAITED") s)" all_clear
}

source "$GUEST/battery.sh"

as_tester() { setpriv --reuid=tester --regid=tester --init-groups --reset-env "$@"; }
diagnosed() { as_tester /usr/bin/vesperon --diagnose 2>&1 | grep -qxF "$1"; }  # LINE
# The app's stand-in, as tester: renews the heartbeat every 2 s (the app's tick) while
# $APPDIR/renew exists. Sets APP_PID, HEARTBEAT, STOPFILE.
start_app() {
    rm -rf "$APPDIR"
    as_tester mkdir -m 700 "$APPDIR"
    as_tester touch "$APPDIR/heartbeat" "$APPDIR/renew"
    HEARTBEAT=$APPDIR/heartbeat
    STOPFILE=$APPDIR/stop
    as_tester sh -c 'while :; do [ -e "$1/renew" ] && touch "$1/heartbeat"; sleep 2; done' \
        app "$APPDIR" < /dev/null > /dev/null 2>&1 &
    APP_PID=$! # setpriv execs: the pid is the shell's own
    sleep 0.2
}
stop_renewing() { rm -f "$APPDIR/renew"; }
request_stop() { stop_renewing; as_tester touch "$STOPFILE"; }
kill_app() {
    [ -n "${APP_PID:-}" ] && kill -9 "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_PID=""
}

# pk_run ANSWER COMMAND...: COMMAND through the real pkexec as tester, polkit's prompt
# (pkttyagent) answered with root's password ANSWER ("-": not at all). Prints its output.
pk_run() {
    local answer=$1
    shift
    log "pkexec as tester: $*" >&2
    expect "$GUEST/pkexec.exp" "$answer" "$@" | tee -a "$RESULT/pkexec.log"
    return "${PIPESTATUS[0]}"
}
setup_session() {  # SECONDS: sets SETUP_OUT, SETUP_RC
    SETUP_OUT=$(pk_run root /usr/bin/vesperon --setup "$APP_PID" "$1" "$HEARTBEAT" "$STOPFILE")
    SETUP_RC=$?
    log "setup: rc=$SETUP_RC $(echo "$SETUP_OUT" | tail -n 3 | tr -d '\r' | tr '\n' ' ')"
}
# The agent's colours may share READY's line: only the text counts.
plain() { sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' | tr -d '\r'; }
setup_ready() { [ "$SETUP_RC" = 0 ] && plain <<<"$SETUP_OUT" | grep -qx READY; }
restored() { [ "$RESTORE_RC" = 0 ] && plain <<<"$RESTORE_OUT" | grep -qx RESTORED; }
restore_pkexec() {
    RESTORE_OUT=$(pk_run root /usr/bin/vesperon --restore)
    RESTORE_RC=$?
    log "restore: rc=$RESTORE_RC $(echo "$RESTORE_OUT" | tail -n 2 | tr -d '\r' | tr '\n' ' ')"
}
start_session() {
    start_app
    setup_session "$1"
    check "setup printed READY" setup_ready
    wait_until 15 session_lock || inhibitors
    LOCK_AFTER=$WAITED
    check "the watcher took the session's lock" session_lock
}
# The scenario runs again at the next boot, after a clean reboot or the host's hard reset.
request_reboot() { sync; touch "$OUT/REBOOT-REQUESTED"; exit 0; }
request_reset() { sync; touch "$OUT/RESET-REQUESTED"; sync; sleep 600; }

# in_session SECONDS COMMAND: a shell COMMAND as tester in the autologin session on tty1
# (through the agent there), waited for at most SECONDS (0: not at all); its output and status.
SPOOL=/run/vesperon-vm/user
in_session() {
    local limit=$1 id
    shift
    wait_until 60 test -e "$SPOOL/agent.ready" || { echo "no agent in tester's session"; return 99; }
    id=$SCENARIO-$RANDOM$RANDOM
    printf '%s\n' "$*" > "$SPOOL/$id.tmp"
    chmod 644 "$SPOOL/$id.tmp"
    mv "$SPOOL/$id.tmp" "$SPOOL/$id.cmd"
    [ "$limit" = 0 ] && return 0
    if ! wait_until "$limit" test -e "$SPOOL/$id.rc"; then
        echo "timed out in tester's session"
        return 124
    fi
    cat "$SPOOL/$id.out"
    return "$(cat "$SPOOL/$id.rc")"
}
