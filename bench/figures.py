"""Prints the headline figures of a benchmark run, one "name: value" line each.

Usage: figures.py NETMAP_LINE REPETITIONS RESULTS_JSON...

Each RESULTS_JSON is Google Benchmark's JSON output with median aggregates; NETMAP_LINE is the
10,000-peer line the run decoded, which python3's json.loads is timed on here, in the same run.
Decoding and parsing are single-threaded and measured in CPU time, so that other load on the
machine does not shift them (json.loads too); the socket exchanges and the stream hop between
threads and are measured in wall time.
"""

import json
import statistics
import sys
import time
import timeit

MB = 1e6
UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def medians(paths):
    found = {}
    for path in paths:
        with open(path, encoding="utf-8") as f:
            runs = json.load(f)["benchmarks"]
        found.update((run["run_name"], run) for run in runs if run.get("aggregate_name") == "median")
    return found


def seconds(run, key):
    return run[key] * UNIT_SECONDS[run["time_unit"]]


def python_loads_mb_per_s(line, repetitions):
    """Median over the repetitions of json.loads on the line's bytes, as read off the socket."""
    timer = timeit.Timer(lambda: json.loads(line), timer=time.process_time)
    number, _ = timer.autorange()
    per_call = [total / number for total in timer.repeat(repeat=repetitions, number=number)]
    return len(line) / statistics.median(per_call) / MB


def main(line_path, repetitions, results_paths):
    runs = medians(results_paths)
    with open(line_path, "rb") as f:
        line = f.read()

    decode = runs["NotifyDecode/10000/real_time"]
    parse = runs["SimdjsonParse/10000/real_time"]
    release = runs["NotifyDecodeAndRelease/10000/real_time"]
    line_mb = decode["line_bytes"] / MB
    decode_mb_s = line_mb / seconds(decode, "cpu_time")
    parse_mb_s = line_mb / seconds(parse, "cpu_time")
    python_mb_s = python_loads_mb_per_s(line, repetitions)

    status_per_s = 1 / seconds(runs["LocalAPIGetStatus/real_time"], "real_time")
    bare_per_s = 1 / seconds(runs["BareExchange/real_time"], "real_time")
    pooled_per_s = 1 / seconds(runs["BareExchangeFromPool/real_time"], "real_time")

    small = runs["StreamSmallNotifications/manual_time"]
    latency = runs["StreamNetworkMapLatency/10000/manual_time"]

    print(f"also: decode_and_release_mb_per_s: {line_mb / seconds(release, 'cpu_time'):.0f}")
    # The most any decoder could reach on the DOM, and on the On-Demand front: the reads alone.
    for name, run in (("dom", "DomParseAndRead"), ("ondemand", "OnDemandRead")):
        floor_mb_s = line_mb / seconds(runs[f"{run}/10000/real_time"], "cpu_time")
        print(f"also: {name}_read_floor_vs_parse: {floor_mb_s / parse_mb_s:.2f}")
    print(f"also: bare_exchange_from_pool_per_s: {pooled_per_s:.0f}")
    figures = [
        ("netmap_10000_line_mb", f"{line_mb:.2f}"),
        ("decode_mb_per_s", f"{decode_mb_s:.0f}"),
        ("parse_mb_per_s", f"{parse_mb_s:.0f}"),
        ("python_json_loads_mb_per_s", f"{python_mb_s:.0f}"),
        ("decode_vs_parse", f"{decode_mb_s / parse_mb_s:.2f}"),
        ("decode_vs_python", f"{decode_mb_s / python_mb_s:.2f}"),
        ("getstatus_per_s", f"{status_per_s:.0f}"),
        ("bare_exchange_per_s", f"{bare_per_s:.0f}"),
        ("localapi_overhead", f"{bare_per_s / status_per_s:.2f}"),
        ("stream_small_notifications_per_s",
         f"{small['notifications'] / seconds(small, 'real_time'):.0f}"),
        ("stream_netmap_10000_latency_ms", f"{seconds(latency, 'real_time') * 1e3:.2f}"),
    ]
    for name, value in figures:
        print(f"{name}: {value}")


if __name__ == "__main__":
    main(sys.argv[1], int(sys.argv[2]), sys.argv[3:])
