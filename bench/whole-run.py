#!/usr/bin/env python3
"""Times whole runs of keyboard-picture against a floor program that only
reads "key.bmp" and writes a file of the picture's size (662,254 bytes).

    bench/whole-run.py [--runs N] [--key FILE] [BUILD_DIR]

Both programs run in one scratch folder, interleaved run after run, so that
whatever else the machine does falls on both alike. Prints the median wall
time of each, their ratio, and each one's peak resident memory (ru_maxrss
from wait4). Asserts nothing: the numbers are for reading.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time


def run_once(program):
    """Returns (seconds, peak resident KiB) of one run in the current folder."""
    # posix_spawn starts the child without copying this process's memory
    # (glibc uses vfork semantics), so ru_maxrss is the program's own.
    start = time.perf_counter_ns()
    pid = os.posix_spawn(program, [program], os.environ)
    _, status, usage = os.wait4(pid, 0)
    elapsed = (time.perf_counter_ns() - start) / 1e9
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{program} failed with status {os.waitstatus_to_exitcode(status)}")
    return elapsed, usage.ru_maxrss


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir", nargs="?", default=os.path.join(here, "..", "build"))
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--key", default=os.path.join(here, "..", "examples", "key.bmp"))
    args = parser.parse_args()

    args.key = os.path.abspath(args.key)
    tool = os.path.abspath(os.path.join(args.build_dir, "keyboard-picture"))
    floor = os.path.abspath(os.path.join(args.build_dir, "bench", "bench-floor"))
    for program in (tool, floor):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: build first (cmake --build {args.build_dir})")

    times = {tool: [], floor: []}
    peaks = {tool: [], floor: []}
    with tempfile.TemporaryDirectory(prefix="whole-run-") as folder:
        shutil.copy(args.key, os.path.join(folder, "key.bmp"))
        os.chdir(folder)
        for program in (tool, floor):  # warm the page cache and the file's blocks
            run_once(program)
        for _ in range(args.runs):
            for program in (tool, floor):
                seconds, peak = run_once(program)
                times[program].append(seconds)
                peaks[program].append(peak)
        size = os.path.getsize(os.path.join(folder, "zzOut.bmp"))
        os.chdir(here)

    tool_median = statistics.median(times[tool])
    floor_median = statistics.median(times[floor])
    print(f"runs each:          {args.runs}, interleaved; key cap {os.path.basename(args.key)}; output {size} bytes")
    print(f"keyboard-picture:   median {tool_median * 1e6:8.0f} us   peak RSS {max(peaks[tool]):6d} KiB")
    print(f"floor (read+write): median {floor_median * 1e6:8.0f} us   peak RSS {max(peaks[floor]):6d} KiB")
    print(f"ratio tool/floor:   {tool_median / floor_median:.2f}   "
          f"peak RSS difference {(max(peaks[tool]) - max(peaks[floor])) / 1024:.2f} MiB")


if __name__ == "__main__":
    main()
