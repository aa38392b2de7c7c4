#!/usr/bin/env bash
# Builds (installing what is missing) and runs the server on port 8080 (or the port given) with
# the sample configuration and pages, laid out as on the terminal:
#   /tmp/dorx-demo/bin/DORXWebOnDevice        the executable
#   /tmp/dorx-demo/bin/recordingshell         the shell the sample configuration names: it only
#                                             records reboot, date, ... in /tmp/dorx-demo/shell.log
#   /tmp/dorx-demo/etc/DORXWebOnDevice.ini    copy of etc/DORXWebOnDevice.ini (found as bin/../etc)
#   /tmp/dorx-demo/docroot/                   copy of docroot/
#   /tmp/dorx-demo/log/DORXWebOnDevice.log    the log
# The working directory is /tmp/dorx-demo, where the databases and settings files are kept
# between runs; the program, configuration and pages are copied afresh on every run.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
work=/tmp/dorx-demo
mkdir -p "$work/bin" "$work/etc" "$work/log"
cp build/DORXWebOnDevice tools/recordingshell "$work/bin/"
cp etc/DORXWebOnDevice.ini "$work/etc/"
rm -rf "$work/docroot"
cp -r docroot "$work/docroot"
echo "Starting on port ${1:-8080}; working directory $work, log $work/log/DORXWebOnDevice.log"
cd "$work"
exec "$work/bin/DORXWebOnDevice" "${1:-8080}"
