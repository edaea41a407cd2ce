#!/usr/bin/python3
"""A seeded fault campaign on the real machine. Each run sets a session up (as root,
directly: many sessions quickly), injects one fault at a random instant from just after
setup starts to 4 s into the session, lets the session end as the app would, and
checks from the system's side that nothing is left: no Vesperon lock in logind, no
watcher unit, no files under /var/lib/vesperon or /run, no stray process.

Run N of seed S draws from Random("S:N"); its kind is KINDS[N % len(KINDS)]. A reset
run asks the host for a hard reset and is judged at the next boot; the campaign's
state lives in the share, so the campaign goes on across boots.
"""
import json
import os
import random
import signal
import statistics
import subprocess
import sys
import time

OUT = "/mnt/host/out"
DIR = os.path.join(OUT, "campaign")
STATE_FILE = os.path.join(DIR, "state.json")
UNIT = "local.vesperon.session.service"
STATE = "/var/lib/vesperon"
WATCHER = STATE + "/watcher"
APPDIR = "/tmp/vm-campaign-app"
EXE = "/usr/bin/vesperon"
KINDS = {
    "app-kill": ("kill -9 of the app", "fault → all clear"),
    "watcher-kill": ("kill -9 of the watcher", "fault → a new watcher holds the lock"),
    "unit-stop": ("systemctl stop of the watcher's unit", "fault → lock gone"),
    "logind-restart": ("systemctl restart systemd-logind", "stop file → all clear"),
    "reset": ("hard reset of the machine (QMP system_reset)", "reset → all clear after boot"),
}


def now():
    return time.monotonic()


def sh(*argv, timeout=60):
    return subprocess.run(argv, capture_output=True, text=True, timeout=timeout, check=False)


def locks():
    out = sh("busctl", "--json=short", "call", "org.freedesktop.login1", "/org/freedesktop/login1",
             "org.freedesktop.login1.Manager", "ListInhibitors")
    if out.returncode != 0:
        return None
    return [i for i in json.loads(out.stdout)["data"][0] if i[1] == "Vesperon"]


def unit(prop):
    return sh("systemctl", "show", "-p", prop, "--value", UNIT).stdout.strip()


def watcher_pid():
    pid = unit("MainPID")
    return int(pid) if pid.isdigit() and pid != "0" else None


def processes():
    """Vesperon's processes: the watcher's copy and the installed executable."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if argv and argv[0] in (WATCHER.encode(), EXE.encode()):
            found.append(f"{entry}:{b' '.join(argv).decode(errors='replace').strip()}")
    return found


def unit_gone():
    return unit("LoadState") == "not-found" or (unit("ActiveState") in ("inactive", "failed")
                                                 and unit("MainPID") == "0")


def files():
    return [p for p in (STATE, "/run/local.vesperon.session.plist",
                        "/run/local.vesperon.session.pid") if os.path.lexists(p)]


def leftovers():
    """What breaks the promise, from the system's side; empty when all is clear."""
    left = []
    held = locks()
    if held is None:
        left.append("logind does not answer")
    elif held:
        left.append("lock " + ";".join("|".join(str(f) for f in i) for i in held))
    if not unit_gone():
        left.append(f"unit {unit('ActiveState')}/{unit('SubState')}")
    left += ["file " + f for f in files()]
    left += ["process " + p for p in processes()]
    return left


def wait(condition, limit, step=0.1):
    start = now()
    while now() - start < limit:
        if condition():
            return now() - start
        time.sleep(step)
    return None


