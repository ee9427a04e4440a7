# PortAudio, the same on every platform: one pinned upstream release, checked by its SHA-256,
# with the patches in audio/portaudio/ applied in the build tree, built as a static library and
# linked into the host. The release tarball comes from the cache that scripts/setup.sh fills
# (~/.cache/dsphost), so a build needs no network. DSPHOST_PORTAUDIO_SOURCE names another copy
# of the same release: its tarball, or the folder it unpacks to (the Debian source package
# carries it as its portaudio component).
#
# With DSPHOST_SYSTEM_PORTAUDIO the system's library (pkg-config portaudio-2.0) is linked
# instead, as it is, without our patches.
#
# Either way the target dsphost_portaudio carries the headers and the libraries to link.
option(DSPHOST_SYSTEM_PORTAUDIO "Link the system's PortAudio instead of our own build" OFF)

add_library(dsphost_portaudio INTERFACE)
if(NOT WIN32)
    # ALSA, which reaches the sound servers (PulseAudio, PipeWire, JACK) through its plug-ins;
    # the POSIX platform layer calls it too.
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET GLOBAL alsa)
endif()

if(DSPHOST_SYSTEM_PORTAUDIO)
    pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)
    target_link_libraries(dsphost_portaudio INTERFACE PkgConfig::PORTAUDIO)
    return()
endif()

include(ExternalProject)
set(DSPHOST_PORTAUDIO_VERSION 19.7.0)
set(dsphost_portaudio_sha256 5af29ba58bbdbb7bbcefaaecc77ec8fc413f0db6f4c4e286c40c3e1b83174fa0)
set(DSPHOST_PORTAUDIO_SOURCE
    "$ENV{HOME}/.cache/dsphost/portaudio19_${DSPHOST_PORTAUDIO_VERSION}.orig.tar.gz"
    CACHE PATH "PortAudio ${DSPHOST_PORTAUDIO_VERSION}'s release tarball, or the folder it unpacks to")
if(IS_DIRECTORY "${DSPHOST_PORTAUDIO_SOURCE}")
    set(dsphost_portaudio_hash "")
elseif(EXISTS "${DSPHOST_PORTAUDIO_SOURCE}")
    set(dsphost_portaudio_hash URL_HASH SHA256=${dsphost_portaudio_sha256})
else()
    message(FATAL_ERROR "PortAudio ${DSPHOST_PORTAUDIO_VERSION}'s release is not at "
                        "${DSPHOST_PORTAUDIO_SOURCE}: scripts/setup.sh fetches it there, or set "
                        "DSPHOST_PORTAUDIO_SOURCE (or DSPHOST_SYSTEM_PORTAUDIO=ON)")
endif()

find_program(DSPHOST_PATCH patch REQUIRED)
file(GLOB dsphost_portaudio_patches CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/audio/portaudio/*.patch)
list(SORT dsphost_portaudio_patches)
set(dsphost_patch_command "")
foreach(patch_file ${dsphost_portaudio_patches})
    list(APPEND dsphost_patch_command COMMAND ${DSPHOST_PATCH} -p1 --forward --quiet -i ${patch_file})
endforeach()
list(POP_FRONT dsphost_patch_command)  # the first COMMAND is PATCH_COMMAND itself

if(WIN32)
    # MME: the default host API on Windows and under wine.
    set(dsphost_portaudio_hosts -DPA_USE_WMME=ON -DPA_USE_DS=OFF -DPA_USE_WASAPI=OFF
        -DPA_USE_WDMKS=OFF -DPA_USE_WDMKS_DEVICE_INFO=OFF -DPA_USE_ASIO=OFF)
    set(dsphost_portaudio_libraries winmm ole32 uuid setupapi)
else()
    set(dsphost_portaudio_hosts -DPA_USE_ALSA=ON -DPA_ALSA_DYNAMIC=OFF -DPA_USE_JACK=OFF)
    set(dsphost_portaudio_libraries PkgConfig::ALSA m Threads::Threads)
endif()

set(dsphost_portaudio_build ${PROJECT_BINARY_DIR}/portaudio)
set(dsphost_portaudio_library
    ${dsphost_portaudio_build}/${CMAKE_STATIC_LIBRARY_PREFIX}portaudio${CMAKE_STATIC_LIBRARY_SUFFIX})
# The library is built optimised whatever the host's build type, with the host's compiler
# flags (a package's hardening among them); its own warnings are PortAudio's business.
ExternalProject_Add(portaudio_source
    URL "${DSPHOST_PORTAUDIO_SOURCE}"
    ${dsphost_portaudio_hash}
    DOWNLOAD_EXTRACT_TIMESTAMP OFF
    PATCH_COMMAND ${dsphost_patch_command}
    PREFIX ${PROJECT_BINARY_DIR}/portaudio-src
    BINARY_DIR ${dsphost_portaudio_build}
    CMAKE_ARGS
        -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
        -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
        -DCMAKE_BUILD_TYPE=Release
        "-DCMAKE_C_FLAGS=${CMAKE_C_FLAGS} -w"
        -DCMAKE_POSITION_INDEPENDENT_CODE=ON
        -DPA_BUILD_STATIC=ON -DPA_BUILD_SHARED=OFF -DPA_LIBNAME_ADD_SUFFIX=OFF
        -DPA_DISABLE_INSTALL=ON
        ${dsphost_portaudio_hosts}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target portaudio_static
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${dsphost_portaudio_library}
    LOG_CONFIGURE ON LOG_BUILD ON LOG_OUTPUT_ON_FAILURE ON)
ExternalProject_Get_Property(portaudio_source SOURCE_DIR)
file(MAKE_DIRECTORY ${SOURCE_DIR}/include)
# Its notice goes with every copy of the program (the Windows zip; debian/copyright).
set(DSPHOST_PORTAUDIO_LICENSE ${SOURCE_DIR}/LICENSE.txt)

add_library(dsphost_portaudio_static STATIC IMPORTED GLOBAL)
set_target_properties(dsphost_portaudio_static PROPERTIES
    IMPORTED_LOCATION ${dsphost_portaudio_library}
    INTERFACE_INCLUDE_DIRECTORIES ${SOURCE_DIR}/include
    INTERFACE_LINK_LIBRARIES "${dsphost_portaudio_libraries}")
add_dependencies(dsphost_portaudio_static portaudio_source)
target_link_libraries(dsphost_portaudio INTERFACE dsphost_portaudio_static)
