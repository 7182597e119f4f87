#!/usr/bin/env bash
# Compares benchmarks side by side on a noisy machine: every run is pinned
# to one core, the runs of a comparison take turns, ROUNDS times (default
# 5), and the medians of wall time and of the benchmark thread's CPU time
# are printed with their ratios.
#
# Two builds, every case of the named programs (ratio new / old):
#   bash scripts/bench-compare.sh OLD_BUILD NEW_BUILD ComPort TCPIPPort ...
# Two cases of one program, in one or two builds (ratio CASE / BASE_CASE,
# and with two builds also new / old):
#   bash scripts/bench-compare.sh --cases NAME BASE_CASE CASE BUILD [NEW_BUILD]
#
# Builds are folders configured with -DKELVARA_BUILD_BENCH=ON (Release);
# NAME is the program's kelvara_bench_<NAME>; a case is a benchmark's name
# (without a suffix such as /real_time). CORE (default 1) picks the core;
# FILTER passes a --benchmark_filter (two builds only); MIN_TIME (default
# 0.5) is each case's minimum time in seconds.
set -euo pipefail
usage() { sed -n '2,17p' "$0"; exit 2; }
rounds=${ROUNDS:-5}
core=${CORE:-1}
min_time=${MIN_TIME:-0.5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run BUILD NAME OUT [FILTER]
run() {
    local build=$1 name=$2 out=$3 filter=${4:-}
    local args=(--benchmark_format=json --benchmark_min_time="$min_time")
    [ -n "$filter" ] && args+=(--benchmark_filter="$filter")
    taskset -c "$core" "$build/bench/kelvara_bench_$name" "${args[@]}" >"$out" 2>/dev/null
}

if [ "${1:-}" = "--cases" ]; then
    [ $# -ge 5 ] && [ $# -le 6 ] || usage
    name=$2 base=$3 case=$4
    shift 4
    builds=("$@")
    for ((i = 1; i <= rounds; ++i)); do
        for b in "${!builds[@]}"; do
            run "${builds[$b]}" "$name" "$work/b$b.base.$i.json" "^$base(/|\$)"
            run "${builds[$b]}" "$name" "$work/b$b.case.$i.json" "^$case(/|\$)"
        done
    done
    mode=cases
    set -- "$name" "$base" "$case" "${builds[@]}"
else
    [ $# -ge 3 ] || usage
    old=$1 new=$2
    shift 2
    for name in "$@"; do
        for ((i = 1; i <= rounds; ++i)); do
            run "$old" "$name" "$work/$name.b0.$i.json" "${FILTER:-}"
            run "$new" "$name" "$work/$name.b1.$i.json" "${FILTER:-}"
        done
    done
    mode=builds
fi

python3 - "$work" "$rounds" "$core" "$mode" "$@" <<'PY'
import json, statistics, sys

work, rounds, core, mode, args = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5:]


def medians(path_of):
    """{case: (real median, cpu median, unit)} over the rounds' files."""
    runs = {}
    for i in range(1, rounds + 1):
        with open(path_of(i)) as f:
            for b in json.load(f)["benchmarks"]:
                if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
                    continue
                runs.setdefault(b["name"], []).append((b["real_time"], b["cpu_time"], b["time_unit"]))
    return {
        case: (statistics.median(r for r, _, _ in v), statistics.median(c for _, c, _ in v), v[0][2], len(v))
        for case, v in runs.items()
    }


def row(label, m):
    real, cpu, unit, n = m
    # Fewer runs than rounds: the case failed in some of them.
    note = "" if n >= rounds else f"  ({n} of {rounds} rounds)"
    return f"{label[:44]:44} {real:9.2f}{unit:>2} {cpu:9.2f}{unit:>2}{note}"


print(f"median of {rounds} alternated rounds, pinned to core {core}; cpu = the benchmark thread's CPU time")
print(f"{'':44} {'wall':>11} {'cpu':>11}")
if mode == "builds":
    for name in args:
        old = medians(lambda i: f"{work}/{name}.b0.{i}.json")
        new = medians(lambda i: f"{work}/{name}.b1.{i}.json")
        print(f"kelvara_bench_{name}")
        for case in old:
            if case not in new:
                continue
            o, n = old[case], new[case]
            print(case)
            print(row("  old", o))
            print(row("  new", n))
            print(f"{'  new / old':44} {n[0] / o[0]:11.3f} {n[1] / o[1]:11.3f}")
else:
    name, base, case, builds = args[0], args[1], args[2], args[3:]
    per_build = []
    for b, build in enumerate(builds):
        # Each file holds the one case its filter picked (the name may
        # carry a suffix such as /real_time).
        mb = next(iter(medians(lambda i: f"{work}/b{b}.base.{i}.json").values()), None)
        mc = next(iter(medians(lambda i: f"{work}/b{b}.case.{i}.json").values()), None)
        if mb is None or mc is None:
            print(f"{build}: a case did not run (wrong name, or it failed in every round)")
            sys.exit(1)
        per_build.append((mb, mc))
        label = "" if len(builds) == 1 else ("old " if b == 0 else "new ")
        print(f"{label}{build}")
        print(row(f"  {base}", mb))
        print(row(f"  {case}", mc))
        print(f"{'  ratio':44} {mc[0] / mb[0]:11.3f} {mc[1] / mb[1]:11.3f}")
    if len(per_build) == 2:
        (ob, oc), (nb, nc) = per_build
        print(f"{'new / old, ' + case:44} {nc[0] / oc[0]:11.3f} {nc[1] / oc[1]:11.3f}")
        print(f"{'new / old, ' + base:44} {nb[0] / ob[0]:11.3f} {nb[1] / ob[1]:11.3f}")
PY
