#!/usr/bin/env bash
# Times the access-control store: replace and fetch by key among 10,000 persons, and a page of 100
# and a record-number range of 100 among 100,000 access records. Builds what it needs into
# build/ (or $DORX_BUILD_DIR). Usage: bench/store.sh [runs per measurement, default 200]
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh storebench >/dev/null
build=${DORX_BUILD_DIR:-build}
QT_LOGGING_RULES="*.debug=false" "$build/bench/storebench" "${1:-200}"
