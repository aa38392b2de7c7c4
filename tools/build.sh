#!/usr/bin/env bash
# Installs what the build and the tests need (Debian packages, only when missing), then
# configures and builds into build/. Safe to run again: a second run only rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ make qtbase5-dev libqt5sql5-sqlite openssl dbus curl)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
