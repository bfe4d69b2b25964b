# Host build: the shipped logic over the simulated device, with tests and tools.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
include(GNUInstallDirs)

option(VORLUND_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VORLUND_FUZZ "Build the libFuzzer targets (clang)" OFF)
option(VORLUND_KIT_ONLY "Build vorlund-kit and what it installs, without tests or benchmarks (scripts/package)" OFF)
if(VORLUND_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
elseif(VORLUND_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

# The shipped code, compiled exactly as for the device (C++98): the bottom
# layer, and the logic above the provider. The logic calls DeviceServices,
# which a program supplies by linking a provider after it (vorlund_sim here):
# no library links one above it, so the targets form no cycle.
add_library(vorlund_base STATIC ${VORLUND_BASE_SOURCES})
add_library(vorlund_logic STATIC
    ${VORLUND_COMMON_SOURCES} ${VORLUND_LAUNCHER_SOURCES} ${VORLUND_SETUP_SOURCES})
target_link_libraries(vorlund_logic PUBLIC vorlund_base)
foreach(target vorlund_base vorlund_logic)
    target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(${target} PRIVATE ${VORLUND_SHIPPED_FLAGS})
    set_target_properties(${target} PROPERTIES CXX_STANDARD 98 CXX_EXTENSIONS OFF)
endforeach()

# Host text (code page, UTF-8, UTF-16LE, case rule) for the simulated device,
# the tools and the tests.
add_subdirectory(tools/hosttext)

# The simulated device provider (host only, modern C++), over the bottom layer.
add_library(vorlund_sim STATIC device/sim/SimDevice.cpp device/sim/SimDeviceServices.cpp)
target_include_directories(vorlund_sim PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(vorlund_sim PRIVATE -Wall -Wextra -Werror)
target_link_libraries(vorlund_sim PUBLIC vorlund_base vorlund_hosttext)

if(VORLUND_FUZZ)
    # The CE header code alone (tools/cecab skips its cabinet I/O here).
    add_subdirectory(tools/cecab)
    add_subdirectory(fuzz)
    return()
endif()

add_subdirectory(tools)
# What cmake --install and the .deb carry: the kit, its manual page and documents.
include(cmake/Packaging.cmake)
if(VORLUND_KIT_ONLY)
    return()
endif()

enable_testing()
add_subdirectory(tests)

# Benchmarks (scripts/benchmark), built with the rest but never run by ctest.
add_subdirectory(bench)
