# armhf boards: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
# time_t is what the suite's compiler makes it, as its libgps was built: 32 bits on
# Debian 12, 64 bits on Debian 13 (the time64 transition: gcc sets _TIME_BITS=64).
set(CMAKE_SYSTEM_PROCESSOR arm)
set(XLOCD_TRIPLET arm-linux-gnueabihf)
set(XLOCD_QEMU qemu-arm)
set(XLOCD_DEB_ARCH armhf)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
