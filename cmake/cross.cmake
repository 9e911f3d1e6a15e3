# Shared part of the toolchain files for ARM boards. The sysroot holds the board's
# Debian development packages, unpacked by scripts/test-cross (XLOCD_SYSROOT).
set(CMAKE_SYSTEM_NAME Linux)
if(NOT XLOCD_SYSROOT)
  set(XLOCD_SYSROOT $ENV{XLOCD_SYSROOT})
endif()
if(NOT IS_DIRECTORY "${XLOCD_SYSROOT}")
  message(FATAL_ERROR "XLOCD_SYSROOT must name the board's sysroot (scripts/test-cross makes one)")
endif()
set(ENV{XLOCD_SYSROOT} ${XLOCD_SYSROOT}) # try_compile runs this file again

set(CMAKE_C_COMPILER ${XLOCD_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${XLOCD_TRIPLET}-g++)
set(CMAKE_SYSROOT ${XLOCD_SYSROOT})
set(CMAKE_FIND_ROOT_PATH ${XLOCD_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ENV{PKG_CONFIG_LIBDIR}
    "${XLOCD_SYSROOT}/usr/lib/${XLOCD_TRIPLET}/pkgconfig:${XLOCD_SYSROOT}/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_SYSROOT_DIR} ${XLOCD_SYSROOT})
# Debian's multiarch library directory (GNUInstallDirs picks it only for native builds).
set(CMAKE_LIBRARY_ARCHITECTURE ${XLOCD_TRIPLET})
set(CMAKE_INSTALL_LIBDIR lib/${XLOCD_TRIPLET} CACHE PATH "Object code libraries")
# ctest runs the board's programs under qemu-user.
set(CMAKE_CROSSCOMPILING_EMULATOR ${XLOCD_QEMU} -L ${XLOCD_SYSROOT})
