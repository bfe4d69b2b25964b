# Device toolchain: Windows CE 5 on ARM (ARMV4I) with the platform's own
# compilers, Visual Studio 2005/2008 with a CE 5 SDK. Use it with the
# "NMake Makefiles" generator from a command prompt whose PATH, INCLUDE and
# LIB point at the SDK's ARM compiler, headers and libraries; see
# docs/DEVICE_BUILD.md. Not exercised by this repository's automated checks.
set(CMAKE_SYSTEM_NAME WindowsCE)
# CMake turns 5.0 into _WIN32_WCE=0x500 (with UNDER_CE, WINCE, ARM, _ARM_).
set(CMAKE_SYSTEM_VERSION 5.0)
set(CMAKE_SYSTEM_PROCESSOR ARMV4I)

# The ARM cross compiler of the SDK environment (VC\ce\bin\x86_arm\cl.exe),
# which must come before any desktop cl.exe on PATH.
set(CMAKE_C_COMPILER cl)
set(CMAKE_CXX_COMPILER cl)
set(CMAKE_RC_COMPILER rc)

# The compiler checks only compile: linking a test program needs the SDK's
# libraries, which the real targets name themselves.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
