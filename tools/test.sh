#!/usr/bin/env bash
# Builds (installing what is missing) and runs every test; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
# The browser tests of the pages (tests/web) drive Debian's headless Chromium through its
# ChromeDriver from Python; the font shows Chinese texts in their screenshots.
tools/install-packages.sh chromium chromium-driver python3-selenium fonts-wqy-microhei
cd "${DORX_BUILD_DIR:-build}"
ctest --output-on-failure -j"$(nproc)" "$@"
