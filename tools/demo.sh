#!/usr/bin/env bash
# tools/demo.sh [--keep] [PORT]: builds what the demo runs (installing what is missing) and serves
# the sample configuration and pages on PORT (8080), laid out as on the terminal in a scratch
# directory of the port's own, $DORX_DEMO_DIR/dorx-demo-PORT (DORX_DEMO_DIR: /tmp):
#   bin/DORXWebOnDevice       the executable
#   bin/recordingshell        the shell the sample configuration names: it only records reboot,
#                             date, ... in shell.log
#   etc/DORXWebOnDevice.ini   etc/DORXWebOnDevice.ini (found as bin/../etc) with host set to
#                             $DORX_DEMO_HOST (127.0.0.1; empty listens on every address)
#   docroot/                  copy of docroot/
#   log/DORXWebOnDevice.log   the log; log/accessdaemon.log: what the access daemon's stand-in got
#   bus                       socket of the demo's private D-Bus session bus
# The directory is also the working directory: databases, settings files, shell.log, the network
# file "interfaces". Every run starts afresh; --keep keeps them, the log and the configuration
# (with the device account) of the last run. "Serving on port PORT" comes once the server
# answers; a server that does not start ends the script with its message and exit status.
# Ctrl-C or a kill of the script stops the server, the access daemon's stand-in and the bus.
# The programs come from build/ (or $DORX_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: tools/demo.sh [--keep] [PORT]"
keep=no
port=8080
for argument in "$@"; do
    case $argument in
    --keep) keep=yes ;;
    -h | --help) echo "$usage" && exit 0 ;;
    "" | *[!0-9]*) echo "$usage" >&2 && exit 2 ;;
    *) port=$argument ;;
    esac
done
build=${DORX_BUILD_DIR:-build}
work=${DORX_DEMO_DIR:-/tmp}/dorx-demo-$port
host=${DORX_DEMO_HOST-127.0.0.1}

# One demo per port: a second one must neither wipe nor overwrite the files of the first. The
# lock is inherited by what the demo starts, so it holds while any of it runs.
mkdir -p "$work"
exec 9>>"$work/.lock"
if ! flock -n 9; then
    echo "tools/demo.sh: a demo already runs in $work: stop it, or give another port" >&2
    exit 1
fi

tools/build.sh DORXWebOnDevice dorxctl fakeaccessdaemon

if [ "$keep" = no ]; then
    find "$work" -mindepth 1 -maxdepth 1 ! -name .lock -exec rm -rf {} +
fi
rm -rf "${work:?}/bin" "$work/docroot" "$work/bus"
mkdir -p "$work/bin" "$work/etc" "$work/log"
cp "$build/DORXWebOnDevice" tools/recordingshell "$work/bin/"
cp -r docroot "$work/docroot"
if [ "$keep" = no ] || [ ! -f "$work/etc/DORXWebOnDevice.ini" ]; then
    awk -v host="$host" '/^host=/ { print "host=" host; next } { print }' \
        etc/DORXWebOnDevice.ini >"$work/etc/DORXWebOnDevice.ini"
fi
# Only this run's server serves this text: an answer from another program that holds the port
# does not count as the demo serving.
token="demo $$ $RANDOM $(date +%s%N)"
echo "$token" >"$work/docroot/demo-run.txt"

# What the demo started, stopped newest first: asked with SIGTERM, killed after 10 s.
started=()
running() { # PID: true while it runs (an ended child not yet waited for counts as ended)
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}
stop_all() {
    local i pid
    for ((i = ${#started[@]} - 1; i >= 0; i--)); do
        pid=${started[i]}
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 100); do running "$pid" || break; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}
trap stop_all EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Polls COMMAND... every 0.1 s while PID runs, for at most a minute; false when it never held.
wait_for() {
    local pid=$1
    shift
    for _ in $(seq 600); do
        "$@" && return 0
        running "$pid" || return 1
        sleep 0.1
    done
    return 1
}
not_empty() { [ -s "$1" ]; }
says_ready() { grep -qx ready "$1"; }
case $host in
"" | 0.0.0.0 | ::) probe=127.0.0.1 ;;
*:*) probe="[$host]" ;;
*) probe=$host ;;
esac
answers() { [ "$(curl -fs --max-time 2 "http://$probe:$port/demo-run.txt")" = "$token" ]; }

# A private session bus, never the machine's, and on it the access daemon's stand-in: each command
# it receives (a door opened with dorxctl arrives as "open.1") goes to log/accessdaemon.log.
dbus-daemon --session --nofork --address="unix:path=$work/bus" --print-address=1 \
    >"$work/log/bus.address" 2>"$work/log/bus.log" &
started+=("$!")
wait_for "$!" not_empty "$work/log/bus.address" || {
    echo "tools/demo.sh: the demo's D-Bus session bus did not start (see $work/log/bus.log)" >&2
    exit 1
}
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
"$build/fakeaccessdaemon" --log "$work/log/accessdaemon.log" >"$work/log/accessdaemon.out" &
started+=("$!")
wait_for "$!" says_ready "$work/log/accessdaemon.out" || {
    echo "tools/demo.sh: the access daemon's stand-in did not start" >&2
    exit 1
}

(cd "$work" && exec "$work/bin/DORXWebOnDevice" "$port") &
server=$!
started+=("$server")
if ! wait_for "$server" answers; then
    status=1
    running "$server" || wait "$server" || status=$?
    echo "tools/demo.sh: the server did not start on port $port (see above and" \
        "$work/log/DORXWebOnDevice.log)" >&2
    exit "$status"
fi
echo "Serving on port $port: open http://$probe:$port/ and log in as dorx, password 6172839405."
echo "Working directory $work, log $work/log/DORXWebOnDevice.log;"
echo "the access daemon's stand-in writes what it receives to $work/log/accessdaemon.log."
echo "Ctrl-C stops it."
status=0
wait "$server" || status=$?
exit "$status"
