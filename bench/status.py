"""dsphost's status line and the wire program's lines, as the tools and the tests read them.

    hit ctrl-C or ESC key to exit 12:34:56 123456 8000 3.12%

The time of day; the total and the count since the line before, each after a blank (a `-` when
negative); the CPU field: five characters and `%` (its first a blank below 10 %, so from 10 % on
it touches the count), or from a leading `%` on when the figure does not fit (`%123.46%`)."""

import re
import time

PATTERN = (r"hit ctrl-C or ESC key to exit (\d\d:\d\d:\d\d)( \d+|-\d+)( \d+|-\d+)"
           r"((?: \d|\d\d)\.\d\d|%[^\r\n]*)%")
LINE = re.compile(PATTERN)
LINE_BYTES = re.compile(PATTERN.encode())  # (time, total, count, CPU field), as bytes
# The first line of each program: the stream runs.
FIRST_LINE = {"dsphost": "hit ctrl-C or ESC key to exit",
              "dsphost-system": "hit ctrl-C or ESC key to exit",
              "wire": "wire started"}
WIRE_LINE = re.compile(r"wire samples=(\d+) seconds=([0-9.]+)")
WIRE_TOTAL = re.compile(r"wire total=(\d+)")


def parse(line):
    """(seconds since midnight, total, count) of a status line, or None."""
    match = LINE.search(line)
    if not match:
        return None
    hours, minutes, seconds = map(int, match.group(1).split(":"))
    return hours * 3600 + minutes * 60 + seconds, int(match.group(2)), int(match.group(3))


def parsed(text):
    return [p for p in map(parse, text.splitlines()) if p]


def last_total(text):
    """The total of the last status line in text, or None."""
    totals = [int(m.group(2)) for m in LINE.finditer(text)]
    return totals[-1] if totals else None


def second_of_day(wall):
    local = time.localtime(wall)
    return local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec


def late_ms(shown, wall):
    """How long after the start of the second a line shows (seconds since midnight, local
    time) it arrived at the wall-clock time `wall`, in ms."""
    behind = (second_of_day(wall) - shown) % 86400  # whole seconds between shown and real
    if behind > 43200:
        behind -= 86400
    return (behind + (wall - int(wall))) * 1000.0


def full_seconds(seconds, totals):
    """The samples of each whole second: the difference of the totals on two lines printed at
    successive second changes, each line's second given (a line missing for a second leaves
    that pair out)."""
    return [b - a for a, b, s, t in zip(totals, totals[1:], seconds, seconds[1:])
            if (t - s) % 86400 == 1]


def dsphost_rate(text):
    """Samples per second between the first and the last status line printed on a second
    change (the first line of all comes at start-up, part-way through a second)."""
    lines = parsed(text)[1:]
    if len(lines) < 2:
        return None
    seconds = (lines[-1][0] - lines[0][0]) % 86400
    if seconds <= 0:
        return None
    return (lines[-1][1] - lines[0][1]) / seconds


def wire_rate(text):
    match = WIRE_LINE.search(text)
    if not match or float(match.group(2)) <= 0:
        return None
    return int(match.group(1)) / float(match.group(2))
