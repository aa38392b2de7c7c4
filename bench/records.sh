#!/usr/bin/env bash
# Times the record commands through the HTTP API (persons replaced, a page of 100 persons, an
# access-record range of 100 among 100,000) beside the same store work done directly. Builds what
# it needs into build/ (or $DORX_BUILD_DIR). Usage: bench/records.sh [runs per measurement, default 200]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh recordbench >/dev/null
build=${DORX_BUILD_DIR:-build}
QT_LOGGING_RULES="*.debug=false" "$build/bench/recordbench" "${1:-200}"
