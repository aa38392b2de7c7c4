#!/usr/bin/env bash
# tools/package.sh ARCH: builds the Debian package dorxwebondevice_VERSION_ARCH.deb for ARCH
# (amd64, arm64 or armhf) in build-ARCH/ and prints its path. Installs with apt-get what the build
# needs: for a foreign ARCH Debian's cross compiler and the target's Qt (multiarch packages),
# built through cmake/toolchain-ARCH.cmake. Safe to run again: a second run only rebuilds what
# changed.
set -euo pipefail
cd "$(dirname "$0")/.."

arch=${1:-}
case "$arch" in
amd64 | arm64 | armhf) ;;
*)
    echo "usage: tools/package.sh amd64|arm64|armhf" >&2
    exit 2
    ;;
esac

# dpkg-dev brings dpkg-shlibdeps, which computes the package's dependencies; CPack runs "file".
packages=(cmake make dpkg-dev file)
options=()
if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    packages+=(g++ qtbase5-dev libqt5sql5-sqlite)
elif [ -f "cmake/toolchain-$arch.cmake" ]; then
    packages+=("crossbuild-essential-$arch" "qtbase5-dev:$arch" "libqt5sql5-sqlite:$arch")
    options+=("-DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-$arch.cmake")
else
    echo "tools/package.sh: no cross toolchain for $arch on this $(dpkg --print-architecture) machine" >&2
    exit 2
fi
tools/install-packages.sh "${packages[@]}"

build="build-$arch"
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "${options[@]}"
# Only what the package holds; the tests of a cross build are built on demand (tools/package-test.sh).
cmake --build "$build" -j"$(nproc)" --target DORXWebOnDevice dorxctl
rm -f "$build"/dorxwebondevice_*.deb
(cd "$build" && cpack >/dev/null)
ls "$PWD/$build"/dorxwebondevice_*_"$arch".deb
