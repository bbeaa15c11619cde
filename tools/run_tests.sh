#!/bin/sh
# Set-up, then build and run every test twice: an optimised build with warnings as
# errors, and a debug build under AddressSanitizer and UndefinedBehaviorSanitizer; then the
# tests of the work an integration shares between two threads under ThreadSanitizer.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh" --tests
jobs=$(nproc)

cmake -S "$top" -B "$top/build-release" -DCMAKE_BUILD_TYPE=Release -DTAVOLINE_WERROR=ON >/dev/null
cmake --build "$top/build-release" -j "$jobs"
ctest --test-dir "$top/build-release" --output-on-failure -j "$jobs"

cmake -S "$top" -B "$top/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DTAVOLINE_WERROR=ON \
      -DTAVOLINE_SANITIZE=ON >/dev/null
cmake --build "$top/build-sanitize" -j "$jobs"
ctest --test-dir "$top/build-sanitize" --output-on-failure -j "$jobs"

cmake -S "$top" -B "$top/build-tsan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVOLINE_WERROR=ON \
      -DTAVOLINE_TSAN=ON >/dev/null
cmake --build "$top/build-tsan" -j "$jobs" --target test_numeric test_experiments
# without address-space randomisation where the machine allows it: its larger ranges on
# recent kernels are more than the sanitizer's memory layout expects
norandom=""
if setarch "$(uname -m)" -R true 2>/dev/null; then norandom="setarch $(uname -m) -R"; fi
tsan="env TSAN_OPTIONS=halt_on_error=1 $norandom"
$tsan "$top/build-tsan/tests/test_numeric" --gtest_filter='*HeatEquation.TwoThreads*:*BlockTridiagonal*'
$tsan "$top/build-tsan/tests/test_experiments" --gtest_filter='MembraneSystem.*'

# About a minute of libFuzzer per target (skipped where clang is missing).
"$top/tools/run_fuzz.sh" 60
