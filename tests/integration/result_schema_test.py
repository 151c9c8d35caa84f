#!/usr/bin/python3
"""The result records orvane-update-cli writes, of every kind, against docs/result.schema.json.

Real runs against orvane-bootsim (and the built-in simulated receiver) make the records: a
single run that stalled, completed on its second try, met an unknown identifier or was stopped
by SIGINT; station mode with a receiver that completed, a port that is no device and a receiver
whose updater process was killed; and station mode with --repeat (a line of receivers on each
of two ports). Every file they write must match the schema, which admits no undocumented field,
and keep the updater's key order. Then a few changed copies of a real record must not match:
the schema's strictness is what makes it worth checking against.

Usage: result_schema_test.py CLI BOOTSIM SCHEMA
"""

import copy
import json
import os
import select
import shutil
import resource
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

try:
    import jsonschema
except ImportError:
    print("error: python3-jsonschema is not installed (scripts/setup installs it)")
    sys.exit(1)

CLI, BOOTSIM, SCHEMA = sys.argv[1:4]
WORK = Path(tempfile.mkdtemp(prefix="orvane-schema-"))
ENV = dict(os.environ, XDG_CONFIG_HOME=str(WORK / "config"))
failures = []
passed = 0


def check(condition, what):
    global passed
    if condition:
        passed += 1
    else:
        failures.append(what)
        print(f"FAIL: {what}", flush=True)


class Sim:
    """orvane-bootsim on a pseudo-terminal of its own; `port` is the path it prints."""

    def __init__(self, *args):
        self.process = subprocess.Popen([BOOTSIM, *args], env=ENV, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        ready, _, _ = select.select([self.process.stdout], [], [], 10)
        line = self.process.stdout.readline().strip() if ready else ""
        if not line.startswith("port: "):
            self.stop()
            raise RuntimeError(f"orvane-bootsim {' '.join(args)} printed {line!r}")
        self.port = line[len("port: "):]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(10)


def run_cli(*args, timeout=300, preexec_fn=None):
    return subprocess.run([CLI, *args], env=ENV, stdin=subprocess.DEVNULL, capture_output=True,
                          text=True, timeout=timeout, preexec_fn=preexec_fn)


def small_disk():
    """In the child: no file beyond 4 KiB, as on a full disk (a write past it fails)."""
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))


def read_until(process, text, count, seconds):
    """Standard output of a running process until `text` has been seen `count` times."""
    seen = ""
    end = time.monotonic() + seconds
    while seen.count(text) < count and time.monotonic() < end:
        ready, _, _ = select.select([process.stdout], [], [], 0.5)
        if ready:
            chunk = os.read(process.stdout.fileno(), 4096).decode(errors="replace")
            if not chunk:
                break
            seen += chunk
    return seen


def each_record(document):
    """Every receiver record of a document, each followed by its tries."""
    if isinstance(document, dict) and "receivers" in document:
        document = document["receivers"]
    for record in document if isinstance(document, list) else [document]:
        yield record
        yield from record.get("tries", [])


def results(document):
    """The "result" of every record in a document, tries included, in order."""
    return [record.get("result") for record in each_record(document)]


# Every file written: (what made it, path, the results its records must hold in order).
documents = []

# A single run: a stall on the first try (the receiver drops the 10th acknowledgement once),
# then a complete second try; the record keeps both.
sim = Sim("--id", "K64E", "--drop-ack", "10")
run = run_cli("--port", sim.port, "--stall-timeout", "2", "--retries", "1", "--timeout", "120",
              "--no-progress", "--result-json", str(WORK / "retried.json"))
sim.stop()
check(run.returncode == 0, f"retried run: exit code {run.returncode}: {run.stderr}")
documents.append(("retried run", WORK / "retried.json",
                  ["complete", "transfer stopped", "complete"]))

# A single run that stalls for good.
sim = Sim("--id", "K64E", "--drop-ack", "10")
run = run_cli("--port", sim.port, "--stall-timeout", "2", "--timeout", "120", "--no-progress",
              "--result-json", str(WORK / "stalled.json"))
sim.stop()
check(run.returncode == 6, f"stalled run: exit code {run.returncode}: {run.stderr}")
documents.append(("stalled run", WORK / "stalled.json", ["transfer stopped"]))

# A receiver the catalogue does not know (the built-in simulated receiver).
run = run_cli("--simulate", "ZZZZ", "--timeout", "20", "--no-progress", "--result-json",
              str(WORK / "unknown.json"))
check(run.returncode == 2, f"unknown identifier: exit code {run.returncode}: {run.stderr}")
documents.append(("unknown identifier", WORK / "unknown.json", ["unknown identifier"]))

# A complete run whose trace ran out of room: the record says why the trace ends.
run = run_cli("--simulate", "K64E", "--timeout", "60", "--no-progress", "--trace",
              str(WORK / "full.trace"), "--result-json", str(WORK / "trace-full.json"),
              preexec_fn=small_disk)
check(run.returncode == 0, f"trace on a full disk: exit code {run.returncode}: {run.stderr}")
documents.append(("trace on a full disk", WORK / "trace-full.json", ["complete"]))

# SIGINT while waiting for a device that never comes.
cli = subprocess.Popen([CLI, "--port", str(WORK / "absent"), "--wait", "--no-progress",
                        "--result-json", str(WORK / "interrupted.json")],
                       env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT)
said = read_until(cli, "absent", 1, 20)
cli.send_signal(signal.SIGINT)
code = cli.wait(20)
check(code == 130, f"interrupted run: exit code {code}: {said}")
documents.append(("interrupted run", WORK / "interrupted.json", ["interrupted"]))

