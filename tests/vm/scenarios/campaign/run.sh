#!/bin/bash
# The seeded fault campaign: each run sets a session up as root (many sessions quickly),
# injects one fault (kill -9 of the app or the watcher, systemctl stop of the unit or
# restart of logind, a hard reset) at a random instant from while setup runs to 4 s into
# the session, ends the session as the app would and checks that all is clear. Run N of
# seed S draws from RANDOM=S*1000+N; its kind is KINDS[N % 5]. A reset is judged at the next boot.
source /mnt/host/guest/lib.sh
source "$HOST/campaign.conf"  # RUNS, SEED
APPDIR=/tmp/vm-campaign-app
DIR=$OUT/campaign
RECORDS=$DIR/runs  # index, kind, measure ms, lock gone ms, user restores, failures, notes
mkdir -p "$DIR"
touch "$RECORDS"
KINDS=(app-kill watcher-kill unit-stop logind-restart reset)
declare -A FROM=([app-kill]="fault → all clear" [watcher-kill]="fault → a new watcher holds the lock"
    [unit-stop]="fault → lock gone" [logind-restart]="stop file → all clear"
    [reset]="reset → all clear after boot")

joined() { local IFS=';'; echo "$*"; }
record() {  # INDEX KIND
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$1" "$2" "$measure" "$back" "$restores" \
        "$(joined "${failures[@]}")" "$(joined "${notes[@]}")" >> "$RECORDS"
    log "run $1 $2 ${measure:-–} ms ${failures[*]:-ok} (${notes[*]})"
}
# settle PATIENCE: the app's stop file; the user's Restore when sleep does not come back.
settle() {
    kill -0 "$APP_PID" 2> /dev/null && request_stop
    wait_until "$1" all_clear && return
    restores=1
    notes+=("user restore: $(describe_leftovers)")
    /usr/bin/vesperon --restore > /dev/null 2>&1 || notes+=("restore failed")
    wait_until 10 all_clear
}
new_watcher() { local p; p=$(watcher_pid); [ -n "$p" ] && [ "$p" != "$old" ] && negate no_vesperon_lock; }
watcher_back() { [ -n "$(watcher_pid)" ]; }

run_one() {  # INDEX
    local i=$1 kind instant fault setup stopped
    RANDOM=$((SEED * 1000 + i))
    kind=${KINDS[i % ${#KINDS[@]}]}
    instant=$((RANDOM % 4401 - 400))  # ms; negative: while setup runs
    failures=() notes=("at $(seconds "$instant") s") restores=0 measure="" back=""
    start_app
    /usr/bin/vesperon --setup "$APP_PID" 600 "$HEARTBEAT" "$STOPFILE" > "$DIR/setup.out" 2> "$DIR/setup.err" &
    setup=$!
    if [ "$instant" -ge 0 ]; then
        wait "$setup" && [ "$(cat "$DIR/setup.out")" = READY ] ||
            failures+=("setup failed: $(cat "$DIR/setup.err")")
        wait_until 15 negate no_vesperon_lock || failures+=("the watcher took no lock")
    fi
    sleep "$(seconds "${instant#-}" 3)"
    fault=$(now)
    case $kind in
    app-kill)
        kill_app
        wait_until 15 no_vesperon_lock && back=$WAITED
        wait_until 15 all_clear && measure=$(since "$fault")
        ;;
    watcher-kill)
        old=$(watcher_pid)
        [ -n "$old" ] && kill -9 "$old"
        wait_until 5 no_vesperon_lock && back=$WAITED
        wait_until 12 new_watcher && measure=$(since "$fault")
        settle 20
        ;;
    unit-stop)
        systemctl stop "$UNIT"
        wait_until 10 no_vesperon_lock && back=$WAITED measure=$WAITED
        wait_until 7 watcher_back && failures+=("the watcher came back after the unit was stopped")
        settle 5
        ;;
    logind-restart)
        systemctl restart systemd-logind
        wait_until 20 logind_answers
        if no_vesperon_lock; then notes+=("lock not listed after the restart"); else notes+=("lock kept"); fi
        stopped=$(now)
        settle 20
        measure=$(since "$stopped")
        ;;
    reset)
        printf '%s\t%s\t%s\n' "$i" "$(now)" "$(joined "${notes[@]}")" > "$DIR/pending"
        request_reset
        failures+=("no reset came")
        ;;
    esac
    wait "$setup"
    kill_app
    sleep 0.3
    all_clear || failures+=("left: $(describe_leftovers)")
    record "$i" "$kind"
}

