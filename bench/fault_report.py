"""The figures of a fault run taken from its status lines, and the fault table (faults.py makes
the runs)."""

import statistics

from bench import results, status
from bench.results import fmt

ROUTE_NAMES = {"pulse": "PulseAudio", "pipewire-alsa": "PipeWire, ALSA plug-in",
               "pipewire-pulse": "PipeWire, pipewire-pulse", "jack": "JACK, ALSA `jack` device"}
# What happens to the server, in the table's words.
FAULTS = {
    "healthy": "none (stop time)",
    "stalled-at-esc": "stalled at ESC",
    "term": "SIGTERM",
    "kill": "SIGKILL",
    "restart": "SIGTERM, again after 4 s",
    "stop": "SIGSTOP 5 s, SIGCONT",
}
BACK_MARGIN = 1.0  # s after a fault or a return before the counts are judged


def count_between(lines, start, end):
    """Samples a second over the status lines that arrived between the monotonic times start
    and end: (the last total - the first) / (their arrival times' difference); None with
    fewer than two lines."""
    inside = [(t, total) for t, _, total in lines if start <= t <= end]
    if len(inside) < 2 or inside[-1][0] <= inside[0][0]:
        return None
    return (inside[-1][1] - inside[0][1]) / (inside[-1][0] - inside[0][0])


def status_lines_of(figures, received, name):
    """The status lines up to ESC: whether every wall-clock second from the first to the last
    had one, the longest time between two, and the counts while the server was gone and after
    it came back."""
    lines = []  # (arrival, second of the day, total)
    for arrived, wall, text in received:
        if arrived > figures.get("typed", float("inf")):
            break
        if name == "dsphost":
            parsed = status.parse(text)
            if parsed:
                lines.append((arrived, parsed[0], parsed[1]))
        else:
            # The wire program's lines carry no time: each belongs to the second it came in.
            match = status.WIRE_TOTAL.search(text)
            if match:
                lines.append((arrived, status.second_of_day(wall), int(match.group(1))))
    figures["lines"] = len(lines)
    if len(lines) >= 2:
        shown = {second for _, second, _ in lines}
        span = (lines[-1][1] - lines[0][1]) % 86400
        figures["every_second"] = all((lines[0][1] + k) % 86400 in shown
                                      for k in range(span + 1))
        figures["longest_gap"] = max(b[0] - a[0] for a, b in zip(lines, lines[1:]))
    if "gone" in figures:
        start, end = figures["gone"]
        figures["rate_gone"] = count_between(lines, start, end)
        if figures["back"] is not None:
            figures["rate_back"] = count_between(lines, figures["back"] + BACK_MARGIN,
                                                 figures["typed"])
    if figures["fault"] in ("healthy", "stalled-at-esc"):
        figures["rate_before"] = count_between(lines, lines[0][0] if lines else 0.0,
                                               figures.get("typed", 0.0))


