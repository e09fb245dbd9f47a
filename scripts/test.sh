#!/usr/bin/env bash
# Sets up, builds and runs every test. Ends with CTest's summary line.
#  1. The normal tree (BUILD_DIR, g++): unit, GL, end-to-end and soak tests.
#  2. The sanitizer tree (ASAN_BUILD_DIR, clang with AddressSanitizer, UndefinedBehaviorSanitizer
#     and LeakSanitizer, plus the libFuzzer targets): the whole suite again, end-to-end included,
#     and every fuzz target for QUENLOR_FUZZ_SECONDS (default 60) as tests labelled "fuzz".
# The sanitizer tree is built while the normal tree's tests run (the soak mostly waits on its
# frame pacing). The normal tree's results are printed when they are complete; if they failed, the
# script ends there, so the last line is always the summary of the run that decided the outcome.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
ASAN_BUILD_DIR=${ASAN_BUILD_DIR:-build-asan}
JOBS=$(nproc)

# Each soak renders 20,000 frames (the desktop one at least 260 s with its 13 ms pacing; the headset
# one on a simulated device with quarter-density eye textures, about 27 ms a frame on llvmpipe).
# Line tables only (-g1): backtraces keep their files and lines, and the cold build is faster.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DQUENLOR_SOAK_FRAMES="${QUENLOR_SOAK_FRAMES:-20000}" \
  -DQUENLOR_SOAK_HEADSET_FRAMES="${QUENLOR_SOAK_HEADSET_FRAMES:-20000}" >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS"
(cd "$BUILD_DIR" && ctest --output-on-failure -j"$JOBS" --timeout 1500) >"$BUILD_DIR/ctest.log" 2>&1 &
normal_tests=$!

CC=clang CXX=clang++ cmake -S . -B "$ASAN_BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUENLOR_SANITIZE=ON -DQUENLOR_FUZZ=ON -DQUENLOR_BENCH=OFF \
  -DQUENLOR_FUZZ_SECONDS="${QUENLOR_FUZZ_SECONDS:-60}" >/dev/null
# Lower priority, so that the tests running beside the build keep their timing.
nice -n 10 cmake --build "$ASAN_BUILD_DIR" -j"$JOBS"

normal_status=0
wait "$normal_tests" || normal_status=$?
cat "$BUILD_DIR/ctest.log"
[ "$normal_status" -eq 0 ] || exit "$normal_status"

# Every finding stops its test with a report; leaks in the GL driver and X libraries are known
# and suppressed by library name only.
export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
# LeakSanitizer can only name a library that is still mapped at exit, and the GL driver is unloaded
# when the last context goes: keep the driver's libraries loaded so that the suppressions match.
export LD_PRELOAD=$(bash tests/sanitizers/gl-driver-libs.sh)
cd "$ASAN_BUILD_DIR"
ctest --output-on-failure -j"$JOBS" --timeout 1500
