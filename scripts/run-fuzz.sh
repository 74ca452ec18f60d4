#!/usr/bin/env bash
# Builds every fuzz target (fuzz/*Fuzz.cpp) with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, and runs each one for a bounded time starting from
# its seed corpus in fuzz/corpus/<target>/. Any crash, leak, hang or sanitizer report fails.
#
#   scripts/run-fuzz.sh [SECONDS]     seconds per target, default 60
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build_dir="${KX_FUZZ_BUILD_DIR:-build-fuzz}"

targets=()
for source in fuzz/*Fuzz.cpp; do
  [ -e "$source" ] || continue
  targets+=("$(basename "$source" .cpp)")
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets"
  exit 0
fi

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKX_BUILD_FUZZ=ON -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined"
ninja -C "$build_dir" -j "$(nproc)" "${targets[@]}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
for target in "${targets[@]}"; do
  work="$build_dir/fuzz-work/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  seeds=()
  [ -d "fuzz/corpus/$target" ] && seeds+=("fuzz/corpus/$target")
  echo "=== $target: ${seconds} s ==="
  if ! "$build_dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
       -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" "${seeds[@]}" \
       > "$work/log.txt" 2>&1; then
    tail -n 60 "$work/log.txt"
    echo "FAILED: $target (log and reproducer in $work)"
    failed=1
  else
    grep -E "^stat::number_of_executed_units|^Done" "$work/log.txt" | tail -n 2 || true
  fi
done
exit "$failed"