def row(route, fault, name, runs, heads):
    started = [r for r in runs if r.get("started")]
    ended = [r for r in started if r.get("esc_ms") is not None]
    early = [r for r in started if r.get("early")]
    hung = len(started) - len(ended) - len(early)
    times = [r["esc_ms"] for r in ended]
    statuses = sorted({r["status"] for r in ended})
    modes = [r.get("modes_back") for r in ended]
    every = [r["every_second"] for r in started if "every_second" in r]
    gaps = [r["longest_gap"] for r in started if "longest_gap" in r]
    gone = [r["rate_gone"] for r in started if r.get("rate_gone") is not None]
    back = [r["rate_back"] for r in started if r.get("rate_back") is not None]
    cpu = [r["cpu_gone"] for r in started if r.get("cpu_gone") is not None]
    worst_err = max(runs, key=lambda r: r.get("stderr_after_start", 0))
    if worst_err.get("stderr_after_start"):
        heads[(route, fault, name)] = worst_err["stderr_head"]
    return [ROUTE_NAMES[route], FAULTS[fault], name, str(len(runs))
            + ("" if len(started) == len(runs) else " (%d did not start)"
               % (len(runs) - len(started))),
            str(len(ended)) + ("" if not early else " (%d ended before ESC, status %s)"
                               % (len(early), ", ".join(str(r["status"]) for r in early))),
            "**%d**" % hung if hung else "0",
            "%s / %s" % (fmt(statistics.median(times), 0), fmt(max(times), 0))
            if times else "n/a",
            ", ".join(map(str, statuses)) or "-",
            "%s / %s" % (fmt(max(r.get("stderr_bytes", 0) for r in runs), 0),
                         fmt(max(r.get("stderr_after_start", 0) for r in runs), 0)),
            "%d of %d" % (sum(bool(m) for m in modes), len(modes)) if modes else "-",
            "%s (%s)" % ("yes" if every and all(every) else "**no**",
                         fmt(max(gaps), 2)) if gaps else "n/a",
            fmt(statistics.median(gone), 0) if gone else "-",
            "%s (%d of %d)" % (fmt(statistics.median(back), 0),
                               sum(v > 800 for v in back), len(back)) if back else "-",
            "%s / %s (%d of %d above 0.2)" % (fmt(statistics.median(cpu), 2), fmt(max(cpu), 2),
                                              sum(v > 0.2 for v in cpu), len(cpu))
            if cpu else "-"]


def report(data):
    header = ("server, route", "fault", "program", "runs", "ended by ESC", "hangs",
              "ESC to exit, ms, median / worst", "exit status",
              "stderr bytes, max: in all / after the first line",
              "terminal modes put back", "a line every second (longest gap, s)",
              "samples/s while gone, median", "samples/s once back, median (runs back)",
              "CPU while gone, cores, median / max")
    groups, heads = {}, {}
    for figures in data["runs"]:
        groups.setdefault((figures["route"], figures["fault"], figures["program"]),
                          []).append(figures)
    lines = results.table(header, [row(*key, runs, heads) for key, runs in groups.items()])
    s = data.get("settings") or {
        "fault_after": 4.0, "esc_after": (5.25, 8.85), "esc_back_less": 2.0,
        "hang_seconds": 10.0, "healthy_esc_after": 3.0, "stalled_esc_after": 0.2,
        "stall_seconds": 5.0}  # a file of --fault-json from before the settings were kept
    lines += ["", "Each run on a server of its own, on a pseudo-terminal, dsphost and the wire "
              "program in turn. The fault %.0f s after the first line, on every process of the "
              "server (PipeWire: pipewire, wireplumber and, on that route, pipewire-pulse); ESC "
              "%s s after it, in turn (after a restart or a stall: %s s after the server is "
              "back); a run that has not ended %.0f s after ESC counts as a hang and is killed. "
              "Stop time: ESC %.0f s after the first line; stalled at ESC: SIGSTOP, ESC %.1f s "
              "later, SIGCONT %.0f s after the SIGSTOP. \"While gone\": from %.1f s after the "
              "fault to ESC, the restart or the SIGCONT; \"once back\": from %.1f s after it to "
              "ESC, a run back when above 800 samples/s. dsphost: %s."
              % (s["fault_after"], "–".join(map(str, (s["esc_after"][0], s["esc_after"][-1]))),
                 "–".join("%.2f" % (v - s["esc_back_less"])
                          for v in (s["esc_after"][0], s["esc_after"][-1])),
                 s["hang_seconds"], s["healthy_esc_after"], s["stalled_esc_after"],
                 s["stall_seconds"], BACK_MARGIN, BACK_MARGIN, data["dsphost"])]
    if heads:
        lines += ["", "Standard error after the first line, the first line of the run with the "
                  "most:", ""]
        for (route, fault, name), head in heads.items():
            first = head.strip().splitlines()[0] if head.strip() else ""
            lines.append("- %s, %s, %s: `%s`" % (ROUTE_NAMES[route], FAULTS[fault], name,
                                                first[:160].replace("`", "'")))
    return lines


def old_file_heading(saved):
    """The heading of a file that --fault-json wrote before results were kept as folders."""
    return "%d processors, load average %s at the end; %.0f s in all." % (
        saved["processors"], saved["loadavg"], saved["seconds"])


