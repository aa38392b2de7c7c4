#!/usr/bin/env bash
# Builds (installing what is missing) and runs every test; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
cd build
ctest --output-on-failure -j"$(nproc)" "$@"
