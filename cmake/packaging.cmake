# Install rules and the Debian package.
#
# Installed layout under any prefix:
#   bin/dsphost                          the host; RUNPATH $ORIGIN/../<libdir>/dsphost
#   <libdir>/dsphost/libmix_c.so         the effect library (pass-through), private
#   <libdir>/pkgconfig/dsphost-effect.pc compiler flags for effect authors
#   include/dsphost/dsp_library.h        the effect interface, for effect authors
#   share/man/man1/dsphost.1.gz          the manual page
#   share/doc/dsphost/                   README.md, effects.md, copyright, changelog.gz
#   share/lintian/overrides/dsphost      what the package checker need not report, and why
#
# <libdir> is GNUInstallDirs' CMAKE_INSTALL_LIBDIR: lib/<multiarch> when the build is
# configured with CMAKE_INSTALL_PREFIX=/usr on Debian, lib otherwise. The effect library is
# the host's private plug-in, not a public shared library: it sits in a directory of its
# own that only the host's RUNPATH names, so the dynamic linker's cache, ldconfig and the
# rules for public libraries (soname, symbols, package name) do not apply to it. Every
# install tree finds its own library without LD_LIBRARY_PATH, and LD_LIBRARY_PATH still
# wins when a user points it at another libmix_c.so.

set(DSPHOST_MAINTAINER "dsphost maintainers <maintainers@users.noreply.c-seed-0519cc4c.example>"
    CACHE STRING "Maintainer line of the Debian package")

install(TARGETS dsphost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The library carries no version in its name: the host asks for libmix_c.so, and that is
# the file name a user's own effect replaces.
install(TARGETS mix_c LIBRARY DESTINATION ${DSPHOST_EFFECT_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/audio/dsp_library.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dsphost)

# The manual page is installed compressed, as Debian expects; gzip -n keeps the archive
# free of time stamps so that two builds give the same bytes.
find_program(DSPHOST_GZIP gzip REQUIRED)
set(dsphost_man_gz ${PROJECT_BINARY_DIR}/doc/dsphost.1.gz)
add_custom_command(
    OUTPUT ${dsphost_man_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
    COMMAND ${DSPHOST_GZIP} -9nc ${PROJECT_SOURCE_DIR}/doc/dsphost.1 > ${dsphost_man_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/dsphost.1
    COMMENT "Compressing the manual page"
    VERBATIM)
add_custom_target(dsphost_man ALL DEPENDS ${dsphost_man_gz})
install(FILES ${dsphost_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/doc/effects.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The licence as Debian's machine-readable copyright file (the MIT licence is "Expat"
# there), made from LICENSE: its text indented by one blank, empty lines as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE dsphost_license)
string(REGEX MATCH "Copyright \\(c\\) ([^\n]+)" dsphost_notice "${dsphost_license}")
set(dsphost_notice "${CMAKE_MATCH_1}")
string(REGEX REPLACE "^.*\n(Permission )" "\\1" dsphost_terms "${dsphost_license}")
string(STRIP "${dsphost_terms}" dsphost_terms)
string(REGEX REPLACE "\n\n" "\n.\n" dsphost_terms "${dsphost_terms}")
string(REGEX REPLACE "\n" "\n " dsphost_terms "${dsphost_terms}")
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/doc/copyright CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: dsphost

Files: *
Copyright: ${dsphost_notice}
License: Expat
 ${dsphost_terms}
")
configure_file(${PROJECT_SOURCE_DIR}/cmake/changelog.in ${PROJECT_BINARY_DIR}/doc/changelog @ONLY)
set(dsphost_changelog_gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)
add_custom_command(
    OUTPUT ${dsphost_changelog_gz}
    COMMAND ${DSPHOST_GZIP} -9nc ${PROJECT_BINARY_DIR}/doc/changelog > ${dsphost_changelog_gz}
    DEPENDS ${PROJECT_BINARY_DIR}/doc/changelog
    VERBATIM)
add_custom_target(dsphost_changelog ALL DEPENDS ${dsphost_changelog_gz})
install(FILES ${PROJECT_BINARY_DIR}/doc/copyright ${dsphost_changelog_gz}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Where Debian's package checker is told, with the reason, what it need not report.
install(FILES ${PROJECT_SOURCE_DIR}/cmake/dsphost.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME dsphost)

# pkg-config file for effect authors. Its prefix is the one the tree is installed under
# (cmake --install --prefix, or /usr in the package), so it is written at install time,
# into a directory of its own for each destination (two installs from one build tree may
# run at once), and then installed like any other file, DESTDIR included.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/pkgconfig/install_pkgconfig.cmake @ONLY
     CONTENT [[
set(DSPHOST_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(DSPHOST_PC_INCLUDEDIR "@CMAKE_INSTALL_INCLUDEDIR@")
set(DSPHOST_PC_LIBDIR "@DSPHOST_EFFECT_DIR@")
set(DSPHOST_PC_VERSION "@PROJECT_VERSION@")
string(SHA1 dsphost_pc_key "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(dsphost_pc "@PROJECT_BINARY_DIR@/pkgconfig/${dsphost_pc_key}/dsphost-effect.pc")
configure_file("@PROJECT_SOURCE_DIR@/cmake/dsphost-effect.pc.in" "${dsphost_pc}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_LIBDIR@/pkgconfig"
     TYPE FILE FILES "${dsphost_pc}")
]])
install(SCRIPT ${PROJECT_BINARY_DIR}/pkgconfig/install_pkgconfig.cmake)

# ---------------------------------------------------------------------------------------
# Debian package (cpack -G DEB).


set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dsphost)
set(CPACK_PACKAGE_VENDOR "dsphost")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${DSPHOST_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time audio effect host for the terminal")
set(CPACK_PACKAGE_DESCRIPTION
    "dsphost opens the default audio input and output as one duplex stream (mono,\n"
    "16-bit, 8000 Hz, one frame per buffer), runs every input sample through the\n"
    "function adp_emp of the effect library libmix_c.so and plays the result at\n"
    "once. Once a second it prints a status line with the time of day, the samples\n"
    "processed so far and since the previous line, and the audio path's CPU load.\n"
    "ESC quits.\n"
    "\n"
    "The package ships a pass-through libmix_c.so, and the header and pkg-config\n"
    "file for building your own effect, which LD_LIBRARY_PATH puts in its place.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})

# The package installs under /usr; the install scripts see that prefix (DESTDIR points
# at CPack's staging directory), so the pkg-config file names /usr and not the staging
# directory.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME dsphost)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${DSPHOST_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Dependencies: dpkg-shlibdeps reads them off the binaries (libportaudio2 and libasound2,
# besides the C and C++ run-time libraries). libmix_c.so is the package's own library; the
# host finds it through its $ORIGIN RUNPATH, which dpkg-shlibdeps resolves inside the
# package, and it needs no dependency line. Without dpkg-shlibdeps the list is written out.
find_program(DSPHOST_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DSPHOST_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libportaudio2, libasound2, libstdc++6, libgcc-s1, libc6")
endif()

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
