#!/usr/bin/env python3
"""Side-by-side benchmark comparison of two builds.

    scripts/bench_compare.py BUILD_BEFORE BUILD_AFTER [--rounds N] [--min-time S] [bench ...]

Runs each benchmark program of bench/ that both builds have, alternating
before and after in every round (so that a machine getting busier or quieter
affects both alike), and prints per benchmark the median real time of each
build and the ratio after/before. Medians over rounds, not means: one slow
round on a shared machine must not decide the figure.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys


def run(program, min_time):
    # JSON, not CSV: the CSV writer stops the program when a later row has
    # counters the first did not (value_text_bench's memory rows).
    out = subprocess.run([program, "--benchmark_format=json", f"--benchmark_min_time={min_time}"],
                         check=True, capture_output=True, text=True).stdout
    rows = {}
    for row in json.loads(out)["benchmarks"]:
        if row.get("error_occurred") or "real_time" not in row:
            continue
        rows[row["name"]] = (float(row["real_time"]), row["time_unit"])
    return rows


def main():
    p = argparse.ArgumentParser()
    p.add_argument("before")
    p.add_argument("after")
    p.add_argument("benches", nargs="*")
    p.add_argument("--rounds", type=int, default=3)
    p.add_argument("--min-time", default="0.2")
    a = p.parse_intermixed_args()
    names = a.benches or sorted(
        n for n in os.listdir(os.path.join(a.before, "bench"))
        if n.endswith("_bench") and os.path.exists(os.path.join(a.after, "bench", n)))
    worst = 0.0
    print(f"{'benchmark':60} {'before':>12} {'after':>12} {'after/before':>12}")
    for name in names:
        times = {"before": {}, "after": {}}
        for _ in range(a.rounds):
            for side in ("before", "after"):
                program = os.path.join(getattr(a, side), "bench", name)
                for bench, (t, unit) in run(program, a.min_time).items():
                    times[side].setdefault(bench, []).append((t, unit))
        for bench, samples in times["before"].items():
            if bench not in times["after"]:
                continue
            unit = samples[0][1]
            b = statistics.median(t for t, _ in samples)
            f = statistics.median(t for t, _ in times["after"][bench])
            ratio = f / b if b > 0 else float("nan")
            worst = max(worst, ratio)
            print(f"{name + ': ' + bench:60.60} {b:10.4g}{unit:>2} {f:10.4g}{unit:>2} {ratio:12.3f}")
        sys.stdout.flush()
    print(f"== largest ratio after/before: {worst:.3f}")


if __name__ == "__main__":
    main()
