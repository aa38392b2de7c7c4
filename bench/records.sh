#!/usr/bin/env bash
# Times the record commands through the HTTP API (persons replaced, a page of 100 persons, an
# access-record range of 100 among 100,000) beside the same store work done directly. Builds what
# it needs into build/ (or $BUILD_DIR). Usage: bench/records.sh [runs per measurement, default 200]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --target recordbench -j2 >/dev/null
QT_LOGGING_RULES="*.debug=false" "$build/bench/recordbench" "${1:-200}"
