"""Silence at start-up: with a silent input, every sample a program plays must be 0, from the
first on. Per route (PulseAudio and pipewire-pulse through ALSA's pulse plug-in, PipeWire
through its own ALSA plug-in) and start, the sink's monitor is recorded from before the
program starts until after it has ended, the program ended 0.5 s after its first line; every
sample of that recording that is not 0 was played by the program. Each program starts with
MALLOC_PERTURB_ unset and set (freed and new heap memory then holds that byte's pattern, so
that memory nobody wrote shows as noise rather than as heap history)."""

import os
import statistics
import subprocess
import time

from bench import latency, processes, results, servers, status

STARTS = 10
WINDOW = 0.5     # s from the first line to SIGTERM
PERTURB = (None, "85")
LABELS = {"dsphost": "dsphost", "dsphost-system": "dsphost, system PortAudio",
          "wire": "wire program"}


def portaudio_of(path):
    """Which PortAudio the program uses: the shared library it loads, or "linked in"."""
    linked = subprocess.run(["ldd", path], capture_output=True, text=True).stdout
    found = [line.split("=>")[-1].split("(")[0].strip() for line in linked.splitlines()
             if "libportaudio" in line]
    return found[0] if found else "linked in"


def wait_for_samples(path, process, seconds=5.0):
    """Until the recording at path holds more than its header and 50 ms of samples."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline and process.poll() is None:
        if os.path.exists(path) and os.path.getsize(path) > 44 + 800:
            return True
        time.sleep(0.02)
    return False


def start_once(program, name, route, perturb, recording):
    """One start of the program through the route: the figures of its recording."""
    position = processes.mark()
    recorder = processes.spawn(route["record"] + [recording], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, env=route["tools"])
    try:
        recording_ok = wait_for_samples(recording, recorder)
        env = dict(route["env"])
        env.pop("MALLOC_PERTURB_", None)
        if perturb:
            env["MALLOC_PERTURB_"] = perturb
        out, _, _ = processes.run_piped([program], env, WINDOW, ready=status.FIRST_LINE[name])
        time.sleep(0.5)  # what the server still holds reaches the monitor
    finally:
        processes.stop_since(position)
    heard = latency.read_wav(recording)
    os.unlink(recording)
    loud = [abs(v) for v in heard if v]
    return {"started": status.FIRST_LINE[name] in out, "recorded": len(heard) if recording_ok else 0,
            "not_silent": len(loud), "peak": max(loud, default=0)}


def measure(programs, routes, cache, work, starts):
    """Every program's starts on every route (one server per route), the programs and the
    settings of MALLOC_PERTURB_ in turn within each start. The data for report, or None if a
    server did not start."""
    names = [n for n in ("dsphost", "dsphost-system", "wire") if programs.get(n)]
    rows = []
    for route_name in routes:
        position = processes.mark()
        try:
            route = servers.start_route(route_name, os.path.join(work, route_name), cache)
            if route is None:
                return None
            found = {(n, p): [] for n in names for p in PERTURB}
            for start in range(starts):
                for perturb in PERTURB:
                    for name in names:
                        figures = start_once(programs[name], name, route, perturb,
                                             os.path.join(work, "start.wav"))
                        found[(name, perturb)].append(figures)
                        processes.say("silence: %s, %s, MALLOC_PERTURB_=%s, start %d of %d: %d "
                                      "samples not 0 of %d, peak %d"
                                      % (route_name, name, perturb or "", start + 1, starts,
                                         figures["not_silent"], figures["recorded"],
                                         figures["peak"]))
            rows += [{"route": route_name, "program": name, "perturb": perturb,
                      "starts": figures} for (name, perturb), figures in found.items()]
        finally:
            processes.stop_since(position)
    return {"window": WINDOW, "programs": {n: programs[n] for n in names},
            "portaudio": {n: portaudio_of(programs[n]) for n in names}, "rows": rows}


def cell(starts):
    """Starts not silent, the samples not 0 (min–max over the starts) and the loudest one."""
    counted = [s for s in starts if s["started"] and s["recorded"] >= 8000 * 0.5]
    if not counted:
        return "no recording"
    counts = [s["not_silent"] for s in counted]
    text = "%d of %d" % (sum(c > 0 for c in counts), len(counted))
    if max(counts):
        text += ": %d–%d (median %g), peak %s" % (min(counts), max(counts),
                                                  statistics.median(counts),
                                                  results.fmt(max(s["peak"] for s in counted), 0))
    return text


def report(data):
    header = ("route", "program", "starts not silent: samples not 0, per start; "
              "MALLOC_PERTURB_ unset", "MALLOC_PERTURB_=85")
    cells = {}
    for row in data["rows"]:
        cells.setdefault((row["route"], row["program"]), {})[row["perturb"]] = cell(row["starts"])
    names = {"pulse": "PulseAudio, pulse plug-in", "pipewire-pulse": "pipewire-pulse, pulse "
             "plug-in", "pipewire-alsa": "PipeWire, its ALSA plug-in"}
    rows = [[names[route], LABELS[name], found.get(None, "-"), found.get("85", "-")]
            for (route, name), found in cells.items()]
    return results.table(header, rows) + [
        "", "Silent input (the server's null source), the sink's monitor recorded at 8000 Hz "
        "from before the start until 0.5 s after the program has ended, the program ended "
        "(SIGTERM) %.1f s after its first line: every sample not 0 was played by the program "
        "at its start. A start counts when its line came and at least 0.5 s were recorded. "
        "Programs: %s." % (data["window"], "; ".join(
            "%s: `%s` (PortAudio: %s)" % (LABELS[n], path, data["portaudio"][n])
            for n, path in data["programs"].items()))]
