# 32-bit Windows build: the one users run, because the device-status library
# is 32-bit. Its programs run under 32-bit Wine where the machine can run them.
set(MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
