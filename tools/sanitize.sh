#!/usr/bin/env bash
# tools/sanitize.sh [asan|tsan] [CTEST ARGUMENTS...]: builds the whole project with clang under
# the sanitizers, installing what is missing, and runs the tests in that build; exits non-zero
# when a test fails or any instrumented process (a test, the server it started, dorxctl) reported
# anything.
#   asan (the default): AddressSanitizer with LeakSanitizer and UndefinedBehaviorSanitizer, in
#        build-asan/, the fuzz targets of tools/fuzz.sh included; .ci/run runs this.
#   tsan: ThreadSanitizer, in build-tsan/.
# The reports go to files in build-KIND/reports/, one per process, never to the output a test
# compares, and are printed at the end. e.g. tools/sanitize.sh tsan -R test_listener
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

kind=${1:-asan}
[ $# -eq 0 ] || shift
case "$kind" in
asan | tsan) ;;
*)
    echo "usage: tools/sanitize.sh [asan|tsan] [CTEST ARGUMENTS...]" >&2
    exit 2
    ;;
esac
build=build-$kind

tools/sanitize/configure.sh "$kind"
# The browser tests of the pages need what tools/test.sh installs for them.
tools/install-packages.sh openssl dbus curl chromium chromium-driver python3-selenium \
    fonts-wqy-microhei
cmake --build "$build" -j"$(nproc)"

reports=$root/$build/reports
rm -rf "$reports"
mkdir -p "$reports"
# Every process of the run inherits these, the servers that the end-to-end tests start included.
# A report ends its process at once (a server that stops answering fails its test too), and the
# report file is what fails the run: a report at the exit of a server, after its test has
# passed, is caught as well.
common=log_path=$reports/report:print_suppressions=0
export UBSAN_OPTIONS=$common:halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=$common:halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1
export LSAN_OPTIONS=$common
# ThreadSanitizer goes on after a report, so one run shows every race.
export TSAN_OPTIONS=$common:halt_on_error=0:ignore_noninstrumented_modules=1:second_deadlock_stack=1:suppressions=$root/tools/sanitize/tsan.supp

status=0
(cd "$build" && ctest --output-on-failure -j"$(nproc)" "$@") || status=$?

found=("$reports"/*)
if [ -e "${found[0]}" ]; then
    for report in "${found[@]}"; do
        echo "===== ${report#"$root"/}"
        cat "$report"
    done
    echo "sanitize $kind: ${#found[@]} process(es) reported errors (above)" >&2
    exit 1
fi
exit "$status"
