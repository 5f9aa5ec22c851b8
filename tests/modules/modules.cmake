# Real Windows DLLs with and without version resources, built with the MinGW
# toolchain, for the version library and the file-version tests.
find_program(SPINSTALL_MINGW_WINDRES x86_64-w64-mingw32-windres REQUIRED)
find_program(SPINSTALL_MINGW_CC x86_64-w64-mingw32-gcc REQUIRED)

set(SPINSTALL_VERSION_MODULE_DIR "${CMAKE_CURRENT_BINARY_DIR}/modules")

# spinstall_version_module(<output> <file version a.b.c.d | none> [<product version>])
# Adds the rule that writes <output>; list <output> in a target's DEPENDS to build it.
function(spinstall_version_module output fileVersion)
    set(productVersion "${fileVersion}")
    if(ARGC GREATER 2)
        set(productVersion "${ARGV2}")
    endif()
    add_custom_command(OUTPUT "${output}"
        COMMAND ${CMAKE_COMMAND} -E env "WINDRES=${SPINSTALL_MINGW_WINDRES}" "MINGW_CC=${SPINSTALL_MINGW_CC}"
                "${CMAKE_SOURCE_DIR}/tools/make-version-module.sh" "${fileVersion}" "${output}" "${productVersion}"
        DEPENDS "${CMAKE_SOURCE_DIR}/tools/make-version-module.sh"
        COMMENT "Building the version test module ${output}" VERBATIM)
endfunction()

spinstall_version_module("${SPINSTALL_VERSION_MODULE_DIR}/version-7.2.0.2.dll" 7.2.0.2 7.5.1.9)
spinstall_version_module("${SPINSTALL_VERSION_MODULE_DIR}/version-max.dll" 65535.65535.65535.65535 1.0.0.0)
spinstall_version_module("${SPINSTALL_VERSION_MODULE_DIR}/no-version.dll" none)
add_custom_target(version_test_modules DEPENDS
    "${SPINSTALL_VERSION_MODULE_DIR}/version-7.2.0.2.dll"
    "${SPINSTALL_VERSION_MODULE_DIR}/version-max.dll"
    "${SPINSTALL_VERSION_MODULE_DIR}/no-version.dll")

add_dependencies(spinstall_tests version_test_modules)
target_compile_definitions(spinstall_tests PRIVATE SPINSTALL_VERSION_MODULE_DIR="${SPINSTALL_VERSION_MODULE_DIR}")
