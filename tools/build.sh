#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages, only when missing), then
# configures and builds into build/. Safe to run again: a second run only rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-packages.sh cmake g++ make qtbase5-dev libqt5sql5-sqlite openssl dbus curl

[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
