#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) in the sanitizer build build-asan/ (tools/sanitize/configure.sh),
# installing what is missing, and runs every target, or only TARGET, for SECONDS each (default 30):
#   tools/fuzz.sh [TARGET|all] [SECONDS]
# Exits non-zero when any target crashes, leaks, trips a sanitizer, breaks one of its checked
# properties or hangs; the input that did it is kept in build-asan/fuzz/artifacts/ and the run's
# output in build-asan/fuzz/logs/TARGET.log. Inputs that reached new code are kept in
# build-asan/fuzz/corpus/TARGET/ and used again by the next run; the seeds stay in fuzz/corpus/.
# fuzz/fuzz_TARGET.options, where present, adds libFuzzer options (one a line) for that target.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
only=${1:-all}
seconds=${2:-30}

# The targets are those fuzz/CMakeLists.txt builds.
mapfile -t targets < <(sed -n 's/^dorx_add_fuzzer(\([a-z0-9_]*\).*/\1/p' fuzz/CMakeLists.txt)
if [ "$only" != all ]; then
    only=${only#fuzz_}
    if [[ " ${targets[*]} " != *" $only "* ]]; then
        echo "No fuzz target '$only'; there are: ${targets[*]}" >&2
        exit 2
    fi
    targets=("$only")
fi

tools/sanitize/configure.sh asan
cmake --build build-asan -j"$(nproc)" --target fuzzers

# A sanitizer report ends the run as a crash would, so it can never scroll past unnoticed.
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
mkdir -p build-asan/fuzz/artifacts build-asan/fuzz/logs
failed=()
for t in "${targets[@]}"; do
    corpus=$root/build-asan/fuzz/corpus/$t
    log=$root/build-asan/fuzz/logs/$t.log
    mkdir -p "$corpus"
    options=()
    if [ -f "fuzz/fuzz_$t.options" ]; then mapfile -t options <"fuzz/fuzz_$t.options"; fi
    # Absolute paths throughout: a target may change its working directory.
    if "$root/build-asan/fuzz/fuzz_$t" -max_total_time="$seconds" -timeout=10 \
        -dict="$root/fuzz/fuzz_$t.dict" -artifact_prefix="$root/build-asan/fuzz/artifacts/$t-" \
        -print_final_stats=1 "${options[@]}" "$corpus" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        echo "fuzz $t: clean, $runs executions in ${seconds} s ($speed/s)"
    else
        echo "fuzz $t: FAILED (build-asan/fuzz/logs/$t.log):"
        tail -n 60 "$log"
        failed+=("$t")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzz targets that failed: ${failed[*]}" >&2
    exit 1
fi