class App:
    """The app's stand-in, as tester: renews the heartbeat every 2 s."""

    def __init__(self):
        subprocess.run(["rm", "-rf", APPDIR], check=True)
        tester = ["setpriv", "--reuid=tester", "--regid=tester", "--init-groups", "--reset-env"]
        subprocess.run(tester + ["mkdir", "-m", "700", APPDIR], check=True)
        subprocess.run(tester + ["touch", APPDIR + "/heartbeat", APPDIR + "/renew"], check=True)
        self.process = subprocess.Popen(
            tester + ["sh", "-c", 'while :; do [ -e "$1/renew" ] && touch "$1/heartbeat"; sleep 2; done',
                      "app", APPDIR], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        self.heartbeat, self.stop_file = APPDIR + "/heartbeat", APPDIR + "/stop"

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()

    def stop(self):
        try:
            os.unlink(APPDIR + "/renew")
        except FileNotFoundError:
            pass
        subprocess.run(["setpriv", "--reuid=tester", "--regid=tester", "--init-groups",
                        "touch", self.stop_file], check=False)


def restore():
    return sh(EXE, "--restore", timeout=150)


class Run:
    def __init__(self, seed, index):
        self.index = index
        self.rng = random.Random(f"{seed}:{index}")
        self.kind = list(KINDS)[index % len(KINDS)]
        self.record = {"index": index, "kind": self.kind, "failures": [], "notes": [],
                       "user_restores": 0, "measure": None, "sleep_back": None}

    def note(self, text):
        self.record["notes"].append(text)

    def failure(self, text):
        self.record["failures"].append(text)

    def settle(self, app, patience):
        """The session ends as the app ends it: the stop file; when normal sleep does not
        come back within `patience`, the user's Restore."""
        if app.process.poll() is None:
            app.stop()
        done = wait(lambda: not leftovers(), patience)
        if done is None:
            self.record["user_restores"] += 1
            self.note("user restore: " + ", ".join(leftovers()))
            result = restore()
            if result.returncode != 0:
                self.note("restore said: " + result.stderr.strip())
            wait(lambda: not leftovers(), 10)

    def execute(self, save):
        r = self.rng
        app = App()
        instant = r.uniform(-0.4, 4.0)  # negative: while setup runs
        setup = subprocess.Popen([EXE, "--setup", str(app.process.pid), "600", app.heartbeat,
                                  app.stop_file], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                 text=True)
        started = now()
        if instant >= 0:
            out, err = setup.communicate(timeout=60)
            if setup.returncode != 0 or out.strip() != "READY":
                self.failure(f"setup failed: {err.strip()}")
            if wait(lambda: bool(locks()), 15) is None:
                self.failure("the watcher took no lock")
            time.sleep(instant)
        else:
            time.sleep(-instant)
        self.note(f"at {instant:+.2f} s")
        fault = now()
        kind = self.kind
        if kind == "app-kill":
            app.kill()
            gone = wait(lambda: not locks(), 15)
            self.record["sleep_back"] = gone
            done = wait(lambda: not leftovers(), 15)
            self.record["measure"] = None if done is None else now() - fault
        elif kind == "watcher-kill":
            pid = watcher_pid()
            if pid:
                os.kill(pid, signal.SIGKILL)
            self.record["sleep_back"] = wait(lambda: not locks(), 5)
            back = wait(lambda: watcher_pid() not in (None, pid) and bool(locks()), 12)
            if back is not None:
                self.record["measure"] = now() - fault  # the new watcher holds the lock
            self.settle(app, 20)
        elif kind == "unit-stop":
            sh("systemctl", "stop", UNIT)
            self.record["sleep_back"] = wait(lambda: not locks(), 10)
            self.record["measure"] = self.record["sleep_back"]
            if wait(lambda: watcher_pid() is not None, 7, step=0.5) is not None:
                self.failure("the watcher came back after the unit was stopped")
            self.settle(app, 5)
        elif kind == "logind-restart":
            sh("systemctl", "restart", "systemd-logind")
            wait(lambda: locks() is not None, 20)
            survived = bool(locks())
            self.note("lock kept" if survived else "lock not listed after the restart")
            stop = now()
            self.settle(app, 20)
            self.record["measure"] = now() - stop
        elif kind == "reset":
            self.record["reset_at"] = time.time()
            self.record["pending"] = True
            app_pid = app.process.pid
            save(self.record)
            os.sync()
            open(os.path.join(OUT, "RESET-REQUESTED"), "w").close()
            os.sync()
            time.sleep(600)
            raise RuntimeError(f"no reset came (app {app_pid})")
        if setup.poll() is None:
            setup.communicate(timeout=60)
        app.kill()
        self.final_check()
        self.record["seconds"] = now() - started

    def final_check(self):
        time.sleep(0.3)
        left = leftovers()
        if left:
            self.failure("left: " + ", ".join(left))


def after_reset(record):
    """The reset run's verdict, at the next boot: everything clear without anyone's help
    (vesperon-recover.service clears the files)."""
    done = wait(lambda: not leftovers(), 30)
    record["measure"] = None if done is None else time.time() - record["reset_at"]
    if done is None:
        record["failures"].append("left after boot: " + ", ".join(leftovers()))
    ran = sh("systemctl", "show", "-p", "ExecMainStatus", "-p", "ExecMainStartTimestampMonotonic",
             "--value", "vesperon-recover.service").stdout.split()
    record["notes"].append("recover ran" if len(ran) == 2 and ran[1] != "0" else
                           "recover did not run")
    record.pop("pending", None)


def percentile(values, p):
    ordered = sorted(values)
    if not ordered:
        return None
    k = (len(ordered) - 1) * p
    lo, hi = int(k), min(int(k) + 1, len(ordered) - 1)
    return ordered[lo] + (ordered[hi] - ordered[lo]) * (k - lo)


def report(state):
    runs = state["runs"]
    fmt = (lambda v: "–" if v is None else f"{v:.2f}")
    lines = ["# Fault campaign on the virtual machine", "",
             f"Command: `tests/vm/run --campaign {state['total']} --seed {state['seed']}`", "",
             f"{len(runs)} runs over {state['boots']} boots, "
             f"{sum(1 for r in runs if not r['failures'])} kept the promise "
             "(no Vesperon lock, no unit, no files, no stray process).", "",
             "Seconds from the instant under *from* (Debian's systemd, logind and polkit; "
             "setup as root; faults from setup's start to 4 s into the session).", "",
             "| fault | runs | passed | user restores | from | median | p95 | max | lock gone p95 |",
             "|---|---|---|---|---|---|---|---|---|"]
    for kind, (_, source) in KINDS.items():
        mine = [r for r in runs if r["kind"] == kind]
        if not mine:
            continue
        measured = [r["measure"] for r in mine if r["measure"] is not None]
        back = [r["sleep_back"] for r in mine if r["sleep_back"] is not None]
        lines.append(f"| {kind} | {len(mine)} | {sum(1 for r in mine if not r['failures'])} | "
                     f"{sum(r['user_restores'] for r in mine)} | {source} | "
                     f"{fmt(statistics.median(measured) if measured else None)} | "
                     f"{fmt(percentile(measured, 0.95))} | {fmt(max(measured) if measured else None)} | "
                     f"{fmt(percentile(back, 0.95))} |")
    lines += ["", "Faults: " + "; ".join(f"*{k}*: {v[0]}" for k, v in KINDS.items()) + ".", ""]
    failed = [r for r in runs if r["failures"]]
    if failed:
        lines += ["## Runs that broke the promise", ""]
        lines += [f"- run {r['index']} ({r['kind']}): " + "; ".join(r["failures"]) + " — " +
                  "; ".join(r["notes"]) for r in failed]
        lines.append("")
    helped = [r for r in runs if r["user_restores"]]
    if helped:
        lines += ["## Runs where the user's Restore was needed", ""]
        lines += [f"- run {r['index']} ({r['kind']}): " + "; ".join(r["notes"]) for r in helped]
        lines.append("")
    return "\n".join(lines)


def main():
    os.makedirs(DIR, exist_ok=True)
    conf = dict(line.split("=", 1) for line in open("/mnt/host/campaign.conf").read().split())
    total, seed = int(conf["RUNS"]), int(conf["SEED"])
    state = {"total": total, "seed": seed, "runs": [], "boots": 0}
    if os.path.exists(STATE_FILE):
        state = json.load(open(STATE_FILE))
    state["boots"] += 1

    def save(current=None):
        data = dict(state)
        if current is not None:
            data["runs"] = state["runs"] + [current]
        with open(STATE_FILE + ".tmp", "w") as f:
            json.dump(data, f)
        os.replace(STATE_FILE + ".tmp", STATE_FILE)

    if state["runs"] and state["runs"][-1].get("pending"):
        record = state["runs"][-1]
        after_reset(record)
        print(f"run {record['index']:3d} reset          "
              f"{'ok' if not record['failures'] else 'FAILED ' + '; '.join(record['failures'])}",
              flush=True)
        save()
    while len(state["runs"]) < total:
        run = Run(seed, len(state["runs"]))
        try:
            run.execute(save)
        except Exception as error:  # a broken run is a failed run, with its reason
            run.failure(f"{type(error).__name__}: {error}")
            sh(EXE, "--restore")
        rec = run.record
        state["runs"].append(rec)
        save()
        m = "–" if rec["measure"] is None else f"{rec['measure']:.2f} s"
        print(f"run {rec['index']:3d} {rec['kind']:15s} {m:>8s} "
              f"{'ok' if not rec['failures'] else 'FAILED ' + '; '.join(rec['failures'])} "
              f"({'; '.join(rec['notes'])})", flush=True)
    text = report(state)
    with open(os.path.join(DIR, "report.md"), "w") as f:
        f.write(text + "\n")
    return 1 if any(r["failures"] for r in state["runs"]) else 0


if __name__ == "__main__":
    sys.exit(main())
