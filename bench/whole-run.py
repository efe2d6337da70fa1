#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Times whole runs of keyboard-picture against a floor program that only
reads "key.bmp" and writes a file of the picture's size (662,254 bytes),
and against the same floor replacing the file atomically, as the tool does.

    bench/whole-run.py [--runs N] [--key FILE] [BUILD_DIR]

Both programs run in one scratch folder, interleaved run after run, so that
whatever else the machine does falls on both alike. Prints the median wall
time of each, their ratio, and each one's peak resident memory (ru_maxrss
from GNU time). Asserts nothing: the numbers are for reading.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

TIME = "/usr/bin/time"


def spawn(argv):
    """Runs argv in the current folder; returns (seconds, rusage)."""
    argv = list(argv)
    start = time.perf_counter_ns()
    pid = os.posix_spawn(argv[0], argv, os.environ)
    _, status, usage = os.wait4(pid, 0)
    elapsed = (time.perf_counter_ns() - start) / 1e9
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed with status {os.waitstatus_to_exitcode(status)}")
    return elapsed, usage


def peak_kib(program):
    """Peak resident memory of one run, in KiB.

    A child's ru_maxrss includes the memory of the process it was started
    from, up to its exec; this script's Python is larger than either program,
    so the small GNU time starts the program and reports its peak.
    """
    with tempfile.NamedTemporaryFile("r") as report:
        spawn([TIME, "-f", "%M", "-o", report.name, *program])
        return int(report.read().split()[-1])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir", nargs="?", default=os.path.join(here, "..", "build"))
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--key", default=os.path.join(here, "..", "examples", "key.bmp"))
    args = parser.parse_args()

    args.key = os.path.abspath(args.key)
    tool_path = os.path.abspath(os.path.join(args.build_dir, "keyboard-picture"))
    floor_path = os.path.abspath(os.path.join(args.build_dir, "bench", "bench-floor"))
    for program in (tool_path, floor_path):
        if not os.access(program, os.X_OK):
            sys.exit(f"{program} is missing: build first (cmake --build {args.build_dir})")
    tool, floor, atomic = (tool_path,), (floor_path,), (floor_path, "--replace")
    programs = (tool, floor, atomic)

    times = {program: [] for program in programs}
    peaks = {program: [] for program in programs}
    with tempfile.TemporaryDirectory(prefix="whole-run-") as folder:
        shutil.copy(args.key, os.path.join(folder, "key.bmp"))
        os.chdir(folder)
        for program in programs:  # warm the page cache and the file's blocks
            spawn(program)
        for _ in range(args.runs):
            for program in programs:
                times[program].append(spawn(program)[0])
        if os.access(TIME, os.X_OK):
            for _ in range(20):
                for program in (tool, floor):
                    peaks[program].append(peak_kib(program))
        size = os.path.getsize(os.path.join(folder, "zzOut.bmp"))
        os.chdir(here)

    median = {program: statistics.median(times[program]) for program in programs}
    print(f"runs each:          {args.runs}, interleaved; key cap {os.path.basename(args.key)}; output {size} bytes")
    print(f"keyboard-picture:   median {median[tool] * 1e6:8.0f} us")
    print(f"floor (read+write): median {median[floor] * 1e6:8.0f} us")
    print(f"floor, replacing:   median {median[atomic] * 1e6:8.0f} us")
    print(f"ratio tool/floor:   {median[tool] / median[floor]:.2f}")
    print(f"ratio tool/floor replacing: {median[tool] / median[atomic]:.2f}")
    if peaks[tool]:
        print(f"peak RSS (max of 20 runs, via {TIME}): keyboard-picture {max(peaks[tool])} KiB, "
              f"floor {max(peaks[floor])} KiB, difference {(max(peaks[tool]) - max(peaks[floor])) / 1024:.2f} MiB")
    else:
        print(f"peak RSS not measured: {TIME} (Debian package time) is missing")

if __name__ == "__main__":
    main()
