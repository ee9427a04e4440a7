# The Windows package: a zip (cpack -G ZIP) holding dsphost.exe and mix_c.dll side by side,
# the licences (ours, and PortAudio's, which is built into dsphost.exe), whose notices go with
# every copy, the Windows README (doc/windows.md, as README.md), the effect guide and the
# effect header (include/dsphost/dsp_library.h). The host imports mix_c.dll from its own
# folder first, so a user's effect replaces ours by taking its place there.
install(TARGETS dsphost RUNTIME DESTINATION .)
install(TARGETS mix_c RUNTIME DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/doc/effects.md DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/doc/windows.md DESTINATION . RENAME README.md)
install(FILES ${PROJECT_SOURCE_DIR}/audio/dsp_library.h DESTINATION include/dsphost)
if(DSPHOST_PORTAUDIO_LICENSE)
    install(FILES ${DSPHOST_PORTAUDIO_LICENSE} DESTINATION . RENAME PORTAUDIO-LICENSE.txt)
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME dsphost)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
