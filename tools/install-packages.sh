#!/usr/bin/env bash
# tools/install-packages.sh PACKAGE...: installs with apt-get, without recommended packages, those
# of the named Debian packages that are not installed yet. A name may carry an architecture
# ("qtbase5-dev:arm64"); a foreign one is added to dpkg first. Run as root or with sudo.
set -euo pipefail

sudo_cmd=""
[ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
missing=()
# The package lists are fetched again when an architecture was added or they are older than an
# hour; the scripts call this one after another, and each fetch takes a while.
update=no
find /var/lib/apt/lists -maxdepth 1 -name '*_Packages*' -mmin -60 | grep -q . || update=yes
for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" && continue
    missing+=("$p")
    arch=${p#*:}
    if [ "$arch" != "$p" ] && [ "$arch" != "$(dpkg --print-architecture)" ] \
        && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        $sudo_cmd dpkg --add-architecture "$arch"
        update=yes
    fi
done
[ ${#missing[@]} -gt 0 ] || exit 0
echo "Installing: ${missing[*]}"
[ "$update" = no ] || $sudo_cmd apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
