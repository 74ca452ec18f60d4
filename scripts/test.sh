#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the whole suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer, the threaded parts under
# ThreadSanitizer, each fuzz target for a bounded time, and the soak run (scripts/soak.sh).
#
#   scripts/test.sh            everything
#   KX_FUZZ_SECONDS=10 scripts/test.sh   shorter fuzzing (default 30 s per target)
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:exitcode=23"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Leaks kept on purpose by third-party libraries (the list says which and why).
export LSAN_OPTIONS="suppressions=$(pwd)/scripts/lsan-suppressions.txt"

step() { printf '\n=== %s ===\n' "$*"; }

step "build and test (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C build -j "$jobs"
# The 64-client stress test of one receiver port runs its full minute here and 20 s under
# the sanitizers.
KX_DEMOD_STRESS_SECONDS=60 ctest --test-dir build --output-on-failure -j "$jobs"

step "build and test under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON -DKX_BUILD_BENCH=OFF
ninja -C build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs"

# The threaded components: platform layer, FIFO servers, managers, device watchers, the
# virtual cards, and the hostile-client attacks against the simulator.
TSAN_TESTS=(test_platform test_service test_process test_device test_sim test_network test_demod test_hal test_demodclient test_security)
step "threaded parts under ThreadSanitizer: ${TSAN_TESTS[*]}"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKX_TSAN=ON -DKX_BUILD_BENCH=OFF
ninja -C build-tsan -j "$jobs" "${TSAN_TESTS[@]}" KxapiServiceSim kxctl
labels=$(IFS='|'; echo "^(${TSAN_TESTS[*]//test_/})\$")
# Any race report fails the test program. ASLR is turned off for the run because this
# ThreadSanitizer runtime cannot map its shadow memory under the kernel's larger ASLR range.
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L "$labels"

if [ -x scripts/run-fuzz.sh ]; then
  step "fuzz targets, ${KX_FUZZ_SECONDS:-30} s each"
  scripts/run-fuzz.sh "${KX_FUZZ_SECONDS:-30}"
fi

# The soak run: 64 client processes against the simulator for 3 minutes, with clients
# killed and cards unplugged meanwhile; the service's resources must come back.
step "soak run (scripts/soak.sh)"
scripts/soak.sh </dev/null

step "all tests passed"
