#!/usr/bin/env bash
# tools/package-test.sh [ARCH]: checks the packages the way a terminal uses them; .ci/run runs it
# after tools/test.sh, whose build/ it packs for this machine's architecture. ARCH (arm64, the
# default, or armhf) is the board's architecture, run here under qemu-user-static:
#   1. tools/package.sh ARCH; the unit tests of crypto/ and store/ built for ARCH and run under
#      emulation (byte order and 32-bit types are where a board differs);
#   2. smoke test: the server and dorxctl of the unpacked ARCH package, under emulation: GET /, a
#      browser login, a store command, the D-Bus warning, an orderly stop on SIGTERM;
#   3. install test: the native package installed with dpkg -i and apt-get -f install into a
#      fresh Debian 12 root (mmdebstrap, from this machine's apt sources); systemd-analyze verify on
#      its unit; the installed server started as the unit starts it, with the installer's edits;
#      an upgrade while it runs; removal and purge.
# Prints "package-test: N passed, 0 failed" at the end; stops at the first failed check.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-arm64}
case "$arch" in
arm64) qemu=(qemu-aarch64-static -L /) ;;
armhf) qemu=(qemu-arm-static -L /) ;;
*)
    echo "usage: tools/package-test.sh [arm64|armhf]" >&2
    exit 2
    ;;
esac

passed=0
work=$(mktemp -d /tmp/dorx-package-test.XXXXXX)
# A server still running after a failed check is one of this script's background jobs.
cleanup() {
    local job
    for job in $(jobs -p); do
        kill -KILL "$job" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "package-test: FAILED: $*" >&2
    echo "package-test: $passed passed, 1 failed"
    exit 1
}
pass() {
    passed=$((passed + 1))
    echo "package-test: ok - $*"
}
# expect TEXT DESCRIPTION COMMAND...: the command's output is exactly TEXT.
expect() {
    local want=$1 what=$2 got
    shift 2
    got=$("$@" 2>&1) || fail "$what: exit status $?: $got"
    [ "$got" = "$want" ] || fail "$what: expected '$want', got '$got'"
    pass "$what"
}

# A port on 127.0.0.1 that nothing listens on at the moment.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 20000))
        (: </dev/tcp/127.0.0.1/"$port") 2>/dev/null || break
    done
    echo "$port"
}

# wait_for_server PORT PID: until the server answers; emulated start-up takes seconds.
wait_for_server() {
    local _
    for _ in $(seq 1 600); do
        curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
        kill -0 "$2" 2>/dev/null || fail "the server ended at start-up"
        sleep 0.1
    done
    fail "the server did not answer within 60 s"
}

