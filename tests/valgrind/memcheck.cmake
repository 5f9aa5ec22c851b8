# valgrind memcheck of the Linux executable's main paths (run-memcheck.sh).
# memcheck cannot run a sanitized executable, so a sanitized build first builds
# a plain Debug executable of its own in memcheck-build/.
find_program(SPINSTALL_VALGRIND valgrind)
if(SPINSTALL_VALGRIND)
    if(SPINSTALL_SANITIZE)
        set(MEMCHECK_BUILD "${CMAKE_BINARY_DIR}/memcheck-build")
        add_test(NAME memcheck_executable
                 COMMAND "${CMAKE_COMMAND}"
                         -DSOURCE=${CMAKE_SOURCE_DIR} -DBUILD=${MEMCHECK_BUILD} -DGENERATOR=${CMAKE_GENERATOR}
                         -DCXX=${CMAKE_CXX_COMPILER} -DC=${CMAKE_C_COMPILER}
                         -DPACKAGE=${SPINSTALL_PACKAGE} -DRESOURCE_SCRIPT=${SPINSTALL_RESOURCE_SCRIPT}
                         -P "${CMAKE_CURRENT_LIST_DIR}/build-plain.cmake")
        set_tests_properties(memcheck_executable PROPERTIES TIMEOUT 900 FIXTURES_SETUP memcheck LABELS memcheck)
        set(MEMCHECK_EXECUTABLE "${MEMCHECK_BUILD}/spinstall")
    else()
        set(MEMCHECK_EXECUTABLE "$<TARGET_FILE:spinstall>")
    endif()
    add_test(NAME memcheck_main_paths
             COMMAND "${CMAKE_CURRENT_LIST_DIR}/run-memcheck.sh" "${MEMCHECK_EXECUTABLE}"
                     "${CMAKE_BINARY_DIR}/memcheck-runs")
    set_tests_properties(memcheck_main_paths PROPERTIES TIMEOUT 600 FIXTURES_REQUIRED memcheck LABELS memcheck)
endif()
