# The installed tree (the manual page in it), the Debian package and scripts/try.sh, tested the
# way a user meets them. Each script keeps its steps under a watchdog; TIMEOUT is the last
# resort.
if(DSPHOST_TESTS)
    find_program(DSPHOST_BASH bash REQUIRED)

    # The installed tree and the package both install from this build tree; one at a time
    # keeps them off each other's files. The package and try.sh are what a user gets from
    # the optimised build; a sanitizer build's are never handed out.
    set(modes install)
    if(NOT DSPHOST_SANITIZE)
        list(APPEND modes deb)
        add_test(NAME package.try
                 COMMAND ${DSPHOST_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/try_test.sh
                         ${PROJECT_SOURCE_DIR} $<TARGET_FILE:dsphost> ${PROJECT_BINARY_DIR})
        set_tests_properties(package.try PROPERTIES TIMEOUT 150 LABELS package)
    endif()
    foreach(mode ${modes})
        string(REPLACE install install_tree name ${mode})
        add_test(NAME package.${name}
                 COMMAND ${DSPHOST_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${mode}
                         ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${CMAKE_INSTALL_LIBDIR}
                         ${PROJECT_VERSION} ${CMAKE_C_COMPILER})
        set_tests_properties(package.${name} PROPERTIES
                             TIMEOUT 120 LABELS package RESOURCE_LOCK dsphost_install)
    endforeach()
endif()
