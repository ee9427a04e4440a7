# Install rules. The Debian package (debian/, built with dpkg-buildpackage) installs with
# them too; debhelper adds the copyright file and the changelog itself, and the package
# checker's overrides (debian/dsphost.lintian-overrides).
#
# Installed layout under any prefix:
#   bin/dsphost                          the host; RUNPATH $ORIGIN/../<libdir>/dsphost
#   <libdir>/dsphost/libmix_c.so         the effect library (pass-through), private
#   <libdir>/pkgconfig/dsphost-effect.pc compiler flags for effect authors
#   include/dsphost/dsp_library.h        the effect interface, for effect authors
#   share/man/man1/dsphost.1.gz          the manual page
#   share/doc/dsphost/                   README.md, effects.md, terminals.md, copyright,
#                                        changelog.gz
#
# <libdir> is GNUInstallDirs' CMAKE_INSTALL_LIBDIR: lib/<multiarch> when the build is
# configured with CMAKE_INSTALL_PREFIX=/usr on Debian, lib otherwise. The effect library is
# the host's private plug-in, not a public shared library: it sits in a directory of its
# own that only the host's RUNPATH names, so the dynamic linker's cache, ldconfig and the
# rules for public libraries (soname, symbols, package name) do not apply to it. Every
# install tree finds its own library without LD_LIBRARY_PATH, and LD_LIBRARY_PATH still
# wins when a user points it at another libmix_c.so.

option(DSPHOST_INSTALL_NOTICES
       "Install the copyright file and the changelog (off where debhelper installs them)" ON)

install(TARGETS dsphost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The library carries no version in its name: the host asks for libmix_c.so, and that is
# the file name a user's own effect replaces. It needs no library of ours, so installed it
# carries no RUNPATH.
set_target_properties(mix_c PROPERTIES INSTALL_RPATH "")
install(TARGETS mix_c LIBRARY DESTINATION ${DSPHOST_EFFECT_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/audio/dsp_library.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/dsphost)

# The manual page is installed compressed, as Debian expects; gzip -n keeps the archive
# free of time stamps so that two builds give the same bytes.
find_program(DSPHOST_GZIP gzip REQUIRED)
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/doc)
set(dsphost_man_gz ${PROJECT_BINARY_DIR}/doc/dsphost.1.gz)
add_custom_command(
    OUTPUT ${dsphost_man_gz}
    COMMAND ${DSPHOST_GZIP} -9nc ${PROJECT_SOURCE_DIR}/doc/dsphost.1 > ${dsphost_man_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/doc/dsphost.1
    COMMENT "Compressing the manual page"
    VERBATIM)
add_custom_target(dsphost_man ALL DEPENDS ${dsphost_man_gz})
install(FILES ${dsphost_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/doc/effects.md
              ${PROJECT_SOURCE_DIR}/doc/terminals.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The licence and the changelog are the Debian package's: debian/copyright, in the
# machine-readable format (the MIT licence of LICENSE is "Expat" there), and debian/changelog,
# whose newest entry is this version.
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog dsphost_entry LIMIT_COUNT 1)
if(NOT dsphost_entry MATCHES "^dsphost \\(${PROJECT_VERSION}-[0-9]+\\) ")
    message(FATAL_ERROR "debian/changelog begins with '${dsphost_entry}', not version ${PROJECT_VERSION}")
endif()
if(DSPHOST_INSTALL_NOTICES)
    set(dsphost_changelog_gz ${PROJECT_BINARY_DIR}/doc/changelog.gz)
    add_custom_command(
        OUTPUT ${dsphost_changelog_gz}
        COMMAND ${DSPHOST_GZIP} -9nc ${PROJECT_SOURCE_DIR}/debian/changelog > ${dsphost_changelog_gz}
        DEPENDS ${PROJECT_SOURCE_DIR}/debian/changelog
        VERBATIM)
    add_custom_target(dsphost_changelog ALL DEPENDS ${dsphost_changelog_gz})
    install(FILES ${PROJECT_SOURCE_DIR}/debian/copyright ${dsphost_changelog_gz}
            DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

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
