#!/usr/bin/env bash
# tools/build.sh [TARGET...]: installs what the build and the tests need (Debian packages, only
# when missing), then configures and builds into build/ (or $DORX_BUILD_DIR): everything, or the
# CMake targets named. Safe to run again: a second run only rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake g++ make qtbase5-dev libqt5sql5-sqlite openssl dbus curl

build=${DORX_BUILD_DIR:-build}
targets=()
[ $# -eq 0 ] || targets=(--target "$@")
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j"$(nproc)" "${targets[@]}"
