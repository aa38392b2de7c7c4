# Cross build for the terminal's 64-bit ARM board with Debian's multiarch packages
# (crossbuild-essential-arm64, qtbase5-dev:arm64, libqt5sql5-sqlite:arm64); tools/package.sh arm64
# installs them. Programs built here run on this machine under qemu-user-static.
set(DORX_GNU_TYPE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
set(DORX_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-cross.cmake)
