# The Windows build: PortAudio built from source as a static library, everything linked
# statically so that dsphost.exe and mix_c.dll import only system DLLs, and mix_c.dll named
# as the host imports it.
#
# PortAudio 19.6.0 comes from one tarball, checked by its hash: Debian's portaudio19 source
# package ships the upstream release unchanged as portaudio19_19.6.0.orig.tar.gz, which
# scripts/setup.sh fetches into ~/.cache/dsphost. Without it the upstream release is fetched.
# DSPHOST_PORTAUDIO_SOURCE names another copy (a path or URL).
include(ExternalProject)

set(dsphost_portaudio_cached "$ENV{HOME}/.cache/dsphost/portaudio19_19.6.0.orig.tar.gz")
if(EXISTS "${dsphost_portaudio_cached}")
    set(dsphost_portaudio_default "${dsphost_portaudio_cached}")
else()
    set(dsphost_portaudio_default
        "http://files.portaudio.com/archives/pa_stable_v190600_20161030.tgz")
endif()
set(DSPHOST_PORTAUDIO_SOURCE "${dsphost_portaudio_default}"
    CACHE STRING "PortAudio 19.6.0 source tarball: a path or a URL")

set(dsphost_portaudio_build ${PROJECT_BINARY_DIR}/portaudio)
set(dsphost_portaudio_library ${dsphost_portaudio_build}/libportaudio_static.a)
# The MME host API only: the default one on Windows and under wine, and the only one that
# mingw-w64 builds from these sources without changes.
ExternalProject_Add(portaudio_source
    URL "${DSPHOST_PORTAUDIO_SOURCE}"
    URL_HASH SHA256=f5a21d7dcd6ee84397446fa1fa1a0675bb2e8a4a6dceb4305a8404698d8d1513
    DOWNLOAD_EXTRACT_TIMESTAMP OFF
    PREFIX ${PROJECT_BINARY_DIR}/portaudio-src
    BINARY_DIR ${dsphost_portaudio_build}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
        -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_POLICY_VERSION_MINIMUM=3.5
        -DCMAKE_C_FLAGS=-w
        -DPA_USE_WMME=ON -DPA_USE_DS=OFF -DPA_USE_WASAPI=OFF -DPA_USE_WDMKS=OFF
        -DPA_USE_WDMKS_DEVICE_INFO=OFF
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target portaudio_static
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${dsphost_portaudio_library}
    LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)
ExternalProject_Get_Property(portaudio_source SOURCE_DIR)
file(MAKE_DIRECTORY ${SOURCE_DIR}/include)

# Named like the pkg-config target of the Linux build, so the shared CMake files link either.
add_library(PkgConfig::PORTAUDIO STATIC IMPORTED GLOBAL)
set_target_properties(PkgConfig::PORTAUDIO PROPERTIES
    IMPORTED_LOCATION ${dsphost_portaudio_library}
    INTERFACE_INCLUDE_DIRECTORIES ${SOURCE_DIR}/include
    INTERFACE_LINK_LIBRARIES "winmm;ole32;uuid;setupapi")
add_dependencies(PkgConfig::PORTAUDIO portaudio_source)

# No C or C++ run-time DLLs beside the program: libgcc, libstdc++ and winpthread go in.
add_link_options(-static)

# The host imports mix_c.dll (no "lib" in front), the name a user's own effect DLL takes.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
