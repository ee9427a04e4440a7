"""Instructions per sample of the audio thread and inside the callback, counted by callgrind."""

import os
import re
import subprocess

from bench import processes, status

SECONDS = 5.0        # the wire program: well over a million samples
HOST_SAMPLES = 200000
HOST_SECONDS = 40.0  # at most, for dsphost
FN = re.compile(r"^(c?)fn=\((\d+)\)(?: (.*))?$")


def figures_of(prefix, callback):
    """(instructions of the thread that runs callback, calls of callback, instructions
    inside callback and what it calls) from the files of one callgrind run, or None.

    In a callgrind file a call is a "cfn=" line naming the callee, a "calls=" line with the
    number of calls, and a cost line whose second field is the instructions spent inside
    those calls. Names are compressed: "(id) name" the first time, "(id)" afterwards, for
    fn= and cfn= alike."""
    directory = os.path.dirname(prefix)
    base = os.path.basename(prefix)
    for name in sorted(os.listdir(directory)):
        if name != base and not name.startswith(base + "-"):
            continue
        names = {}
        total = None
        calls = 0
        inclusive = 0
        state = None  # "callee" after a cfn= of the callback, "cost" after its calls=
        with open(os.path.join(directory, name)) as f:
            for line in f:
                if state == "cost":
                    inclusive += int(line.split()[1])
                    state = None
                    continue
                match = FN.match(line)
                if match:
                    if match.group(3) is not None:
                        names[match.group(2)] = match.group(3)
                    called = names.get(match.group(2), "")
                    is_callback = called == callback or called.startswith(
                        (callback + "(", callback + "'"))
                    state = "callee" if match.group(1) == "c" and is_callback else None
                elif line.startswith("calls=") and state == "callee":
                    calls += int(line.split()[0][len("calls="):])
                    state = "cost"
                elif line.startswith("totals:") or (line.startswith("summary:") and total is None):
                    total = int(line.split()[1])
        if calls > 0 and total is not None:
            return total, calls, inclusive
    return None


def host_samples_at_least(count):
    def enough(text):
        total = status.last_total(text)
        return total is not None and total >= count
    return enough


def instructions(programs, micro, env, directory):
    """Instructions of the audio thread per callback call, and inside the callback, from one
    callgrind run of each program. Valgrind runs one thread at a time; --fair-sched gives the
    audio thread its turns beside dsphost's main thread, which never sleeps. The count runs
    from the start, so enough samples are taken for the thread's start-up to vanish in it."""
    figures = {}
    for name, callback, seconds, enough in (
            ("wire", "wire_callback", SECONDS, None),
            ("dsphost", "audio_callback", HOST_SECONDS, host_samples_at_least(HOST_SAMPLES))):
        processes.say("callgrind, " + name)
        prefix = os.path.join(directory, "callgrind." + name)
        argv = ["valgrind", "--tool=callgrind", "--separate-threads=yes", "--fair-sched=yes",
                "--callgrind-out-file=" + prefix, programs[name]]
        processes.run_piped(argv, env, seconds, status.FIRST_LINE[name], enough)
        figures[name] = figures_of(prefix, callback)
    # The sample callback beside the floor callback of the micro-benchmarks (the conversions
    # and the effect call alone), each called as the benchmark calls it.
    processes.say("callgrind, micro-benchmarks of the callback")
    prefix = os.path.join(directory, "callgrind.micro")
    subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + prefix, micro,
                    "--benchmark_filter=^audio_callback", "--benchmark_min_time=0.01"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
    for name, callback in (("micro", "audio_callback"),
                           ("micro floor", "(anonymous namespace)::floor_callback")):
        figures[name] = figures_of(prefix, callback)
    return figures
