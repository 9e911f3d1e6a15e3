# Shared part of the toolchain files for ARM boards: a Debian root with the board's
# architecture added (dpkg --add-architecture) and its development packages installed
# beside the host's (multiarch), as scripts/test-cross makes one. The board's programs
# run under qemu-user, with XLOCD_SYSROOT naming that root as the machine running the
# tests sees it.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${XLOCD_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${XLOCD_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${XLOCD_TRIPLET})
set(PKG_CONFIG_EXECUTABLE ${XLOCD_TRIPLET}-pkg-config CACHE FILEPATH "The board's pkg-config")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_INSTALL_LIBDIR lib/${XLOCD_TRIPLET} CACHE PATH "Object code libraries")
if(NOT XLOCD_SYSROOT)
  set(XLOCD_SYSROOT /)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${XLOCD_QEMU} -L ${XLOCD_SYSROOT})
