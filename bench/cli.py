"""bench/run: whole-program benchmarks of dsphost beside bench/wire.c (the same stream with a
callback that only copies), and the micro-benchmarks of bench/micro.cpp.

Builds what it needs in build-bench/ (the default preset's settings, tests off), writes each
run's raw results into a dated folder (bench/results/<date>-<kind>/results.json: the command,
the commit, the machine and its load beside the figures) and prints its tables, rendered from
that file, as Markdown on standard output; progress goes to standard error.
`bench/run report DIR...` renders the tables of folders written before.

Kinds of run (one a time):
  (none)          micro-benchmarks, throughput and instructions without a clock (ALSA's null
                  device), start, ESC and punctuality on a pseudo-terminal at 8000 Hz through a
                  private PulseAudio, and the runs beside busy processes; about ten minutes
  --only-load     the runs beside busy processes (each in its own session, as other programs
                  of a desktop are) through the --server named: the private PulseAudio, or a
                  private PipeWire reached through its ALSA plug-in or its PulseAudio server
                  (downloaded from Debian once into --pipewire-dir; nothing is installed)
  --only-latency  the round trip from input to output through each --server (default: all
                  three): a click played into the default sink is heard again on its monitor,
                  the program's input, one pass later; at the server's default and at each
                  setting a user can make, beside 0 and 2 busy processes; about 25 minutes
  --only-faults   the sound server going away (SIGTERM, SIGKILL, a restart, a stall) on each
                  route (PulseAudio; PipeWire's ALSA plug-in or pipewire-pulse; JACK's dummy
                  driver through ALSA's `jack` device) while dsphost or the wire program runs on
                  a pseudo-terminal, then ESC; about seventy minutes with the default runs
  --only-silence  the samples not 0 that each program plays at start-up with a silent input,
                  per route, MALLOC_PERTURB_ unset and 85; dsphost, --dsphost-system and the
                  wire program; about ten minutes

Nothing is asserted: the tables say which targets hold."""

import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

from bench import (fault_report, faults, latency, load, processes, results, servers, silence,
                   whole)

KINDS = {"whole": whole.report, "load": load.report, "latency": latency.report,
         "faults": fault_report.report, "silence": silence.report}


def options():
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__.split("\n\n")[1],
                                     epilog=__doc__.split("\n\n", 2)[2],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    add = parser.add_argument
    add("--build-dir", default=os.path.join(results.ROOT, "build-bench"))
    add("--no-build", action="store_true", help="use the build as it is")
    add("--dsphost", metavar="PATH", help="measure this dsphost in place of the build's (the "
        "wire program and the micro-benchmarks stay the build's)")
    add("--dsphost-system", metavar="PATH", help="--only-silence: also this dsphost, linked "
        "with the system's PortAudio")
    add("--results", metavar="DIR", default=results.FOLDER,
        help="where the dated folders go (default %(default)s)")
    for kind, what in (("load", "the runs under load"),
                       ("latency", "the round trips through each --server (default: all)"),
                       ("faults", "the runs in which the sound server goes away"),
                       ("silence", "the start-up silence on each --silence-route")):
        add("--only-" + kind, action="store_true", help="only " + what)
    add("--server", action="append", choices=servers.ROUTES,
        help="sound server of the runs under load (default: pulse) or of the round trips "
        "(default: all), once per server wanted; the runs on a terminal use the first")
    add("--load-seconds", type=float, default=load.SECONDS,
        help="length of each run under load (default %(default)s)")
    add("--load-rounds", type=int, default=load.ROUNDS,
        help="rounds of runs under load (default %(default)s)")
    add("--load-busy", default=",".join(map(str, load.BUSY)),
        help="numbers of busy processes (default %(default)s)")
    add("--latency-settings", choices=("all", "default"), default="all",
        help="the round trips at every setting of a server, or at its default only")
    add("--pipewire-dir", default=os.path.join(
        os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "dsphost",
        "pipewire"), help="where PipeWire is downloaded and unpacked (default %(default)s); "
        "JACK goes beside it")
    add("--fault-route", action="append", choices=faults.ROUTES,
        help="a server and the way to it, once per route wanted (default: all)")
    add("--fault", action="append", choices=list(faults.FAULTS),
        help="what happens to the server, once per kind wanted (default: all)")
    add("--fault-runs", type=int, default=faults.RUNS,
        help="runs of each program per route and fault (default %(default)s)")
    add("--fault-runs-more", type=int, default=faults.RUNS_MORE,
        help="runs where ESC was seen to hang: PulseAudio restarted, PipeWire's ALSA plug-in "
        "ended, killed or restarted, JACK ended, killed or restarted (default %(default)s)")
    add("--fault-json", metavar="PATH", help="also write every run's figures to this file")
    add("--fault-from", metavar="PATH", action="append",
        help="no runs: the table of the runs that --fault-json wrote there (given more than "
        "once, of all their runs)")
    add("--silence-route", action="append", choices=servers.ROUTES,
        help="a route of the silence runs, once per route wanted (default: all)")
    add("--silence-starts", type=int, default=silence.STARTS,
        help="starts of each program per route and MALLOC_PERTURB_ (default %(default)s)")
    return parser


