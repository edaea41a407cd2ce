#!/bin/bash
# The seeded fault campaign (campaign.py); it goes on across the boots its resets cause.
source /mnt/host/guest/lib.sh
python3 "$(dirname "$0")/campaign.py"
rc=$?
[ -e "$OUT/RESET-REQUESTED" ] && exit 0
python3 - "$OUT/campaign/state.json" >> "$RESULT/figures" <<'PY'
import json, sys
s = json.load(open(sys.argv[1]))
runs = s["runs"]
print(f"{len(runs)} runs, {sum(1 for r in runs if not r['failures'])} kept the promise, "
      f"{s['boots']} boots, {sum(r['user_restores'] for r in runs)} user restores")
PY
[ "$rc" = 0 ] || fail "a run broke the promise (see out/campaign/report.md)"
finish
