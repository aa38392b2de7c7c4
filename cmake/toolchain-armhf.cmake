# Cross build for a 32-bit ARM board (hard-float) with Debian's multiarch packages
# (crossbuild-essential-armhf, qtbase5-dev:armhf, libqt5sql5-sqlite:armhf); tools/package.sh armhf
# installs them. Programs built here run on this machine under qemu-user-static.
set(DORX_GNU_TYPE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
set(DORX_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-cross.cmake)
