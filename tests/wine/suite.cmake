# The end-to-end suite under Wine. It runs build/windows/spinstall.exe of the
# source tree, which `make test` builds (windows preset) before ctest runs.
find_program(SPINSTALL_MINGW_CXX x86_64-w64-mingw32-g++)
find_program(SPINSTALL_WINE64 NAMES wine64 wine PATHS /usr/lib/wine)
if(SPINSTALL_MINGW_CXX AND SPINSTALL_WINE64)
    set(SPINSTALL_WINE_SUITE_DEFAULT ON)
else()
    set(SPINSTALL_WINE_SUITE_DEFAULT OFF)
endif()
option(SPINSTALL_WINE_SUITE "Run the Wine end-to-end suite against build/windows/spinstall.exe"
       ${SPINSTALL_WINE_SUITE_DEFAULT})

if(SPINSTALL_WINE_SUITE)
    add_test(NAME wine_end_to_end
             COMMAND "${CMAKE_CURRENT_LIST_DIR}/run-wine-suite.sh"
                     --exe "${CMAKE_SOURCE_DIR}/build/windows/spinstall.exe"
                     --package "${CMAKE_SOURCE_DIR}/build/windows/resources/spinstall.msp")
    set_tests_properties(wine_end_to_end PROPERTIES TIMEOUT 600 LABELS wine)
endif()
