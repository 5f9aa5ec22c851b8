# The differential probe on the simulated platform, and the test that compares
# it case by case with the same probe built for Windows and run under Wine.
add_executable(differential_probe
    "${CMAKE_CURRENT_LIST_DIR}/probe.cpp"
    "${CMAKE_CURRENT_LIST_DIR}/probe_simulated.cpp"
    $<TARGET_OBJECTS:embedded_resources>)
target_link_libraries(differential_probe PRIVATE spinstall_core platform_simulated)

find_program(SPINSTALL_MINGW_CXX x86_64-w64-mingw32-g++)
find_program(SPINSTALL_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
set(SPINSTALL_DIFFERENTIAL_WINDOWS_BUILD "${CMAKE_BINARY_DIR}/differential-windows" CACHE PATH
    "Build folder of the Windows differential probe")
if(SPINSTALL_MINGW_CXX AND SPINSTALL_WINE64)
    add_test(NAME differential_wine
             COMMAND "${CMAKE_CURRENT_LIST_DIR}/run-differential.sh"
                     --sim-probe "$<TARGET_FILE:differential_probe>"
                     --package-dir "${RESOURCE_BUILD_DIR}"
                     --windows-build "${SPINSTALL_DIFFERENTIAL_WINDOWS_BUILD}")
    set_tests_properties(differential_wine PROPERTIES TIMEOUT 300 LABELS wine)
endif()
