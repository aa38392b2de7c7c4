#!/usr/bin/env bash
# tools/sanitize/configure.sh asan|tsan: installs clang when missing and configures the sanitizer
# build folder build-asan/ or build-tsan/ once. tools/sanitize.sh builds and tests in either;
# tools/fuzz.sh builds its targets in build-asan/, so the sanitized tests and the fuzzers share
# the libraries of one build.
set -euo pipefail
cd "$(dirname "$0")/../.."

case "$1" in
asan) sanitizer=address ;;
tsan) sanitizer=thread ;;
*)
    echo "usage: tools/sanitize/configure.sh asan|tsan" >&2
    exit 2
    ;;
esac
build=build-$1

# llvm brings llvm-symbolizer, which turns the reports' addresses into file:line.
tools/install-packages.sh cmake make clang libclang-rt-dev llvm qtbase5-dev libqt5sql5-sqlite

[ ! -f "$build/CMakeCache.txt" ] || exit 0
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# -O1 with line tables only: stack traces keep file and line, and the build takes about half the
# time of -O2 -g; the sanitizers' own checks do not depend on the level.
CC=clang CXX=clang++ cmake -S . -B "$build" -DDORX_SANITIZE="$sanitizer" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only" \
    "${launcher[@]}"
