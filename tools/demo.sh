#!/usr/bin/env bash
# Builds (installing what is missing) and runs the server on port 8080 with the sample
# configuration etc/DORXWebOnDevice.ini and the sample pages in docroot/. The databases, settings
# files and the log land in a scratch working directory, never in the source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
tools/build.sh
work="${DORX_DEMO_DIR:-${TMPDIR:-/tmp}/dorx-demo}"
mkdir -p "$work"
echo "Working directory: $work"
cd "$work"
exec "$root/build/DORXWebOnDevice" "${1:-8080}"
