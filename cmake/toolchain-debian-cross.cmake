# What the per-architecture toolchain files share; they set DORX_GNU_TYPE (the multiarch triplet),
# CMAKE_SYSTEM_PROCESSOR, the package architecture and DORX_QEMU before including this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${DORX_GNU_TYPE}-gcc)
set(CMAKE_CXX_COMPILER ${DORX_GNU_TYPE}-g++)
# The target's Qt lies in the multiarch directories of this very system (/usr/lib/<triplet>).
set(CMAKE_LIBRARY_ARCHITECTURE ${DORX_GNU_TYPE})
# moc and the other Qt tools must be the host's: the target's cannot run here.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# CTest runs the cross-built tests under user-mode emulation; "-L /" lets the emulated loader find
# the target's libraries in their multiarch directories. Without the kernel's binfmt_misc
# registration, which this machine lacks, only the emulator itself can start a foreign program, so
# no test of crypto/ or store/ starts a program of its own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${DORX_QEMU} -L /)
