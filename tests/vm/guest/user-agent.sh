#!/bin/bash
# Runs in tester's autologin session on tty1: executes the harness's requests
# (SPOOL/ID.cmd, written by root) in this session and leaves ID.out and ID.rc.
SPOOL=/run/vesperon-vm/user
while [ ! -d "$SPOOL" ]; do sleep 0.2; done
echo "$XDG_SESSION_ID" > "$SPOOL/agent.ready"
while :; do
    for cmd in "$SPOOL"/*.cmd; do
        [ -e "$cmd" ] || continue
        id=${cmd%.cmd}
        mv "$cmd" "$id.run"
        ( bash "$id.run" > "$id.out" 2>&1; echo $? > "$id.rc.tmp"; mv "$id.rc.tmp" "$id.rc" ) &
    done
    sleep 0.2
done