# Station mode: one receiver completes, one port is no device, and the updater process of a
# slow third receiver is killed mid-transfer: the station keeps what it saw of that one.
reports = WORK / "station"
sims = [Sim("--id", "K37E"), Sim("--id", "K64E", "--ack-delay", "100")]
cli = subprocess.Popen([CLI, "--port", sims[0].port, "--port", str(WORK / "no-such-device"),
                        "--port", sims[1].port, "--timeout", "120", "--report-dir", str(reports),
                        "--result-json", str(WORK / "station.json")],
                       env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT)


def children_on(parent, port):
    """The updater processes a station started (from any of its threads) for a port."""
    found = []
    try:
        for task in Path(f"/proc/{parent}/task").iterdir():
            for child in (task / "children").read_text().split():
                if port.encode() + b"\0" in Path(f"/proc/{child}/cmdline").read_bytes():
                    found.append(int(child))
    except OSError:  # a thread or a child that has just ended
        pass
    return found


# Once the first receiver's process has ended (complete), the slow one's is killed.
end = time.monotonic() + 60
while time.monotonic() < end and (children_on(cli.pid, sims[0].port)
                                  or not children_on(cli.pid, sims[1].port)):
    time.sleep(0.1)
for child in children_on(cli.pid, sims[1].port):
    os.kill(child, signal.SIGKILL)
code = cli.wait(60)
for s in sims:
    s.stop()
check(code == 1, f"station: exit code {code}")
documents.append(("station's result", WORK / "station.json",
                  ["complete", "link failed", "failed"]))
for name in sorted(os.listdir(reports)) if reports.is_dir() else []:
    documents.append((f"station's report {name}", reports / name, None))
check(reports.is_dir() and len(os.listdir(reports)) == 3, "station: three reports")

# Station mode with --repeat: a line of receivers on each of two ports, one receiver each,
# then SIGINT while both wait for the next.
lines = WORK / "lines"
links = [WORK / "lineA", WORK / "lineB"]
cli = subprocess.Popen([CLI, "--port", str(links[0]), "--port", str(links[1]), "--repeat",
                        "--wait", "--timeout", "120", "--report-dir", str(lines),
                        "--result-json", str(WORK / "lines.json")],
                       env=ENV, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT)
time.sleep(0.5)
sims = [Sim("--id", "K64E", "--link", str(links[0]), "--exit-after-complete"),
        Sim("--id", "1636", "--link", str(links[1]), "--exit-after-complete")]
said = read_until(cli, "receiver 1: complete", 2, 120)
for s in sims:
    s.stop()
cli.send_signal(signal.SIGINT)
code = cli.wait(30)
check(code == 0, f"station --repeat: exit code {code}: {said}")
documents.append(("lines' result", WORK / "lines.json", ["complete", "complete"]))
for name in sorted(os.listdir(lines)) if lines.is_dir() else []:
    documents.append((f"line report {name}", lines / name, None))
check(lines.is_dir() and len(os.listdir(lines)) == 4, "station --repeat: four reports")

# Every document against the schema, and the outcomes it should hold.
schema = json.loads(Path(SCHEMA).read_text())
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema, format_checker=jsonschema.FormatChecker())
# The schema lists a record's fields in the order the updater writes them.
RECORD_ORDER = list(schema["$defs"]["record"]["properties"])


def problems(document):
    return [f"{'/'.join(map(str, e.absolute_path))}: {e.message}"
            for e in validator.iter_errors(document)]


retried = None
for what, path, expected in documents:
    try:
        document = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError) as e:
        check(False, f"{what}: {e}")
        continue
    found = problems(document)
    check(not found, f"{what} ({path.name}) does not match the schema: {found[:3]}")
    # People compare two records side by side: every copy keeps the updater's key order.
    for record in each_record(document):
        keys = [k for k in record if k in RECORD_ORDER]
        check(keys == sorted(keys, key=RECORD_ORDER.index),
              f"{what} ({path.name}): keys out of order: {list(record)}")
    if expected is not None:
        check(results(document) == expected,
              f"{what}: results {results(document)}, expected {expected}")
    if what == "retried run":
        retried = document

# A real record changed as a careless change of the program would: each must be refused.
if retried is None:
    check(False, "no record to change")
else:
    def changed(edit):
        r = copy.deepcopy(retried)
        edit(r)
        return r

    spoiled = {
        "a field the schema does not describe": lambda r: r.update(note="x"),
        "a field of an image it does not describe": lambda r: r["images"][0].update(file="G"),
        "a try holding tries of its own": lambda r: r["tries"][0].update(tries=[r["tries"][1]]),
        "an outcome that is not one": lambda r: r.update(result="completed"),
        "an outcome with another outcome's exit code": lambda r: r.update(exitCode=6),
        "a signal on a run that no signal stopped": lambda r: r.update(signal="SIGINT"),
        "a time without its zone": lambda r: r.update(startedAt=r["startedAt"][:-1]),
        "a required field missing": lambda r: r.pop("endedAt"),
        "a count of the wrong type": lambda r: r.update(blocks="448"),
    }
    for what, edit in spoiled.items():
        check(bool(problems(changed(edit))), f"the schema accepts {what}")

print(f"{passed} passed, {len(failures)} failed")
if failures:
    print(f"the records are kept in {WORK}")
else:
    shutil.rmtree(WORK, ignore_errors=True)
sys.exit(1 if failures else 0)
