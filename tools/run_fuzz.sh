#!/bin/sh
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz and runs each for SECONDS seconds (default 60)
# with the dictionary and the seed inputs:
#
#   tools/run_fuzz.sh [SECONDS] [TARGET...]      TARGET: input_reader, state_file, set_up,
#                                                sweep_file
#
# Fails when a target finds a crash, a sanitizer report, an unexpected exception, an
# inconsistent input copy or a hang; the input that shows it is kept as
# build-fuzz/findings/TARGET-crash-* (or -timeout-, -leak-, -oom-), the report in
# build-fuzz/findings/TARGET.log. The corpus grows in build-fuzz/corpus/TARGET across runs.
# Without clang++ it says so and succeeds.
set -e
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-input_reader state_file set_up sweep_file}
build="$top/build-fuzz"

if ! command -v clang++ >/dev/null 2>&1; then
    echo "run_fuzz.sh: clang++ not found, so no fuzzing (tools/setup.sh --tests installs it)."
    exit 0
fi

cmake -S "$top" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAVOLINE_FUZZ=ON -DTAVOLINE_TESTS=OFF >/dev/null
for t in $targets; do
    cmake --build "$build" -j "$(nproc)" --target "fuzz_$t"
done

# Seeds: every bundled input of the three forms, and saved states of the y.vec target's
# problem.
mkdir -p "$build/seeds/input" "$build/findings"
cp "$top"/examples/*.cci "$top"/tests/data/*.cci "$build/seeds/input/"

failed=0
for t in $targets; do
    case $t in
        state_file) seeds="$top/tests/fuzz/corpus/state_file" ;;
        sweep_file) seeds="$top/tests/fuzz/corpus/sweep_file" ;;
        *) seeds="$build/seeds/input" ;;
    esac
    mkdir -p "$build/corpus/$t"
    log="$build/findings/$t.log"
    # A y.vec of the wrong size waits for a key when standard input is a terminal.
    if "$build/tests/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 -max_len=8192 \
        -dict="$top/tests/fuzz/input.dict" -artifact_prefix="$build/findings/$t-" \
        -print_final_stats=1 "$build/corpus/$t" "$seeds" </dev/null >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$t: no finding in $seconds s, $runs executions"
    else
        echo "fuzz_$t: FINDING, report in $log:"
        grep -m 1 -A 8 '^FINDING\|ERROR:\|runtime error\|uncaught' "$log"
        grep 'Test unit written to' "$log"
        failed=1
    fi
done
exit $failed