def build(build_dir):
    processes.say("building in " + build_dir)
    return (processes.run_checked(
        ["nice", "cmake", "-S", results.ROOT, "-B", build_dir, "-G", "Ninja",
         "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DDSPHOST_WERROR=ON", "-DDSPHOST_TESTS=OFF",
         "-DDSPHOST_BENCH=ON"], stdout=subprocess.DEVNULL) and processes.run_checked(
        ["nice", "cmake", "--build", build_dir, "-j2", "--target", "dsphost", "mix_c",
         "bench_wire", "bench_micro"], stdout=subprocess.DEVNULL))


def usable(path):
    """Whether path is a program that finds its libraries: a dsphost finds its effect library
    beside itself, so a copy taken out of its build folder would not start."""
    if not os.access(path, os.X_OK):
        processes.say("%s is not a program" % path)
        return False
    linked = subprocess.run(["ldd", path], stdin=subprocess.DEVNULL, capture_output=True,
                            text=True).stdout
    missing = [line.split()[0] for line in linked.splitlines() if "not found" in line]
    if missing:
        processes.say("%s does not find %s" % (path, ", ".join(missing)))
    return not missing


def render(record, folder):
    return "\n".join([results.heading(record, folder), ""] + KINDS[record["kind"]](record["data"]))


def report(folders):
    """bench/run report DIR...: the tables of folders (or results.json files) written before."""
    if not folders:
        processes.say("report: name a results folder")
        return 2
    for number, folder in enumerate(folders):
        print(("\n" if number else "") + render(results.load(folder), folder))
    return 0


def fault_files(paths):
    """--fault-from: the table of files that --fault-json wrote."""
    saved = [results.load(path) for path in paths]
    runs = sum((s["runs"] if "runs" in s else s["data"]["runs"] for s in saved), [])
    first = saved[0].get("data", saved[0])
    print("\n".join(fault_report.report(dict(first, runs=runs))))
    if "processors" in saved[0]:
        print("\n" + fault_report.old_file_heading(saved[0]))
    return 0


def measure(kind, args, programs, work):
    caches = {"pipewire": args.pipewire_dir,
              "jack": os.path.join(os.path.dirname(args.pipewire_dir), "jack")}
    loads = [int(n) for n in args.load_busy.split(",")]
    chosen = list(dict.fromkeys(args.server or ["pulse"]))
    if kind == "faults":
        return faults.measure(programs, list(dict.fromkeys(args.fault_route or faults.ROUTES)),
                              list(dict.fromkeys(args.fault or faults.FAULTS)), args.fault_runs,
                              args.fault_runs_more, caches, work)
    if kind == "silence":
        return silence.measure(programs, list(dict.fromkeys(args.silence_route or servers.ROUTES)),
                               caches["pipewire"], work, args.silence_starts)
    if kind == "latency":
        settings = latency.SETTINGS if args.latency_settings == "all" else {}
        return latency.measure(programs, list(dict.fromkeys(args.server or servers.ROUTES)),
                               caches["pipewire"], work, latency.SECONDS, latency.BUSY,
                               latency.ROUNDS, settings)
    if kind == "load":
        return load.measure(programs, chosen, caches["pipewire"], work, args.load_seconds,
                            loads, args.load_rounds)
    return whole.measure(programs, chosen, caches["pipewire"], work, args.load_seconds, loads,
                         args.load_rounds)


def run(args, argv):
    kinds = [k for k in ("load", "latency", "faults", "silence") if getattr(args, "only_" + k)]
    if len(kinds) > 1:
        processes.say("one of --only-%s at a time" % ", --only-".join(kinds))
        return 2
    kind = kinds[0] if kinds else "whole"
    if kind == "faults" and args.fault_from:
        return fault_files(args.fault_from)
    needed = ([] if args.no_build else ["cmake", "ninja"]) + (["valgrind"] if kind == "whole"
                                                              else [])
    for tool in needed:
        if shutil.which(tool) is None:
            processes.say("%s is missing; run scripts/setup.sh test" % tool)
            return 1
    record = results.begin(kind, argv)
    if not args.no_build and not build(args.build_dir):
        return 1
    programs = {"dsphost": os.path.join(args.build_dir, "dsphost"),
                "wire": os.path.join(args.build_dir, "bench_wire"),
                "micro": os.path.join(args.build_dir, "bench_micro")}
    for name, given in (("dsphost", args.dsphost), ("dsphost-system", args.dsphost_system)):
        if given:
            programs[name] = os.path.abspath(given)
    for name in ("dsphost", "dsphost-system"):
        if name in programs and not usable(programs[name]):
            return 1
    work = tempfile.mkdtemp(prefix="dsphost-bench-")
    try:
        data = measure(kind, args, programs, work)
    finally:
        processes.stop_all()
        shutil.rmtree(work, ignore_errors=True)
    if data is None:
        return 1
    folder = results.finish(record, data, args.results)
    if args.fault_json:
        with open(args.fault_json, "w") as f:
            json.dump(dict(data, processors=os.cpu_count(), loadavg=record["load"]["after"],
                           seconds=record["seconds"]), f, indent=1)
    print(render(record, folder))
    return 0


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv[:1] == ["report"]:
        return report(argv[1:])
    args = options().parse_args(argv)
    processes.raise_on_signals()
    try:
        return run(args, argv)
    except KeyboardInterrupt:
        processes.say("interrupted")
        return 130
    finally:
        processes.stop_all()
