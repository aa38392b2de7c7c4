#!/usr/bin/env bash
# Static files: our server beside Debian's lighttpd on the same docroot, on loopback, measured
# with wrk in one run, alternating ours and lighttpd (A B A B) so that the machine's noise falls
# on both alike. 1 KB (served from our cache) and 70 KB (read from disk) files at 1, 8, 64 and
# 256 connections; per row req/s, p99 latency, non-2xx replies and the ratio ours/lighttpd, then
# the resident memory of both at idle and after the run, beside a bare Qt Core + Network + Sql
# program that opens one SQLite file (the floor). Installs wrk and lighttpd when missing and
# builds what it needs into build/ (or $DORX_BUILD_DIR).
# Usage: bench/http.sh [seconds per measurement, default 2]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-2}"
tools/install-packages.sh wrk lighttpd
tools/build.sh DORXWebOnDevice rssfloor >/dev/null
build=${DORX_BUILD_DIR:-build}

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
wait_port() { for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0; sleep 0.1; done; return 1; }

mkdir -p "$work/docroot" "$work/server" "$work/floor"
head -c 1024 /dev/urandom >"$work/docroot/1k.bin"
head -c 71680 /dev/urandom >"$work/docroot/70k.bin"

ours=$(free_port)
cp "$build/DORXWebOnDevice" "$work/server/"
cat >"$work/server/DORXWebOnDevice.ini" <<EOF
[listener]
host=127.0.0.1
cleanupInterval=100
[logging]
fileName=server.log
minLevel=INFO
[docroot]
path=$work/docroot
EOF
(cd "$work/server" && exec ./DORXWebOnDevice "$ours" 2>/dev/null) &
pids+=($!)
ours_pid=$!

theirs=$(free_port)
cat >"$work/lighttpd.conf" <<EOF
server.document-root = "$work/docroot"
server.bind = "127.0.0.1"
server.port = $theirs
server.errorlog = "$work/lighttpd.log"
server.max-keep-alive-requests = 1000000
server.max-connections = 1024
mimetype.assign = (".bin" => "application/octet-stream")
EOF
/usr/sbin/lighttpd -D -f "$work/lighttpd.conf" &
pids+=($!)
theirs_pid=$!

floor_port=$(free_port)
"$build/bench/rssfloor" "$floor_port" "$work/floor/floor.db" &
pids+=($!)
floor_pid=$!

wait_port "$ours" && wait_port "$theirs" && wait_port "$floor_port"
sleep 1
ours_idle=$(rss_kb "$ours_pid")
theirs_idle=$(rss_kb "$theirs_pid")
floor=$(rss_kb "$floor_pid")

# Prints "req/s bytes/s p99-ms non2xx" of one wrk run.
measure() {
    local port=$1 file=$2 connections=$3 threads=2
    [ "$connections" -gt 1 ] || threads=1
    wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "http://127.0.0.1:$port/$file" |
        awk '
            function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
            function bytes(v) { n = v + 0; if (v ~ /KB$/) n *= 1024; if (v ~ /MB$/) n *= 1048576; if (v ~ /GB$/) n *= 1073741824; return n }
            /^ +99%/ { p99 = ms($2) }
            /^Requests\/sec/ { rps = $2 }
            /^Transfer\/sec/ { bps = bytes($2) }
            /Non-2xx/ { bad += $NF }
            /Socket errors/ { }
            END { printf "%.0f %.0f %.2f %d\n", rps, bps, p99, bad }'
}

echo "Static files over loopback, ${seconds} s per measurement, ours and lighttpd alternating A B A B"
echo "$(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
printf '%-5s %5s | %10s %8s %6s | %10s %8s %6s | %6s %6s\n' file conns "ours req/s" "p99 ms" non2xx \
    "lighttpd" "p99 ms" non2xx "ratio" "bytes"
for file in 1k.bin 70k.bin; do
    for connections in 1 8 64 256; do
        read -r a1 ab1 ap1 an1 <<<"$(measure "$ours" "$file" "$connections")"
        read -r b1 bb1 bp1 bn1 <<<"$(measure "$theirs" "$file" "$connections")"
        read -r a2 ab2 ap2 an2 <<<"$(measure "$ours" "$file" "$connections")"
        read -r b2 bb2 bp2 bn2 <<<"$(measure "$theirs" "$file" "$connections")"
        awk -v f="${file%.bin}" -v c="$connections" -v a1="$a1" -v a2="$a2" -v b1="$b1" -v b2="$b2" \
            -v ab1="$ab1" -v ab2="$ab2" -v bb1="$bb1" -v bb2="$bb2" -v ap1="$ap1" -v ap2="$ap2" \
            -v bp1="$bp1" -v bp2="$bp2" -v an="$((an1 + an2))" -v bn="$((bn1 + bn2))" 'BEGIN {
                a = (a1 + a2) / 2; b = (b1 + b2) / 2
                printf "%-5s %5d | %10.0f %8.2f %6d | %10.0f %8.2f %6d | %6.2f %6.2f\n", f, c, a,
                    (ap1 > ap2 ? ap1 : ap2), an, b, (bp1 > bp2 ? bp1 : bp2), bn,
                    (b > 0 ? a / b : 0), (bb1 + bb2 > 0 ? (ab1 + ab2) / (bb1 + bb2) : 0) }'
    done
done
ours_after=$(rss_kb "$ours_pid")
theirs_after=$(rss_kb "$theirs_pid")
# The pool ends one idle handler thread per "cleanupInterval" (100 ms here) once connections close.
for _ in $(seq 300); do
    [ "$(awk '/^Threads/ {print $2}' "/proc/$ours_pid/status")" -le 2 ] && break
    sleep 0.1
done
ours_settled=$(rss_kb "$ours_pid")
echo "(p99: the larger of the two runs; ratio: req/s ours/lighttpd; bytes: bytes/s ours/lighttpd)"
echo "RSS KiB: floor (Qt Core+Network+Sql, one SQLite file) $floor; ours idle $ours_idle," \
    "after the run $ours_after, once its handler threads ended $ours_settled;" \
    "lighttpd idle $theirs_idle, after $theirs_after"