# The reset run's verdict: all clear at the next boot without anyone's help
# (vesperon-recover.service clears the files).
if [ -e "$DIR/pending" ]; then
    IFS=$'\t' read -r index at joined_notes < "$DIR/pending"
    failures=() notes=("$joined_notes") restores=0 measure="" back=""
    if wait_until 30 all_clear; then measure=$(since "$at"); else failures+=("left after boot: $(describe_leftovers)"); fi
    ran=$(systemctl show -p ExecMainStartTimestampMonotonic --value vesperon-recover.service)
    if [ "${ran:-0}" != 0 ]; then notes+=("recover ran"); else notes+=("recover did not run"); fi
    record "$index" reset
    rm "$DIR/pending"
fi
while [ "$(wc -l < "$RECORDS")" -lt "$RUNS" ]; do
    run_one "$(wc -l < "$RECORDS")"
done

# stats COLUMN KIND: the median, p95 and max of a column's milliseconds, in seconds.
stats() {
    awk -F'\t' -v c="$1" -v k="$2" '$2 == k && $c != "" { print $c }' "$RECORDS" | sort -n |
        awk '{ v[NR] = $1 } END { if (!NR) { print "– – –"; exit }
            split("0.5 0.95", p, " ")
            for (j = 1; j <= 2; j++) { x = (NR - 1) * p[j]; lo = int(x) + 1; hi = lo < NR ? lo + 1 : lo
                printf "%.2f ", (v[lo] + (v[hi] - v[lo]) * (x - int(x))) / 1000 }
            printf "%.2f\n", v[NR] / 1000 }'
}
count() { awk -F'\t' "$1" "$RECORDS" | wc -l; }
{
    printf '# Fault campaign on the virtual machine\n\nCommand: `tests/vm/run --campaign %s --seed %s`\n\n' "$RUNS" "$SEED"
    echo "$RUNS runs over $BOOT boots, $(count '$6 == ""') kept the promise (no Vesperon lock," \
        "no unit, no files, no stray process)."
    printf '\n%s %s\n\n' "Seconds from the instant under *from* (Debian's systemd, logind and polkit;" \
        "setup as root; faults from setup's start to 4 s into the session)."
    echo "| fault | runs | passed | user restores | from | median | p95 | max | lock gone p95 |"
    echo "|---|---|---|---|---|---|---|---|---|"
    for kind in "${KINDS[@]}"; do
        mine="\$2 == \"$kind\""
        [ "$(count "$mine")" = 0 ] && continue
        read -r median p95 max < <(stats 3 "$kind")
        read -r _ back95 _ < <(stats 4 "$kind")
        echo "| $kind | $(count "$mine") | $(count "$mine && \$6 == \"\"") |" \
            "$(count "$mine && \$5 > 0") | ${FROM[$kind]} | $median | $p95 | $max | $back95 |"
    done
    failed=$(awk -F'\t' '$6 != "" { print "- run " $1 " (" $2 "): " $6 " — " $7 }' "$RECORDS")
    [ -n "$failed" ] && printf '\n## Runs that broke the promise\n\n%s\n' "$failed"
    helped=$(awk -F'\t' '$5 > 0 { print "- run " $1 " (" $2 "): " $7 }' "$RECORDS")
    [ -n "$helped" ] && printf "\n## Runs where the user's Restore was needed\n\n%s\n" "$helped"
} > "$DIR/report.md"
figure "$RUNS runs, $(count '$6 == ""') kept the promise, $BOOT boots," \
    "$(count '$5 > 0') user restores"
[ "$(count '$6 != ""')" = 0 ] || fail "a run broke the promise (see out/campaign/report.md)"
finish
