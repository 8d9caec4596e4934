#!/usr/bin/env bash
# Sets up, builds everything and runs the whole test suite: the Release build
# with every test and the LV2 bundle's check, then the unit and integration
# tests again under the address and undefined-behaviour sanitizers, the thread
# stress test under the thread sanitizer, and the chunk fuzzer for a minute.
# Each stage prints its time. QUOR_QUICK=1 stops after the Release checks.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc 2>/dev/null || echo 2)
started=$SECONDS
stage_start=$SECONDS
stage_done() {
  echo "== stage '$1' took $((SECONDS - stage_start)) s (total $((SECONDS - started)) s)"
  stage_start=$SECONDS
}

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
stage_done "release build"
ctest --test-dir build --output-on-failure -j "$jobs" --timeout 600
stage_done "release tests"
scripts/check_lv2.sh build
stage_done "LV2 bundle check"
[ "${QUOR_QUICK:-0}" = 1 ] && exit 0

# Any sanitizer report fails the run.
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
sanitized=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++
           -DQUOR_BUILD_TOOLS=OFF -DQUOR_BUILD_BENCH=OFF)

cmake -S . -B build-asan "${sanitized[@]}" -DQUOR_SANITIZE=address,undefined -DQUOR_BUILD_FUZZ=ON
cmake --build build-asan -j "$jobs"
stage_done "address+undefined build"
ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 600
stage_done "address+undefined tests"

cmake -S . -B build-tsan "${sanitized[@]}" -DQUOR_SANITIZE=thread
cmake --build build-tsan -j "$jobs" --target quor_integration_tests
stage_done "thread build"
build-tsan/tests/quor_integration_tests --gtest_filter='*StressThreads*'
stage_done "thread stress test"

rm -rf build-asan/fuzz && mkdir -p build-asan/fuzz/seeds build-asan/fuzz/corpus build-asan/fuzz/artifacts
build-asan/tests/fuzz/quor_chunk_seeds build-asan/fuzz/seeds
if ! build-asan/tests/fuzz/quor_chunk_fuzz -max_total_time="${QUOR_FUZZ_SECONDS:-60}" -max_len=4096 \
  -timeout=25 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix=build-asan/fuzz/artifacts/ \
  build-asan/fuzz/corpus build-asan/fuzz/seeds > build-asan/fuzz/log 2>&1; then
  tail -n 100 build-asan/fuzz/log
  echo "The chunk fuzzer found a fault; the input is in build-asan/fuzz/artifacts/" >&2
  exit 1
fi
grep -E '^(Done|stat::)' build-asan/fuzz/log
stage_done "chunk fuzzer"
