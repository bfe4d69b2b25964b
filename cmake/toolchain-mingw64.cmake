# Cross toolchain: Debian's mingw-w64 for 64-bit Windows. The result runs on
# desktop Windows and under Wine; the device build uses toolchain-wince-arm.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORLUND_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORLUND_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VORLUND_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${VORLUND_MINGW_PREFIX}-windres)

# Look for libraries and headers in the target's tree only, programs on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VORLUND_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
