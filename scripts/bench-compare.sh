#!/usr/bin/env bash
# Compares two builds of the benchmarks side by side on a noisy machine:
# each benchmark program of the old and the new build runs in turn, pinned
# to one core, ROUNDS times (default 5), and the medians of every case and
# their ratio (new / old) are printed.
#
#   bash scripts/bench-compare.sh OLD_BUILD NEW_BUILD ComPort TCPIPPort ...
#
# OLD_BUILD and NEW_BUILD are build folders configured with
# -DKELVARA_BUILD_BENCH=ON (Release); the names are the programs'
# kelvara_bench_<name>. CORE (default 1) picks the core; FILTER passes a
# --benchmark_filter; MIN_TIME (default 0.5) is each case's minimum time.
set -euo pipefail
[ $# -ge 3 ] || { sed -n '2,13p' "$0"; exit 2; }
old=$1 new=$2
shift 2
rounds=${ROUNDS:-5}
core=${CORE:-1}
min_time=${MIN_TIME:-0.5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
    local build=$1 name=$2 out=$3
    local args=(--benchmark_format=json --benchmark_min_time="$min_time")
    [ -n "${FILTER:-}" ] && args+=(--benchmark_filter="$FILTER")
    taskset -c "$core" "$build/bench/kelvara_bench_$name" "${args[@]}" >"$out" 2>/dev/null
}

for name in "$@"; do
    for ((i = 1; i <= rounds; ++i)); do
        run "$old" "$name" "$work/$name.old.$i.json"
        run "$new" "$name" "$work/$name.new.$i.json"
    done
done

python3 - "$work" "$rounds" "$@" <<'PY'
import json, statistics, sys
work, rounds, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
print(f"{'benchmark':52} {'old':>12} {'new':>12} {'new/old':>8}   (median of {rounds}, real time)")
for name in names:
    times = {}
    for side in ("old", "new"):
        for i in range(1, rounds + 1):
            with open(f"{work}/{name}.{side}.{i}.json") as f:
                for b in json.load(f)["benchmarks"]:
                    if b.get("run_type", "iteration") != "iteration":
                        continue
                    times.setdefault(b["name"], {}).setdefault(side, []).append(
                        (b["real_time"], b["time_unit"]))
    for case, sides in times.items():
        if "old" not in sides or "new" not in sides:
            continue
        unit = sides["old"][0][1]
        o = statistics.median(t for t, _ in sides["old"])
        n = statistics.median(t for t, _ in sides["new"])
        print(f"{case[:52]:52} {o:10.1f}{unit:>2} {n:10.1f}{unit:>2} {n / o:8.3f}")
PY
