"""CPU and memory readings of a process, and the machine's load, from /proc."""

import os


def vm_rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def thread_cpu_seconds(pid):
    """(CPU seconds of the main thread, of the busiest other thread, of the whole process
    with the threads that have ended) so far; None once it is gone."""
    tick = os.sysconf("SC_CLK_TCK")
    main_thread, busiest = 0.0, 0.0
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        process = (int(fields[11]) + int(fields[12])) / tick  # utime, stime
        for tid in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            used = (int(fields[11]) + int(fields[12])) / tick  # utime, stime
            if int(tid) == pid:
                main_thread = used
            else:
                busiest = max(busiest, used)
    except (OSError, ValueError, IndexError):
        return None
    return main_thread, busiest, process


def process_cpu_seconds(pid):
    figures = thread_cpu_seconds(pid)
    return figures[2] if figures else None


def load_average():
    """The 1-minute load average."""
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def machine_ticks():
    """(busy, all) clock ticks of every processor since boot: the machine's busy share over a
    span is the difference of two readings' busy over that of their all."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    idle = fields[3] + fields[4]  # idle, iowait
    return sum(fields) - idle, sum(fields)


def autogroup():
    try:
        with open("/proc/sys/kernel/sched_autogroup_enabled") as f:
            return f.read().strip()
    except OSError:
        return "n/a"
