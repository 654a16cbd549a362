#!/usr/bin/env python3
"""Ratios of the cine benchmarks to their baselines, from one JSON run:

  bench_cine --benchmark_repetitions=5 --benchmark_enable_random_interleaving \
      --benchmark_format=json > cine.json
  python3 bench/cine/ratios.py cine.json
"""
import json
import sys

PAIRS = [
    ("BM_WriteFrame_By_CineBlock/{}", "BM_WriteFrame_By_Memcpy/{}", 0.9, (65536, 262144, 1048576)),
    ("BM_WriteFrameMla_By_CineBlock/{}", "BM_WriteFrame_By_Memcpy/{}", 0.5, (65536, 262144, 1048576)),
    ("BM_Save_By_CineBlock/real_time", "BM_Save_By_WriteFileAtomically/real_time", None, (None,)),
    ("BM_Load_By_CineBlock/real_time", "BM_Load_By_Fread/real_time", None, (None,)),
]


def medians(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    return {r["run_name"]: r["bytes_per_second"] for r in runs if r.get("aggregate_name") == "median"}


def main():
    m = medians(sys.argv[1])
    ok = True
    for name, base, floor, args in PAIRS:
        for arg in args:
            a, b = name.format(arg), base.format(arg)
            if a not in m or b not in m:
                continue
            ratio = m[a] / m[b]
            verdict = "" if floor is None else ("  ok" if ratio >= floor else f"  BELOW {floor}")
            ok = ok and (floor is None or ratio >= floor)
            print(f"{a:40s} {m[a] / 1e9:6.2f} GB/s  / {b:44s} {m[b] / 1e9:6.2f} GB/s = {ratio:5.2f}{verdict}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
