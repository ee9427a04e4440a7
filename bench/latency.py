"""The round trip from input to output through each sound server: the program's input is the
default sink's monitor, so a click played into the sink is heard again one pass through the
program later; at the server's default and at each setting a user can make, beside 0 and 2
busy processes."""

import array
import os
import statistics
import subprocess
import wave

from bench import load, processes, results, servers

SECONDS = 10.0  # each program, at each setting and load
BUSY = (0, 2)
ROUNDS = 2
# What a user can set, per server, tried for the round trips besides the default: "NAME=value"
# is a variable of the program's environment, anything else an option of the default ALSA
# device (as ~/.asoundrc would give it); a setting may join several with ", ".
SETTINGS = {
    "pulse": ("PULSE_LATENCY_MSEC=100", "PULSE_LATENCY_MSEC=40", "PULSE_LATENCY_MSEC=20",
              "PULSE_LATENCY_MSEC=10"),
    "pipewire-pulse": ("PULSE_LATENCY_MSEC=100", "PULSE_LATENCY_MSEC=40",
                       "PULSE_LATENCY_MSEC=20", "PULSE_LATENCY_MSEC=10"),
    "pipewire-alsa": ("PIPEWIRE_LATENCY=256/8000", "PIPEWIRE_LATENCY=16/8000", "buffer_bytes 512",
                      "buffer_bytes 256", "buffer_bytes 256, PIPEWIRE_LATENCY=16/8000",
                      "buffer_bytes 256, PIPEWIRE_LATENCY=8/8000"),
}


def write_wav(path, samples):
    with wave.open(path, "wb") as f:
        f.setnchannels(1)
        f.setsampwidth(2)
        f.setframerate(8000)
        f.writeframes(array.array("h", samples).tobytes())


def read_wav(path):
    samples = array.array("h")
    try:
        with wave.open(path) as f:
            samples.frombytes(f.readframes(f.getnframes()))
    except (OSError, EOFError, wave.Error):
        pass
    return samples


def round_trips(heard):
    """The samples from each click to its first echo in the recording of the monitor. Clicks
    are peaks of at least 70 % of the loudest after the first second (the program's start-up
    has died away by then), echoes the next peak of at least 15 %, within 0.75 s."""
    if len(heard) <= 8000:
        return []
    top = max(map(abs, heard[8000:]))
    peaks = []
    for i, v in enumerate(heard):
        if top and abs(v) >= 0.15 * top:
            if peaks and i - peaks[-1] < 40:  # the same peak (resampled, it rings)
                if abs(v) > abs(heard[peaks[-1]]):
                    peaks[-1] = i
            else:
                peaks.append(i)
    return [b - a for a, b in zip(peaks, peaks[1:])
            if a >= 8000 and abs(heard[a]) >= 0.7 * top and b - a < 6000]


def loop_run(programs, name, route, env, seconds, directory):
    """One program's run in the loop, with a click played into the sink every second from
    1.5 s on: load_run's figures and the round trips of the clicks, in samples."""
    feed, heard = os.path.join(directory, "clicks.wav"), os.path.join(directory, "heard.wav")
    clicks = [0] * int((seconds + 3) * 8000)
    for k in range(12000, len(clicks), 8000):
        clicks[k] = 20000
    write_wav(feed, clicks)
    position = processes.mark()
    for argv in (route["record"] + [heard], route["play"] + [feed]):
        processes.spawn(argv, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, env=route["tools"])
    try:
        figures = load.load_run(programs, name, env, seconds)
    finally:
        processes.stop_since(position)
    figures["round trips"] = round_trips(read_wav(heard))
    return figures


def measure(programs, server_names, cache, work, seconds, loads, rounds, settings):
    """Round trips of dsphost and the wire program through each server, at its default and
    at each of its settings (settings: {server: (setting, ...)}), beside each number of busy
    processes in loads; each round goes through all of a server's settings. The data for
    report, or None if a server did not start."""
    rows = {}
    for server in server_names:
        position = processes.mark()
        try:
            route = servers.start_route(server, os.path.join(work, server), cache, loop=True)
            if route is None:
                return None
            for round_number, setting, busy in (
                    (r, s, b) for r in range(rounds)
                    for s in (None,) + tuple(settings.get(server, ())) for b in loads):
                processes.say("round trip, round %d: %s, %s, %d busy"
                              % (round_number + 1, server, setting or "default", busy))
                row = rows.setdefault((server, setting or "default", busy),
                                      {"server": server, "setting": setting or "default",
                                       "busy": busy, "dsphost": [], "wire": [], "load": []})
                env = servers.route_setting(route, setting)
                hogs = processes.busy_processes(busy)
                try:
                    for name in ("dsphost", "wire"):
                        row[name].append(loop_run(programs, name, route, env, seconds, work))
                finally:
                    processes.end_busy(hogs)
                with open("/proc/loadavg") as f:
                    row["load"].append(float(f.read().split()[0]))
        finally:
            processes.stop_since(position)
    return {"seconds": seconds, "rounds": rounds, "rows": list(rows.values())}


def trip(runs):
    values = sum((run["round trips"] for run in runs), [])
    if not values:
        return "none heard"
    return "%.1f (%.1f–%.1f)" % (statistics.median(values) / 8.0, min(values) / 8.0,
                                 max(values) / 8.0)


def off(runs):
    seconds = sum((run["seconds"] for run in runs), [])
    return "%d of %d" % (sum(abs(v - 8000) > 80 for v in seconds), len(seconds))


def held(runs):
    return "%d of %d" % (sum(load.within_one_percent(run["seconds"]) and bool(run["round trips"])
                             for run in runs), len(runs))


def report(data):
    header = ("sound server", "setting", "busy processes",
              "round trip, ms, median (min–max): dsphost", "wire",
              "seconds off by > 1 %: dsphost", "wire", "runs held: dsphost", "wire",
              "load average")
    rows = []
    for row in data["rows"]:
        cells = [row["server"], row["setting"], str(row["busy"])]
        for column in (trip, off, held):
            cells += [column(row[name]) for name in ("dsphost", "wire")]
        cells.append("%.2f–%.2f" % (min(row["load"]), max(row["load"])))
        rows.append(cells)
    rounds = data["rounds"]
    return results.table(header, rows) + [
        "", "Round trip: a click played into the default sink every second, heard again on the "
        "sink's monitor after one pass through the program (its input is that monitor), the "
        "monitor turned down so that each click dies away. %.0f s per run, %d round%s, dsphost "
        "and the wire program one after the other beside the same busy processes. A run held "
        "when every full second was within 1 %% of 8,000 samples and echoes were heard. Load "
        "average: /proc/loadavg after each round's runs of the row."
        % (data["seconds"], rounds, "" if rounds == 1 else "s")]
