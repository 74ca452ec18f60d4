#!/usr/bin/env bash
# Builds the Release benchmarks and runs each with its reference in the same run, every
# process pinned to one processor (the service, the clients and the raw ping-pong's echo
# process alike), then prints one table: benchmark, median, p99, reference, ratio, target,
# pass/fail. The benchmarks' own output goes to build-release/bench-logs/.
#
#   scripts/bench.sh                 everything (about four minutes)
#   KX_BENCH_CPU=0 scripts/bench.sh  pinned to processor 0 instead of 1
#   KX_BENCH_IDLE_S=10 scripts/bench.sh  shorter idle and polling CPU measurements (default 30 s)
set -euo pipefail
cd "$(dirname "$0")/.."

cpu=${KX_BENCH_CPU:-1}
build=build-release
logs=$build/bench-logs
programs=(GlobalRoundTripBench DemodServiceBench DemodLoadBench StartupBench)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" KxapiServiceSim "${programs[@]}" >/dev/null
mkdir -p "$logs"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for program in "${programs[@]}"; do
  echo "running $program (pinned to processor $cpu) ..." >&2
  taskset -c "$cpu" "$build/bench/$program" >"$logs/$program.txt" 2>"$logs/$program.err" || true
done

echo "machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
  "kernel $(uname -r); load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg);"\
  "pinned to processor $cpu"
cat "$logs"/*.txt | awk '
  /^RESULT / {
    name = $2; delete v
    for (i = 3; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
    if ("ratio" in v) {
      figure = v["ratio"]; median = v["median_us"] " us"; p99 = v["p99_us"] " us"; ref = v["ref_us"] " us"
      ratio = v["ratio"]
    } else {
      figure = v["value"]; unit = (name ~ /_per_s$/) ? " /s" : " %"
      median = ("median_us" in v) ? v["median_us"] / 1000 " ms" : v["value"] unit
      p99 = ("p99_us" in v) ? v["p99_us"] / 1000 " ms" : "-"; ref = "-"; ratio = "-"
    }
    target = v["target"]
    verdict = (target + 0 == 0) ? "info" : ((figure + 0 <= target + 0) ? "pass" : "FAIL")
    rows[++n] = sprintf("| %-22s | %12s | %12s | %12s | %6s | %7s | %-4s |", name, median, p99, ref, ratio,
                        (target + 0 == 0) ? "-" : "<= " target, verdict)
  }
  END {
    printf("| %-22s | %12s | %12s | %12s | %6s | %7s | %-4s |\n", "benchmark", "median", "p99", "reference",
           "ratio", "target", "")
    printf("|%s|%s|%s|%s|%s|%s|%s|\n", "------------------------", "--------------", "--------------",
           "--------------", "--------", "---------", "------")
    for (i = 1; i <= n; i++) print rows[i]
  }'
