# The Windows build: the same system over the real API, with windres resources.
find_program(WINDRES NAMES ${CMAKE_RC_COMPILER} x86_64-w64-mingw32-windres windres REQUIRED)
set(RESOURCE_OBJECT "${RESOURCE_BUILD_DIR}/spinstall_rc.o")
add_custom_command(OUTPUT "${RESOURCE_OBJECT}"
    COMMAND "${WINDRES}" --include-dir "${RESOURCE_BUILD_DIR}" --include-dir "${RESOURCE_SCRIPT_DIR}"
            -i "${SPINSTALL_RESOURCE_SCRIPT}" -o "${RESOURCE_OBJECT}"
    DEPENDS "${SPINSTALL_RESOURCE_SCRIPT}" "${PACKAGE_FILE}" ${RESOURCE_INPUTS}
    COMMENT "Compiling the resource script with windres")

file(GLOB WINDOWS_SOURCES CONFIGURE_DEPENDS platform/windows/*.cpp)
list(REMOVE_ITEM WINDOWS_SOURCES "${CMAKE_SOURCE_DIR}/platform/windows/main.cpp")
add_library(platform_windows STATIC ${WINDOWS_SOURCES})
target_include_directories(platform_windows PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(platform_windows PUBLIC msi version)
target_link_libraries(spinstall_core PUBLIC platform_windows)

add_executable(spinstall WIN32 platform/windows/main.cpp "${RESOURCE_OBJECT}")
target_link_libraries(spinstall PRIVATE spinstall_core platform_windows)
target_link_options(spinstall PRIVATE -municode -mwindows -static)
set_target_properties(spinstall PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}" OUTPUT_NAME spinstall SUFFIX .exe)
