#!/usr/bin/env bash
# Builds (installing what is missing) and runs the server on port 8080 (or the port given) with
# the sample configuration and pages, laid out as on the terminal:
#   /tmp/dorx-demo/bin/DORXWebOnDevice        the executable
#   /tmp/dorx-demo/bin/recordingshell         the shell the sample configuration names: it only
#                                             records reboot, date, ... in /tmp/dorx-demo/shell.log
#   /tmp/dorx-demo/etc/DORXWebOnDevice.ini    copy of etc/DORXWebOnDevice.ini (found as bin/../etc)
#   /tmp/dorx-demo/docroot/                   copy of docroot/
#   /tmp/dorx-demo/log/DORXWebOnDevice.log    the log
#   /tmp/dorx-demo/log/accessdaemon.log       what the access daemon's stand-in received
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
# A stand-in for the access daemon, on a private session bus of the demo's own, for as long as the
# server runs: each command it receives (a door opened with dorxctl arrives as "open.1") is
# appended to $work/log/accessdaemon.log.
bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1)
export DBUS_SESSION_BUS_ADDRESS="${bus%%$'\n'*}"
bus_pid="${bus##*$'\n'}"
build/fakeaccessdaemon --log "$work/log/accessdaemon.log" >/dev/null &
daemon_pid=$!
trap 'kill "$daemon_pid" "$bus_pid" 2>/dev/null || true' EXIT
echo "Starting on port ${1:-8080}; working directory $work, log $work/log/DORXWebOnDevice.log"
echo "Access daemon stand-in: commands it receives go to $work/log/accessdaemon.log"
cd "$work"
"$work/bin/DORXWebOnDevice" "${1:-8080}"
