#!/usr/bin/env python3
"""Runs the value-model benchmarks side by side and prints one table.

Usage: bench/value_model_table.py BUILD_DIR [REPETITIONS]

Each benchmark program runs once with the given repetitions (default 5);
the table shows medians of CPU time, the ratio to the named peer and the
goal. The memory rows come from the one-shot counting runs of
value_text_bench (bytes in use and blocks allocated per document).
"""
import json
import subprocess
import sys

build = sys.argv[1] if len(sys.argv) > 1 else "build"
reps = sys.argv[2] if len(sys.argv) > 2 else "5"


def run(program, pattern, repetitions=True):
    cmd = [f"{build}/bench/{program}", f"--benchmark_filter={pattern}", "--benchmark_format=json"]
    if repetitions:
        cmd += [f"--benchmark_repetitions={reps}", "--benchmark_report_aggregates_only=true"]
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    rows = {}
    for b in json.loads(out)["benchmarks"]:
        name = b.get("run_name", b["name"])
        if repetitions and b.get("aggregate_name") != "median":
            continue
        rows[name.split("/")[0]] = b
    return rows


def ms(b):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b["time_unit"]]
    return b["cpu_time"] * scale


def fmt(t):
    if t < 0.001:
        return f"{t * 1e6:.0f} ns"
    if t < 1:
        return f"{t * 1e3:.1f} µs"
    return f"{t:.2f} ms"


text = run("value_text_bench", "FormattedString$|FormattedStringOfRead|RapidJsonWrite|NlohmannDump$|StreamInInPlace|NlohmannParse|RapidJsonParse")
mem = run("value_text_bench", "Memory", repetitions=False)
lists = run("list_bench", "Append|Small")
assoc = run("assoc_bench", "Insert")
disp = run("dispatch_bench", "InvokeByName")

rows = []


def row(path, ours, peer_name, peer, goal_ratio):
    r = ms(ours) / ms(peer)
    rows.append((path, fmt(ms(ours)), f"{peer_name} {fmt(ms(peer))}", f"{r:.2f}", goal_ratio))


row("text write, 1 MB (`FormattedString`)", text["BM_ValueFormattedString"], "RapidJSON", text["BM_RapidJsonWrite"], "≤ 1.0")
row("text write, 1 MB", text["BM_ValueFormattedString"], "nlohmann", text["BM_NlohmannDump"], "—")
row("text write, 1 MB, as read (in its arena)", text["BM_ValueFormattedStringOfRead"], "RapidJSON", text["BM_RapidJsonWrite"], "≤ 1.0")
row("text read, 1 MB (in place)", text["BM_ValueStreamInInPlace"], "nlohmann", text["BM_NlohmannParse"], "≤ 0.5")
row("text read, 1 MB (in place)", text["BM_ValueStreamInInPlace"], "RapidJSON", text["BM_RapidJsonParse"], "≤ 2.0")
row("List append 1M", lists["BM_ListAppend"], "std::vector", lists["BM_VectorAppend"], "≤ 2.0")
row("small List (build + read)", lists["BM_ListSmall"], "std::vector", lists["BM_VectorSmall"], "≤ 1.5")
if "BM_BtreeMapInsert" in assoc:
    row("Assoc insert 100k", assoc["BM_AssocInsert"], "absl::btree_map", assoc["BM_BtreeMapInsert"], "≤ 1.0")
row("Assoc insert 100k", assoc["BM_AssocInsert"], "std::map", assoc["BM_StdMapInsert"], "—")
row("dispatch by String name", disp["BM_DotInvokeByName"], "unordered_map + functor", disp["BM_PeerInvokeByName"], "≤ 1.0")

print("| Path | vxkernel | Peer | Ratio | Goal |")
print("|---|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
print()
print("| Document (3300 records) | MB in use | allocations | bytes per record |")
print("|---|---|---|---|")
for name, label in [("BM_MemoryValueBuilt", "vxkernel, built"), ("BM_MemoryValueRead", "vxkernel, read from text"),
                    ("BM_MemoryNlohmannBuilt", "nlohmann, built"), ("BM_MemoryNlohmannParsed", "nlohmann, parsed"),
                    ("BM_MemoryRapidJsonParsed", "RapidJSON, parsed")]:
    b = mem[name]
    print(f"| {label} | {b['MB']:.2f} | {b['allocations']:.0f} | {b['bytes_per_record']:.0f} |")
v, r, n = mem["BM_MemoryValueBuilt"], mem["BM_MemoryValueRead"], mem["BM_MemoryNlohmannBuilt"]
print(f"\nMemory ratio vxkernel / nlohmann: built {v['MB'] / n['MB']:.2f}, read {r['MB'] / n['MB']:.2f} (goal ≤ 1.0)")
print(f"Small-heap bytes asked for by the read document: {r['small_requested_MB']:.2f} MB")
