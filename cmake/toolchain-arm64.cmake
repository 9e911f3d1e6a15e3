# arm64 boards (Debian arm64): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm64.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(XLOCD_TRIPLET aarch64-linux-gnu)
set(XLOCD_QEMU qemu-aarch64)
set(XLOCD_DEB_ARCH arm64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
