#!/usr/bin/env bash
# Commands over HTTP on loopback, measured with wrk: the browser's read command operator_get on
# a logged-in session, and the encrypted getinfo/txid (a read and a write of the operator
# database) on a management session, at 1 and 8 connections; beside them the SQLite work of
# operator_get ("select * from user") in a tight loop on one kept connection, and the ratio.
# Installs wrk when missing and builds what it needs into build/ (or $DORX_BUILD_DIR).
# Usage: bench/commands.sh [seconds per measurement, default 2]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-2}"
tools/install-packages.sh wrk
tools/build.sh DORXWebOnDevice dorxctl commandbench >/dev/null
build=$(cd "${DORX_BUILD_DIR:-build}" && pwd)

work=$(mktemp -d)
server_pid=""
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
url="http://127.0.0.1:$port"
cp "$build/DORXWebOnDevice" "$work/"
cat >"$work/DORXWebOnDevice.ini" <<EOT
[listener]
host=127.0.0.1
[logging]
fileName=server.log
minLevel=INFO
EOT
(cd "$work" && exec ./DORXWebOnDevice "$port" 2>/dev/null) &
server_pid=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done

export DORXCTL_SESSION="$work/dorxctl-session"
"$build/dorxctl" --url "$url" form /command/writesn SN-0012345 >/dev/null
password=$("$build/dorxctl" deshex 6172839405)
browser=$(curl -s -D - -o /dev/null -d "username=dorx&password=$password" "$url/command/login" |
    sed -n 's/^Set-Cookie: sessionid=\([^;]*\).*/\1/p' | tr -d '\r')
"$build/dorxctl" --url "$url" --devicesn 12345 login dorx 6172839405 >/dev/null
management=$(sed -n 's/^cookie=\(sessionid=\)\{0,1\}//p' "$DORXCTL_SESSION")
txid=$("$build/bench/commandbench" seal '{"id":"1","devicesn":"12345","order":1,"datas":{}}')

post_script() { # body cookie
    cat <<EOT
wrk.method = "POST"
wrk.body = "$1"
wrk.headers["Cookie"] = "sessionid=$2"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
EOT
}
post_script "" "$browser" >"$work/operator_get.lua"
post_script "$txid" "$management" >"$work/txid.lua"

# Checks the reply once, then prints req/s and p99 ms of one wrk run.
measure() { # path script connections
    local threads=2
    [ "$3" -gt 1 ] || threads=1
    wrk -t"$threads" -c"$3" -d"${seconds}s" --latency -s "$2" "$url$1" |
        awk '/^ +99%/ { v = $2; p = (v ~ /us$/) ? v / 1000 : (v ~ /ms$/) ? v + 0 : v * 1000 }
             /^Requests\/sec/ { r = $2 } /Non-2xx/ { bad = $NF }
             END { printf "%.0f %.2f %d\n", r, p, bad }'
}
reply=$(curl -s -d "" -b "sessionid=$browser" "$url/command/operator_get")
case "$reply" in OK*) ;; *) echo "operator_get answered: $reply" >&2; exit 1 ;; esac
reply=$(curl -s -d "$txid" -b "sessionid=$management" "$url/command/getinfo/txid")
[ "$(printf '%s' "$reply" | wc -c)" -gt 20 ] || { echo "getinfo/txid answered: $reply" >&2; exit 1; }

read -r kept helper <<<"$(cd "$work" && "$build/bench/commandbench" select login_sql.db "$seconds")"
echo "Commands over loopback, ${seconds} s per measurement; $(nproc) cores, $(uname -m), $(date -u +%Y-%m-%d)"
echo "select * from user, tight loop on a kept connection: $kept/s (through sqlconnection: $helper/s)"
printf '%-28s %5s %10s %8s %7s %16s\n' command conns "req/s" "p99 ms" non2xx "ratio to loop"
for connections in 1 8; do
    read -r rps p99 bad <<<"$(measure /command/operator_get "$work/operator_get.lua" "$connections")"
    awk -v c="$connections" -v r="$rps" -v p="$p99" -v b="$bad" -v k="$kept" \
        'BEGIN { printf "%-28s %5d %10.0f %8.2f %7d %16.2f\n", "operator_get (browser)", c, r, p, b, r / k }'
    read -r rps p99 bad <<<"$(measure /command/getinfo/txid "$work/txid.lua" "$connections")"
    awk -v c="$connections" -v r="$rps" -v p="$p99" -v b="$bad" -v k="$kept" \
        'BEGIN { printf "%-28s %5d %10.0f %8.2f %7d %16.2f\n", "getinfo/txid (encrypted)", c, r, p, b, r / k }'
done
