# vorlund-kit as a Debian tool: what cmake --install puts under the prefix (the program,
# its manual page, its documents) and the .deb that CPack makes of it (scripts/package).
# Nothing else of the host build is installed.
set(VORLUND_KIT_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorlund-kit)
set(VORLUND_MAINTAINER "Brannoch Software <packages@brannoch-software.invalid>"
    CACHE STRING "Maintainer field of the vorlund-kit package: NAME <ADDRESS>")
# Directories made by the install are 0755 whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(VORLUND_KIT_SHARE ${CMAKE_BINARY_DIR}/share)
file(MAKE_DIRECTORY ${VORLUND_KIT_SHARE})

# The copyright file in Debian's machine-readable form, its licence text the LICENSE file's.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE licence)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
string(REGEX MATCH "Copyright \\(C\\) ([^\n.]+)" found "${licence}")
set(holder "${CMAKE_MATCH_1}")
string(STRIP "${licence}" licence)
string(REPLACE "\n" "\n " licence "${licence}")
string(REPLACE "\n \n" "\n .\n" licence "${licence}")
file(WRITE ${VORLUND_KIT_SHARE}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: vorlund-kit\n\nFiles: *\nCopyright: ${holder}\nLicense: proprietary\n ${licence}\n")

# A native package's changelog: one entry, for the version this tree builds, dated the
# day of the configuration (or SOURCE_DATE_EPOCH).
string(TIMESTAMP today "%a, %d %b %Y 00:00:00 +0000" UTC)
file(WRITE ${VORLUND_KIT_SHARE}/changelog
    "vorlund-kit (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
    "  * vorlund-kit ${PROJECT_VERSION}, built from the Vorlund repository, whose history\n"
    "    lists the changes.\n\n -- ${VORLUND_MAINTAINER}  ${today}\n")

# Documents of more than 4 kB go in compressed, as Debian's policy asks, with gzip -9n so
# that the same input gives the same bytes.
set(compressed)
foreach(doc README.md docs/MAIN_PACKAGE.md ${VORLUND_KIT_SHARE}/changelog)
    get_filename_component(name ${doc} NAME)
    get_filename_component(doc ${doc} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    add_custom_command(OUTPUT ${VORLUND_KIT_SHARE}/doc/${name}.gz
        COMMAND ${CMAKE_COMMAND} -E copy ${doc} ${VORLUND_KIT_SHARE}/doc/${name}
        COMMAND gzip -9nf ${VORLUND_KIT_SHARE}/doc/${name}
        DEPENDS ${doc} VERBATIM)
    list(APPEND compressed ${VORLUND_KIT_SHARE}/doc/${name}.gz)
endforeach()
add_custom_target(vorlund-kit-docs ALL DEPENDS ${compressed})

# The manual page, written by help2man from the program's --help and each subcommand's.
find_program(HELP2MAN help2man)
if(HELP2MAN)
    set(manual ${VORLUND_KIT_SHARE}/man1/vorlund-kit.1.gz)
    add_custom_command(OUTPUT ${manual}
        COMMAND ${CMAKE_COMMAND} -DKIT=$<TARGET_FILE:vorlund-kit> -DHELP2MAN=${HELP2MAN}
                -DLICENSE=${CMAKE_SOURCE_DIR}/LICENSE -DOUT=${manual}
                -P ${CMAKE_SOURCE_DIR}/cmake/KitManual.cmake
        DEPENDS vorlund-kit ${CMAKE_SOURCE_DIR}/cmake/KitManual.cmake ${CMAKE_SOURCE_DIR}/LICENSE
        VERBATIM)
    add_custom_target(vorlund-kit-manual ALL DEPENDS ${manual})
    install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
    message(STATUS "help2man not found: vorlund-kit installs without its manual page")
endif()

install(FILES ${compressed} ${VORLUND_KIT_SHARE}/copyright DESTINATION ${VORLUND_KIT_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlund-kit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brannoch Software")
set(CPACK_PACKAGE_CONTACT ${VORLUND_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VORLUND_MAINTAINER})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends: what dpkg-shlibdeps finds the program linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_VORLUND_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/DebStrip.cmake)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "packs, checks and rehearses the main package of a Vorlund bundle
vorlund-kit builds the main CAB package that installs a Vorlund bundle (the
launcher, its list and a set of CAB packages) on a Windows CE device, reads
any main CAB back and checks it against what the setup hook and the launcher
need, and rehearses the whole installation on a simulated device: which CABs
the device installs, skips, or deletes without a word. Its exit status lets
a packaging pipeline gate on the findings.")
include(CPack)
