"""The whole-program run: the micro-benchmarks, throughput and instructions without a clock
(ALSA's null device), start-up, ESC and the status line's punctuality on a pseudo-terminal at
8000 Hz, and the runs under load (load.py) through each server."""

import json
import os
import statistics
import subprocess
import time

from bench import callgrind, load, processes, results, servers, status
from bench.results import fmt, ratio, times_text, verdict

THROUGHPUT_ROUNDS = 3        # wire and dsphost alternately, median of each
THROUGHPUT_SECONDS = 5.0
START_ESC_RUNS = 7
ESC_BUSY = 2                 # busy processes beside the second set of ESC runs
PUNCTUALITY_SECONDS = 20.0


def micro(path):
    processes.say("micro-benchmarks")
    result = processes.run_checked(
        [path, "--benchmark_format=json", "--benchmark_min_time=0.3",
         "--benchmark_repetitions=3", "--benchmark_report_aggregates_only=true"],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    if result is None:
        return {}
    return {entry["run_name"]: entry["cpu_time"] for entry in json.loads(result.stdout)["benchmarks"]
            if entry.get("aggregate_name") == "median"}


def throughput(programs, env):
    """Per program and round: samples a second, VmRSS (KiB) after 2 s, and the CPU seconds of
    the main thread and of the audio thread (the busiest other one) over a run."""
    runs = {"dsphost": [], "wire": []}
    for round_number in range(THROUGHPUT_ROUNDS):
        processes.say("throughput, round %d of %d" % (round_number + 1, THROUGHPUT_ROUNDS))
        for name, rate in (("wire", status.wire_rate), ("dsphost", status.dsphost_rate)):
            out, kib, used = processes.run_piped([programs[name]], env, THROUGHPUT_SECONDS)
            runs[name].append({"rate": rate(out), "rss_kib": kib,
                               "cpu": list(used[:2]) if used else None})
    return runs


def start_and_escape(programs, env):
    """Start to the first line (dsphost: the status line; wire: "wire started") and ESC to
    exit, ms, and the exit statuses, START_ESC_RUNS runs of each program."""
    figures = {}
    for name in ("dsphost", "wire"):
        first = status.FIRST_LINE[name]
        runs = figures[name] = {"first_line": [], "escape": [], "statuses": []}
        for run in range(START_ESC_RUNS):
            processes.say("start and ESC, %s run %d of %d" % (name, run + 1, START_ESC_RUNS))
            session = processes.PtyRun([programs[name]], env)
            try:
                for line, (arrived, _) in session.lines(session.started + 10.0):
                    if first in line:
                        runs["first_line"].append((arrived - session.started) * 1000.0)
                        break
                time.sleep(0.3)
                ms, code = session.escape_to_exit_ms()
                if ms is not None:
                    runs["escape"].append(ms)
                runs["statuses"].append(code)
            finally:
                session.close()
    return figures


def punctuality(programs, env):
    """How long after the wall-clock second each status line is complete on the terminal,
    in ms, for the lines printed on a change of the second."""
    processes.say("punctuality, %d s" % PUNCTUALITY_SECONDS)
    session = processes.PtyRun([programs["dsphost"]], env)
    delays = []
    try:
        first = True
        for line, (_, wall) in session.lines(session.started + PUNCTUALITY_SECONDS + 0.5):
            parsed = status.parse(line)
            if not parsed:
                continue
            if first:  # printed at start-up, not on a change of the second
                first = False
                continue
            delays.append(status.late_ms(parsed[0], wall))
    finally:
        session.close()
    return delays


def measure(programs, server_names, cache, work, load_seconds, loads, load_rounds):
    """Everything; the data for report, or None if a server did not start."""
    null_env = servers.client_env(servers.alsa_config(work, "{ type null }"))
    data = {"micro": micro(programs["micro"]), "throughput": throughput(programs, null_env),
            "instructions": callgrind.instructions(programs, programs["micro"], null_env, work)}

    def on_a_terminal(env):
        data["terminal"] = start_and_escape(programs, env)
        hogs = processes.busy_processes(ESC_BUSY)
        try:
            data["terminal_busy"] = start_and_escape(programs, env)
        finally:
            processes.end_busy(hogs)
        data["punctuality"] = punctuality(programs, env)

    data["load"] = load.measure(programs, server_names, cache, work, load_seconds, loads,
                                load_rounds, also=on_a_terminal)
    return data if data["load"] else None


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def report(data):
    rows = []
    times = data["micro"]
    for name, label, what in (
            ("audio_callback", "micro: `audio_callback`, pass-through, ns",
             "conversions + effect call"),
            ("idle_pass", "micro: idle monitor pass (pty), ns",
             "read on the pty + time + localtime_r"),
            ("cpu_field", 'micro: CPU figure through "##.##", ns', 'snprintf("%5.2f")')):
        value, base = times.get(name), times.get(name + "_floor")
        rows.append([label, fmt(value), fmt(base) + " (" + what + ")",
                     times_text(ratio(value, base)), "-", "-"])

    runs = data["throughput"]
    rate = {n: median(r["rate"] for r in runs[n]) for n in runs}
    rss = {n: median(r["rss_kib"] for r in runs[n]) for n in runs}
    cpu = {n: [median(r["cpu"][k] for r in runs[n] if r["cpu"]) for k in (0, 1)] for n in runs}
    r = ratio(rate["dsphost"], rate["wire"])
    rows.append(["throughput, samples/s, unpaced (median of %d)" % len(runs["dsphost"]),
                 fmt(rate["dsphost"], 0), fmt(rate["wire"], 0), times_text(r), ">= 0.95x",
                 verdict(r, lambda v: v >= 0.95)])
    rows.append(["CPU s in %.0f s unpaced: audio thread" % THROUGHPUT_SECONDS,
                 fmt(cpu["dsphost"][1], 2), fmt(cpu["wire"][1], 2),
                 times_text(ratio(cpu["dsphost"][1], cpu["wire"][1])), "-", "-"])
    rows.append(["CPU s in %.0f s unpaced: main thread" % THROUGHPUT_SECONDS,
                 fmt(cpu["dsphost"][0], 2), fmt(cpu["wire"][0], 2), "-", "-", "-"])

    counts = data["instructions"]
    per_sample, in_callback, sampled = {}, {}, {}
    for name in ("dsphost", "wire"):
        total, calls, inclusive = counts.get(name) or (None, 0, None)
        sampled[name] = calls
        if calls:
            per_sample[name] = total / calls
            in_callback[name] = inclusive / calls if inclusive is not None else None
    r = ratio(per_sample.get("dsphost"), per_sample.get("wire"))
    rows.append(["instructions/sample, audio thread (callgrind, %s and %s samples)"
                 % (fmt(sampled["dsphost"], 0), fmt(sampled["wire"], 0)),
                 fmt(per_sample.get("dsphost")), fmt(per_sample.get("wire")), times_text(r),
                 "<= 1.1x", verdict(r, lambda v: v <= 1.1)])
    rows.append(["instructions/sample, inside the callback", fmt(in_callback.get("dsphost")),
                 fmt(in_callback.get("wire")),
                 times_text(ratio(in_callback.get("dsphost"), in_callback.get("wire"))), "-", "-"])
    per_call = {name: counts[name][2] / counts[name][1] for name in ("micro", "micro floor")
                if counts.get(name) and counts[name][2] is not None}
    rows.append(["instructions/call, `audio_callback` (micro-benchmark)",
                 fmt(per_call.get("micro")),
                 fmt(per_call.get("micro floor")) + " (conversions + effect call)",
                 times_text(ratio(per_call.get("micro"), per_call.get("micro floor"))), "-", "-"])

    extra = (None if rss["dsphost"] is None or rss["wire"] is None
             else (rss["dsphost"] - rss["wire"]) / 1024.0)
    rows.append(["VmRSS after 2 s, MiB", fmt(rss["dsphost"] and rss["dsphost"] / 1024.0),
                 fmt(rss["wire"] and rss["wire"] / 1024.0),
                 ("%+.1f MiB" % extra) if extra is not None else "n/a", "<= wire + 2 MiB",
                 verdict(extra, lambda v: v <= 2.0)])

    host, wire = data["terminal"]["dsphost"], data["terminal"]["wire"]
    first, wire_first = median(host["first_line"]), median(wire["first_line"])
    rows.append(["start to first status line, ms (median of %d)" % len(host["first_line"]),
                 fmt(first), fmt(wire_first) + " (to stream started)",
                 times_text(ratio(first, wire_first)), "-", "-"])
    escape = median(host["escape"])
    worst = max(host["escape"]) if host["escape"] else None
    rows.append(["lone ESC to process end, ms (median of %d)" % len(host["escape"]), fmt(escape),
                 fmt(median(wire["escape"])), "-", "<= 50 ms", verdict(escape, lambda v: v <= 50)])
    rows.append(["lone ESC to process end, ms (worst)", fmt(worst),
                 fmt(max(wire["escape"]) if wire["escape"] else None), "-", "<= 50 ms",
                 verdict(worst, lambda v: v <= 50.0)])
    busy = data["terminal_busy"]
    busy_escape = median(busy["dsphost"]["escape"])
    excess = None if busy_escape is None or escape is None else busy_escape - escape
    rows.append(["lone ESC to process end beside %d busy processes, ms (median of %d)"
                 % (ESC_BUSY, len(busy["dsphost"]["escape"])), fmt(busy_escape),
                 fmt(median(busy["wire"]["escape"])), "-", "<= quiet + 10 ms",
                 verdict(excess, lambda v: v <= 10.0)])
    statuses = set(host["statuses"])
    if statuses - {0}:
        rows.append(["exit status after ESC", ", ".join(map(str, sorted(statuses, key=str))),
                     "-", "-", "0", "**no**"])
    delays = data["punctuality"]
    rows.append(["status line after the second, ms (median of %d)" % len(delays),
                 fmt(median(delays), 2), "-", "-", "<= 5 ms",
                 verdict(median(delays), lambda v: v <= 5.0)])
    rows.append(["status line after the second, ms (worst)",
                 fmt(max(delays) if delays else None, 2), "-", "-", "<= 5 ms",
                 verdict(max(delays) if delays else None, lambda v: v <= 5.0)])

    header = ("measure", "dsphost", "baseline (wire unless named)", "ratio", "target", "holds")
    pace = next(iter(data["load"]["paces"].values()))
    return (results.table(header, rows) + ["", "Runs on a pseudo-terminal: %s." % pace, ""]
            + load.report(data["load"]))
