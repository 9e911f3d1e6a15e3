# armhf boards (Debian armhf, 32-bit time_t): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(XLOCD_TRIPLET arm-linux-gnueabihf)
set(XLOCD_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