# wait_for_log LINE FILE: until the whole-line pattern LINE is in FILE; the server writes warnings
# to its log file within a second.
wait_for_log() {
    local _
    for _ in $(seq 1 100); do
        grep -q -x "$1" "$2" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# stop_server PID LOG: SIGTERM ends the server in order, with exit status 0.
stop_server() {
    local status=0
    kill -TERM "$1"
    wait "$1" || status=$?
    [ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
    grep -q "Application has stopped" "$2" || fail "no orderly stop in $2"
    pass "stops in order on SIGTERM"
}

# check_browser PORT DOCROOT DORXCTL...: GET / serves the installed page, and the browser login of
# the first operator opens the gated commands (the password goes as the page sends it, DES hex).
check_browser() {
    local port=$1 docroot=$2 url="http://127.0.0.1:$1" hex
    shift 2
    curl -sf "$url/" >"$work/index.html" || fail "GET / failed"
    cmp -s "$work/index.html" "$docroot/index.html" || fail "GET / is not the installed index.html"
    pass "GET / serves the installed pages"
    hex=$("$@" deshex 6172839405) || fail "dorxctl deshex failed"
    rm -f "$work/cookies"
    expect "OK" "browser login" \
        curl -sf -c "$work/cookies" -d "username=dorx&password=$hex" "$url/command/login"
    expect "OK&Name=dorx&Level=超级用户" "the login opens the gated commands" \
        curl -sf -b "$work/cookies" -d "" "$url/command/operator_get"
}

dbus_warning="No D-Bus session bus (.*): door and face actions answer as if the access daemon were absent"
person='7|1|0|Ann|g||||0|0|0||'

# ---- 1. Package and unit tests for the board's architecture, under emulation --------------------
tools/install-packages.sh qemu-user-static mmdebstrap curl
deb=$(tools/package.sh "$arch" | tail -n 1)
[ -f "$deb" ] || fail "tools/package.sh $arch made no package"
pass "tools/package.sh $arch: $(basename "$deb")"
for dir in crypto store; do
    # The folder's own Makefile builds its tests; CTest runs them through the toolchain's emulator.
    make -s -C "build-$arch/tests/$dir" -j"$(nproc)" >/dev/null
    (cd "build-$arch/tests/$dir" && ctest --output-on-failure) || fail "unit tests of $dir/ on $arch"
    pass "unit tests of $dir/ under $arch emulation"
done

# ---- 2. Smoke test of the unpacked package under emulation ---------------------------------------
tree="$work/$arch"
dpkg-deb -x "$deb" "$tree"
# The shipped configuration with its absolute paths moved into the unpacked tree; loopback only.
sed -i -e "s|^path=/|path=$tree/|" -e "s|^fileName=/|fileName=$tree/|" -e "s|^host=$|host=127.0.0.1|" \
    "$tree/etc/dorx/DORXWebOnDevice.ini"
mkdir -p "$tree/var/lib/dorx" "$tree/var/log/dorx"
port=$(free_port)
(cd "$tree/var/lib/dorx" && DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-bus" \
    exec "${qemu[@]}" "$tree/usr/lib/dorx/bin/DORXWebOnDevice" "$port") >"$work/smoke.out" 2>&1 &
pid=$!
wait_for_server "$port" "$pid"
pass "the $arch server starts under emulation"
check_browser "$port" "$tree/usr/share/dorx/docroot" "${qemu[@]}" "$tree/usr/bin/dorxctl"
expect "$(printf '0\n0.%s' "$person")" "the $arch dorxctl runs store commands" \
    env --chdir="$tree/var/lib/dorx" "${qemu[@]}" "$tree/usr/bin/dorxctl" store "1.3.$person" 1.4.7
log="$tree/var/log/dorx/DORXWebOnDevice.log"
wait_for_log ".* WARNING  $dbus_warning" "$log" || fail "no D-Bus warning in $log"
[ "$(grep -c -x ".* WARNING  $dbus_warning" "$log")" -eq 1 ] || fail "more than one D-Bus warning"
pass "one warning without a session bus"
stop_server "$pid" "$log"

# ---- 3. Install test in a fresh Debian 12 root ---------------------------------------------------
native=$(dpkg --print-architecture)
# The tests' build is already compiled: packing it costs no second build.
native_deb=$(tools/package.sh "$native" build | tail -n 1)
root="$work/root"
# This machine's Debian sources, so that the root comes from the mirror it is configured with.
mapfile -t sources < <(grep -l -E '^(Suites:|deb ).*[[:space:]]bookworm([[:space:]]|$)' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources \
    2>/dev/null || true)
[ ${#sources[@]} -gt 0 ] || sources=(http://deb.debian.org/debian)
# apt for "apt-get -f install", systemd for "systemd-analyze verify"; nothing else.
mmdebstrap --quiet --variant=apt --include=systemd --skip=cleanup/apt/lists \
    --dpkgopt=force-unsafe-io bookworm "$root" "${sources[@]}" </dev/null
pass "fresh Debian 12 root"

# Commands in the root see a /proc of their own (the server finds its configuration through
# /proc/self/exe), mounted in a private namespace that ends with the command.
root_path=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
in_root() {
    unshare --mount --mount-proc="$root/proc" chroot "$root" env -i PATH="$root_path" "$@"
}
cp "$native_deb" "$root/tmp/"
# dpkg -i leaves the package unconfigured for want of Qt; apt-get -f install brings what the
# package's Depends name.
in_root dpkg -i "/tmp/$(basename "$native_deb")" >"$work/dpkg-i.out" 2>&1 || true
in_root env DEBIAN_FRONTEND=noninteractive apt-get -f install -y -q --no-install-recommends \
    >"$work/apt-f.out" 2>&1 || fail "apt-get -f install: $(tail -n 5 "$work/apt-f.out")"
expect "install ok installed" "dpkg -i and apt-get -f install" \
    in_root dpkg-query -W -f='${Status}' dorxwebondevice
expect "" "systemd-analyze verify" in_root systemd-analyze verify dorxwebondevice.service
[ -L "$root/etc/systemd/system/multi-user.target.wants/dorxwebondevice.service" ] \
    || fail "the service is not enabled"
pass "the service is enabled"

# The installer's edits: the port in the unit's environment file; loopback only in the INI file.
port=$(free_port)
sed -i "s/^PORT=.*/PORT=$port/" "$root/etc/default/dorxwebondevice"
sed -i "s/^host=$/host=127.0.0.1/" "$root/etc/dorx/DORXWebOnDevice.ini"

# start_as_unit: runs the installed server as the unit's ExecStart, in its WorkingDirectory, with
# its Environment and EnvironmentFile, its CapabilityBoundingSet and NoNewPrivileges; sets $pid.
unit="$root/lib/systemd/system/dorxwebondevice.service"
unit_value() { sed -n "s/^$1=//p" "$unit"; }
start_as_unit() {
    local caps
    caps=$(unit_value CapabilityBoundingSet | tr '[:upper:]' '[:lower:]' | sed -e 's/cap_/+/g' -e 's/ /,/g')
    [ "$(unit_value NoNewPrivileges)" = yes ] || fail "the unit lost NoNewPrivileges"
    # exec, so that $! is the server itself.
    (exec unshare --mount --mount-proc="$root/proc" chroot "$root" env -i PATH="$root_path" \
        setpriv --no-new-privs --bounding-set="-all,$caps" env "$(unit_value Environment)" \
        sh -c "set -a; . $(unit_value EnvironmentFile | sed 's/^-//'); set +a
               cd $(unit_value WorkingDirectory) && exec $(unit_value ExecStart)") \
        >>"$work/unit.out" 2>&1 &
    pid=$!
    echo "$pid" >"$root/run/dorx-test.pid"
    wait_for_server "$port" "$pid"
}
start_as_unit
pass "the installed server starts as the unit starts it"
check_browser "$port" "$root/usr/share/dorx/docroot" in_root dorxctl
log="$root/var/log/dorx/DORXWebOnDevice.log"
wait_for_log ".* WARNING  $dbus_warning" "$log" || fail "no D-Bus warning in the configured log file"
pass "logs to the configured log file"
expect "0" "access data stored in the working directory" \
    in_root sh -c "cd /var/lib/dorx && dorxctl store '1.3.$person'"

# Upgrade while the server runs. systemd is not running here: stand-ins record what the maintainer
# scripts ask of it, and "stop" ends the server as systemd would, with SIGTERM.
upgrade="$work/upgrade"
dpkg-deb -R "$native_deb" "$upgrade"
sed -i 's/^Version: .*/&+upgrade/' "$upgrade/DEBIAN/control"
echo "; changed by the next version" >>"$upgrade/etc/dorx/DORXWebOnDevice.ini"
(cd "$upgrade" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | xargs -0 md5sum) \
    >"$upgrade/DEBIAN/md5sums"
dpkg-deb -b --root-owner-group "$upgrade" "$root/tmp/upgrade.deb" >/dev/null
mkdir -p "$root/run/systemd/system"
printf '#!/bin/sh\nexit 0\n' >"$root/usr/local/bin/systemctl"
cat >"$root/usr/local/bin/deb-systemd-invoke" <<'EOF'
#!/bin/sh
echo "$*" >>/run/dorx-test.invoked
if [ "$1" = stop ]; then
    pid=$(cat /run/dorx-test.pid)
    kill -TERM "$pid"
    # Until it is gone or a zombie of the test script, which reaps it.
    while [ -e /proc/$pid ] && [ "$(cut -d' ' -f3 /proc/$pid/stat)" != Z ]; do sleep 0.1; done
fi
EOF
chmod +x "$root/usr/local/bin/systemctl" "$root/usr/local/bin/deb-systemd-invoke"
in_root dpkg -i --force-confold /tmp/upgrade.deb >"$work/upgrade.out" 2>&1 \
    || fail "upgrade: $(tail -n 5 "$work/upgrade.out")"
expect "$(printf 'stop dorxwebondevice.service\nstart dorxwebondevice.service')" \
    "the upgrade stops the service before it replaces the files and starts it after" \
    cat "$root/run/dorx-test.invoked"
stop_status=0
wait "$pid" || stop_status=$?
[ "$stop_status" -eq 0 ] || fail "exit status $stop_status when the upgrade stopped the server"
[ "$(grep -c "Application has stopped" "$log")" -eq 1 ] || fail "no orderly stop at the upgrade"
pass "the upgrade stops the server in order"
grep -q "^host=127.0.0.1$" "$root/etc/dorx/DORXWebOnDevice.ini" || fail "the upgrade lost the INI edit"
[ -f "$root/etc/dorx/DORXWebOnDevice.ini.dpkg-dist" ] || fail "no .dpkg-dist beside the edited INI"
grep -q "^PORT=$port$" "$root/etc/default/dorxwebondevice" || fail "the upgrade lost the port"
pass "the upgrade keeps the edited configuration"
rm -f "$root/usr/local/bin/systemctl" "$root/usr/local/bin/deb-systemd-invoke" \
    "$root/run/dorx-test.invoked"
rmdir "$root/run/systemd/system"
start_as_unit
expect "0.$person" "the upgraded server finds the access data" \
    in_root sh -c "cd /var/lib/dorx && dorxctl store 1.4.7"
check_browser "$port" "$root/usr/share/dorx/docroot" in_root dorxctl
stop_server "$pid" "$log"

# Removal keeps the working directory, the log and the configuration; a purge deletes them.
in_root dpkg -r dorxwebondevice >"$work/remove.out" 2>&1 || fail "dpkg -r: $(cat "$work/remove.out")"
[ ! -e "$unit" ] && [ ! -e "$root/usr/lib/dorx/bin/DORXWebOnDevice" ] \
    || fail "dpkg -r left the program"
[ -f "$root/var/lib/dorx/access_database.db" ] && [ -f "$root/var/lib/dorx/login_sql.db" ] \
    && [ -f "$log" ] && [ -f "$root/etc/dorx/DORXWebOnDevice.ini" ] \
    || fail "dpkg -r removed data or configuration"
pass "removal keeps the access data, the log and the configuration"
in_root dpkg -P dorxwebondevice >"$work/purge.out" 2>&1 || fail "dpkg -P: $(cat "$work/purge.out")"
for gone in var/lib/dorx var/log/dorx etc/dorx etc/default/dorxwebondevice \
    etc/systemd/system/dorxwebondevice.service \
    etc/systemd/system/multi-user.target.wants/dorxwebondevice.service; do
    [ ! -e "$root/$gone" ] && [ ! -L "$root/$gone" ] || fail "purge left /$gone"
done
pass "purge removes the working directory, the log and the configuration"

echo "package-test: $passed passed, 0 failed"
