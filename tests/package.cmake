# The installed tree (the manual page in it), the Debian package and scripts/try.sh (the test
# scripts.try), tested the way a user meets them. Each script keeps its steps under a watchdog;
# TIMEOUT is the last resort.
if(DSPHOST_TESTS)
    find_program(DSPHOST_BASH bash REQUIRED)

    # The package and try.sh are what a user gets from the optimised build; a sanitizer
    # build's are never handed out. The package builds from a copy of the sources, not from
    # this build tree.
    set(modes install)
    if(NOT DSPHOST_SANITIZE)
        list(APPEND modes deb)
        add_test(NAME scripts.try
                 COMMAND ${DSPHOST_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/try_test.sh
                         ${PROJECT_SOURCE_DIR} $<TARGET_FILE:dsphost> ${PROJECT_BINARY_DIR})
        set_tests_properties(scripts.try PROPERTIES TIMEOUT 150 LABELS package)
    endif()
    foreach(mode ${modes})
        string(REPLACE install install_tree name ${mode})
        add_test(NAME package.${name}
                 COMMAND ${DSPHOST_BASH} ${CMAKE_CURRENT_SOURCE_DIR}/package_test.sh ${mode}
                         ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${CMAKE_INSTALL_LIBDIR}
                         ${PROJECT_VERSION} ${CMAKE_C_COMPILER})
        # The package builds the program again: a high cost starts it first, beside the rest;
        # it builds at a lower priority (nice), so that the tests of real audio keep their pace.
        set_tests_properties(package.${name} PROPERTIES TIMEOUT 240 LABELS package COST 1000)
    endforeach()
endif()
