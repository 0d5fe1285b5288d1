#!/usr/bin/env python3
"""Runs two builds of the recompute benchmark in turns and compares them.

Usage: recompute-side-by-side.py OLD_BINARY NEW_BINARY [ROUNDS] [FILTER] [BENCHMARK OPTIONS...]

Each round runs both binaries once over every case (the order alternates from
round to round, so that neither always runs on a warmer or quieter machine)
and reads each case's processor time per iteration and the run's peak memory.
The table gives per case the median of both over the rounds and the median,
lowest and highest ratio new/old of the rounds.
"""

import json
import os
import statistics
import subprocess
import sys
import tempfile


def run(binary, case_filter, options):
    """Processor time per case in ms and the run's peak resident memory in MB."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        command = ["/usr/bin/time", "-f", "%M", binary, "--benchmark_filter=" + case_filter,
                   "--benchmark_out=" + out.name, "--benchmark_out_format=json"] + options
        done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                              text=True, check=True)
        peak_kb = int(done.stderr.strip().splitlines()[-1])
        report = json.load(open(out.name))
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    times = {b["name"]: b["cpu_time"] * scale[b["time_unit"]]
             for b in report["benchmarks"] if b.get("run_type", "iteration") == "iteration"}
    return times, peak_kb / 1024.0


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    old, new = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    case_filter = sys.argv[4] if len(sys.argv) > 4 else "."
    options = sys.argv[5:]
    times = {"old": [], "new": []}
    peaks = {"old": [], "new": []}
    for r in range(rounds):
        order = [("old", old), ("new", new)] if r % 2 == 0 else [("new", new), ("old", old)]
        for label, binary in order:
            t, peak = run(binary, case_filter, options)
            times[label].append(t)
            peaks[label].append(peak)
            print(f"round {r + 1} {label}: peak {peak:.0f} MB", file=sys.stderr)

    cases = [c for c in times["new"][0] if all(c in t for t in times["old"] + times["new"])]
    print(f"| case | old CPU ms | new CPU ms | new/old median | lowest | highest |")
    print(f"|---|---:|---:|---:|---:|---:|")
    for case in cases:
        o = [t[case] for t in times["old"]]
        n = [t[case] for t in times["new"]]
        ratios = [b / a for a, b in zip(o, n)]
        print(f"| {case} | {statistics.median(o):.3f} | {statistics.median(n):.3f} | "
              f"{statistics.median(ratios):.2f} | {min(ratios):.2f} | {max(ratios):.2f} |")
    print(f"| peak memory MB | {statistics.median(peaks['old']):.0f} | "
          f"{statistics.median(peaks['new']):.0f} | "
          f"{statistics.median(peaks['new']) / statistics.median(peaks['old']):.2f} | | |")
    print(f"\nload average at the end: {os.getloadavg()[0]:.1f}", file=sys.stderr)


if __name__ == "__main__":
    main()
