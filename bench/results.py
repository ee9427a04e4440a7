"""Every run's raw results as data: a dated folder (bench/results/<date>-<kind>/results.json)
holding the command line, the commit, the machine and its load beside the figures; the
tables are rendered from those files (bench/run report DIR), never kept as text alone. Also
the few helpers the tables share."""

import datetime
import json
import os
import platform
import subprocess
import sys
import time

from bench import readings

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDER = os.path.join(ROOT, "bench", "results")
FILE = "results.json"


def git(*argv):
    result = subprocess.run(["git", "-C", ROOT] + list(argv), capture_output=True, text=True)
    return result.stdout.strip() if result.returncode == 0 else ""


def begin(kind, argv):
    """The record of a run of this kind starting now: what made it and on what."""
    try:
        with open("/proc/cpuinfo") as f:
            model = next((line.split(":", 1)[1].strip() for line in f
                          if line.startswith("model name")), "")
    except OSError:
        model = ""
    changed = git("status", "--porcelain", "--untracked-files=no", "--", ".", ":!bench/results")
    return {"kind": kind, "command": " ".join(["bench/run"] + list(argv)),
            "date": datetime.datetime.now().astimezone().isoformat(timespec="seconds"),
            "commit": git("rev-parse", "--short=12", "HEAD") + ("+changes" if changed else ""),
            "machine": {"processors": os.cpu_count(), "kernel": platform.release(),
                        "cpu": model, "sched_autogroup_enabled": readings.autogroup()},
            "load": {"before": readings.load_average()},
            "_began": time.monotonic(), "_ticks": readings.machine_ticks()}


def finish(record, data, parent=None):
    """Adds the load while it ran and the figures (data) to the record and writes it into a new
    dated folder under parent (default bench/results); the folder's path."""
    busy, total = (a - b for a, b in zip(readings.machine_ticks(), record.pop("_ticks")))
    record["seconds"] = round(time.monotonic() - record.pop("_began"), 1)
    record["load"].update(after=readings.load_average(),
                          machine_busy=round(busy / total, 3) if total else None)
    record["data"] = data
    parent = parent or FOLDER
    base = os.path.join(parent, "%s-%s" % (record["date"][:10], record["kind"]))
    folder, number = base, 1
    while os.path.exists(folder):
        number += 1
        folder = "%s-%d" % (base, number)
    os.makedirs(folder)
    with open(os.path.join(folder, FILE), "w") as f:
        json.dump(record, f, indent=1)
        f.write("\n")
    print("bench: results in " + os.path.relpath(folder), file=sys.stderr, flush=True)
    return folder


def load(folder):
    with open(os.path.join(folder, FILE) if os.path.isdir(folder) else folder) as f:
        return json.load(f)


def heading(record, folder):
    """The line that heads a table: the command, date and commit that made it, where its data
    is, and the machine's load while it ran."""
    load = record["load"]
    busy = load.get("machine_busy")
    return ("`%s`, %s, commit %s; data: `%s`. %d processors, kernel %s; load average %.2f "
            "before, %.2f after%s; %.0f s." % (
                record["command"], record["date"][:10], record["commit"],
                os.path.relpath(folder, ROOT), record["machine"]["processors"],
                record["machine"]["kernel"], load["before"], load["after"],
                "" if busy is None else ", the processors %.0f %% busy meanwhile" % (100 * busy),
                record["seconds"]))


def table(header, rows):
    """A Markdown table, as lines."""
    lines = ["| " + " | ".join(header) + " |", "|" + "|".join(["---"] * len(header)) + "|"]
    return lines + ["| " + " | ".join(cells) + " |" for cells in rows]


def fmt(value, digits=1):
    if value is None:
        return "n/a"
    return "{:,.{}f}".format(value, digits)


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return a / b


def times_text(value):
    return "n/a" if value is None else "%.2fx" % value


def verdict(value, holds):
    if value is None:
        return "n/a"
    return "yes" if holds(value) else "**no**"
