"""dsphost and the wire program at 8000 Hz beside busy processes, through each sound server
named: the samples of every full second, how late each status line comes, the CPU time."""

import os
import statistics

from bench import processes, results, servers, status
from bench.results import fmt, ratio

SECONDS = 20.0      # each program, at each load
BUSY = (0, 1, 2, 3)  # competing busy processes
ROUNDS = 2          # each load, each program


def load_run(programs, name, env, seconds):
    """One program's run with its output to a pipe: the samples of each full second, how late
    (ms) each line printed on a change of the second arrived, and the CPU seconds of the
    process."""
    arrivals = []
    out, _, cpu = processes.run_piped([programs[name]], env, seconds, ready=status.FIRST_LINE[name],
                                      arrivals=arrivals)
    if name == "dsphost":
        # The first status line comes at start-up, part-way through a second.
        timed = [(p, t) for p, t in zip(map(status.parse, out.splitlines()), arrivals) if p][1:]
        shown = [p[0] for p, _ in timed]
        totals = [p[1] for p, _ in timed]
        late = [status.late_ms(s, t) for s, (_, t) in zip(shown, timed)]
    else:
        # The wire program's lines carry no time: each belongs to the second it arrived in.
        timed = [(m, t) for m, t in zip(map(status.WIRE_TOTAL.search, out.splitlines()),
                                        arrivals) if m]
        shown = [int(t) for _, t in timed]
        totals = [int(m.group(1)) for m, _ in timed]
        late = [(t % 1.0) * 1000.0 for _, t in timed]
    if len(totals) < 2:
        processes.say("%s printed %d lines on a change of the second" % (name, len(totals)))
    return {"seconds": status.full_seconds(shown, totals), "late": late,
            "cpu": cpu[2] if cpu else None}


def under_load(programs, env, seconds, loads, rounds):
    """dsphost and wire beside each number of busy processes in loads; every load in every
    round, the programs one after the other beside the same busy processes, the first to run
    alternating. Returns {load: {program: [one load_run per round]}}."""
    processes.say("audio under load: %s busy processes, %.0f s each run, %d rounds"
                  % (", ".join(map(str, loads)), seconds, rounds))
    figures = {busy: {"dsphost": [], "wire": []} for busy in loads}
    for round_number in range(rounds):
        for step, busy in enumerate(loads):
            hogs = processes.busy_processes(busy)
            order = ("dsphost", "wire") if (round_number + step) % 2 == 0 else ("wire", "dsphost")
            try:
                for name in order:
                    processes.say("round %d, %d busy, %s" % (round_number + 1, busy, name))
                    figures[busy][name].append(load_run(programs, name, env, seconds))
            finally:
                processes.end_busy(hogs)
    return figures


def measure(programs, server_names, cache, work, seconds, loads, rounds, also=None):
    """The runs under load through each server (a folder of its own under work); also(env),
    if given, runs on the first server's after its load runs. The data for report, or None
    if a server did not start."""
    rows, paces = [], {}
    for server in server_names:
        position = processes.mark()
        try:
            started = servers.start_paced(server, os.path.join(work, server), cache)
            if started is None:
                return None
            env, paces[server] = started
            figures = under_load(programs, env, seconds, loads, rounds)
            rows += [dict(figures[busy], server=server, busy=busy) for busy in loads]
            if also and server == server_names[0]:
                also(env)
        finally:
            processes.stop_since(position)
    return {"paces": paces, "seconds": seconds, "rounds": rounds, "dsphost": programs["dsphost"],
            "rows": rows}


def within_one_percent(seconds):
    return bool(seconds) and all(abs(v - 8000) <= 80 for v in seconds)


def spread(values):
    if not values:
        return "n/a"
    return "%s / %s / %s" % (fmt(min(values), 0), fmt(statistics.mean(values), 0),
                             fmt(max(values), 0))


def report(data):
    """One row per server and load: for each program, the samples of its full seconds over
    all rounds, how many of those are off 8,000 by more than 1 %, how late its lines come and
    the CPU seconds of a run; and whether the targets hold: in each round where the wire
    program's seconds are all within 1 %, dsphost's are too; dsphost uses at most 1.5 times
    the wire program's CPU time; on a machine without busy processes its line comes at most
    2 ms after the second (median)."""
    header = ("server", "busy processes",
              "samples per full second, min / mean / max: dsphost", "wire",
              "seconds off by > 1 %: dsphost", "wire",
              "line after the second, ms, median / worst: dsphost", "wire",
              "CPU s per run: dsphost", "wire", "targets")
    rows = []
    for runs in data["rows"]:
        names = ("dsphost", "wire")
        seconds = {name: sum((r["seconds"] for r in runs[name]), []) for name in names}
        late = {name: sum((r["late"] for r in runs[name]), []) for name in names}
        used = {name: [r["cpu"] for r in runs[name] if r["cpu"] is not None] for name in names}
        cells = [runs["server"], str(runs["busy"]), spread(seconds["dsphost"]),
                 spread(seconds["wire"])]
        cells += ["%d of %d" % (sum(abs(v - 8000) > 80 for v in seconds[name]),
                                len(seconds[name])) for name in names]
        cells += ["%s / %s" % (fmt(statistics.median(late[name]), 2), fmt(max(late[name]), 2))
                  if late[name] else "n/a" for name in names]
        cpu = {name: statistics.mean(used[name]) if used[name] else None for name in names}
        cells += [fmt(cpu["dsphost"], 2), fmt(cpu["wire"], 2)]
        missed = []
        if any(within_one_percent(w["seconds"]) and not within_one_percent(h["seconds"])
               for h, w in zip(runs["dsphost"], runs["wire"])):
            missed.append("1 %")
        cpu_ratio = ratio(cpu["dsphost"], cpu["wire"])
        if cpu_ratio is not None and cpu_ratio > 1.5:
            missed.append("CPU")
        if runs["busy"] == 0 and late["dsphost"] and statistics.median(late["dsphost"]) > 2.0:
            missed.append("late")
        cells.append("**no**: " + ", ".join(missed) if missed else "yes")
        rows.append(cells)
    lines = results.table(header, rows)
    rounds = data["rounds"]
    lines += ["", "%s. Standard output to a pipe; each run %.0f s from the stream's start, %d "
              "round%s, dsphost and the wire program one after the other beside the same busy "
              "processes (`sh -c 'while :; do :; done'`, each in its own session). dsphost: %s."
              % ("; ".join("%s: %s" % item for item in data["paces"].items()), data["seconds"],
                 rounds, "" if rounds == 1 else "s", data["dsphost"]),
              "Targets missed: \"1 %\", a round in which the wire program's seconds were all "
              "within 1 % of 8,000 and dsphost's were not; \"CPU\", dsphost above 1.5 times the "
              "wire program's CPU time; \"late\", without busy processes, dsphost's line more "
              "than 2 ms after the second (median)."]
    return lines
