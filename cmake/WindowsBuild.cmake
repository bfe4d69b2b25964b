# Windows build: Vorlund.exe and VorlundSetup.dll over the Win32
# provider, with mingw-w64 (toolchain-mingw64.cmake) or with the device's own
# compilers (toolchain-wince-arm.cmake, see docs/DEVICE_BUILD.md).
enable_language(RC)

set(VORLUND_WIN32_PROVIDER device/win32/Win32DeviceServices.cpp)
set(VORLUND_OUTPUT_DIR ${CMAKE_BINARY_DIR}/bin)

# Shipped code: the provider and the logic, C++98 with the shipped flags.
function(vorlund_shipped_target target)
    target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:${VORLUND_SHIPPED_FLAGS}>)
    set_target_properties(${target} PROPERTIES
        CXX_STANDARD 98 CXX_EXTENSIONS OFF
        RUNTIME_OUTPUT_DIRECTORY ${VORLUND_OUTPUT_DIR}
        LIBRARY_OUTPUT_DIRECTORY ${VORLUND_OUTPUT_DIR})
    if(MINGW)
        # -static: no mingw runtime DLLs to carry next to the program.
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    endif()
    # InitCommonControlsEx: commctrl on the device, comctl32 on the desktop.
    # The device's COREDLL comes with CMake's Windows CE defaults.
    if(WINCE)
        target_link_libraries(${target} PRIVATE commctrl coredll)
    else()
        target_link_libraries(${target} PRIVATE comctl32)
    endif()
endfunction()

# ---- Vorlund.exe: the launcher program ---------------------------------------
add_executable(Vorlund WIN32
    ${VORLUND_BASE_SOURCES}
    ${VORLUND_COMMON_SOURCES}
    ${VORLUND_LAUNCHER_SOURCES}
    ${VORLUND_WIN32_PROVIDER}
    device/win32/LauncherMain.cpp
    launcher/resources/Vorlund.rc)
vorlund_shipped_target(Vorlund)
if(MINGW)
    # wWinMain, the wide entry point.
    target_compile_options(Vorlund PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-municode>)
    target_link_options(Vorlund PRIVATE -municode)
endif()

# ---- VorlundSetup.dll: the setup hook library --------------------------------
# Exports undecorated by name through setup/VorlundSetup.def.
add_library(VorlundSetup SHARED
    ${VORLUND_BASE_SOURCES}
    ${VORLUND_COMMON_SOURCES}
    ${VORLUND_SETUP_SOURCES}
    ${VORLUND_WIN32_PROVIDER}
    device/win32/LibraryMain.cpp
    setup/VorlundSetup.def)
vorlund_shipped_target(VorlundSetup)
set_target_properties(VorlundSetup PROPERTIES PREFIX "" OUTPUT_NAME VorlundSetup)

# ---- Wine test helpers (not shipped) -----------------------------------------
# Desktop programs that stand in for the device's installer and user under
# Wine; they need the desktop API. Of them only the stand-in program is built
# for the device, as a probe a person runs there.
if(MINGW AND NOT WINCE)
    set(VORLUND_HELPERS_DEFAULT ON)
else()
    set(VORLUND_HELPERS_DEFAULT OFF)
endif()
option(VORLUND_WINDOWS_TEST_HELPERS "Build the stand-in programs of tests/windows"
       ${VORLUND_HELPERS_DEFAULT})
if(VORLUND_WINDOWS_TEST_HELPERS)
    add_subdirectory(tests/windows)
    add_subdirectory(bench/windows)
elseif(WINCE)
    # The same stand-in program, for the device: the bring-up probe StandIn.exe.
    add_subdirectory(tests/windows)
endif()
