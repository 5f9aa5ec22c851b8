# The Linux build: the system over the simulated Windows.
enable_language(ASM)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBMSI IMPORTED_TARGET libmsi-1.0)

file(GLOB SIMULATED_SOURCES CONFIGURE_DEPENDS platform/simulated/*.cpp)
list(REMOVE_ITEM SIMULATED_SOURCES "${CMAKE_SOURCE_DIR}/platform/simulated/main.cpp")
add_library(platform_simulated STATIC ${SIMULATED_SOURCES})
target_include_directories(platform_simulated PUBLIC "${CMAKE_SOURCE_DIR}")
if(LIBMSI_FOUND)
    target_link_libraries(platform_simulated PUBLIC PkgConfig::LIBMSI)
endif()
# The system and the platform call each other.
target_link_libraries(spinstall_core PUBLIC platform_simulated)

# Our resource compiler turns the script into the standard .res image that the
# assembler then places into the executable as it is.
add_library(rc_compiler STATIC tools/rc_compiler.cpp)
target_include_directories(rc_compiler PUBLIC "${CMAKE_SOURCE_DIR}")
add_executable(rccompile tools/rccompile.cpp)
target_link_libraries(rccompile PRIVATE rc_compiler)
set(RESOURCE_IMAGE "${RESOURCE_BUILD_DIR}/spinstall.res")
add_custom_command(OUTPUT "${RESOURCE_IMAGE}"
    COMMAND rccompile -I "${RESOURCE_BUILD_DIR}" -I "${RESOURCE_SCRIPT_DIR}" -o "${RESOURCE_IMAGE}"
            "${SPINSTALL_RESOURCE_SCRIPT}"
    DEPENDS rccompile "${SPINSTALL_RESOURCE_SCRIPT}" "${PACKAGE_FILE}" ${RESOURCE_INPUTS}
    COMMENT "Compiling the resource script")
# The package's bytes go on a page boundary of the executable file, so that
# the kernel copies them to a new file page by page (the extract mode).
add_executable(resource-data-offset tools/resource-data-offset.cpp)
set(RESOURCE_PADDING "${RESOURCE_BUILD_DIR}/resource_padding.s")
add_custom_command(OUTPUT "${RESOURCE_PADDING}"
    COMMAND resource-data-offset "${RESOURCE_IMAGE}" MSP IDR_MSP "${RESOURCE_PADDING}"
    DEPENDS resource-data-offset "${RESOURCE_IMAGE}"
    COMMENT "Placing the package on a page boundary")
configure_file(cmake/embedded_resources.S.in "${RESOURCE_BUILD_DIR}/embedded_resources.S" @ONLY)
set_source_files_properties("${RESOURCE_BUILD_DIR}/embedded_resources.S" PROPERTIES
    OBJECT_DEPENDS "${RESOURCE_IMAGE};${RESOURCE_PADDING}")
add_library(embedded_resources OBJECT "${RESOURCE_BUILD_DIR}/embedded_resources.S")

add_executable(spinstall platform/simulated/main.cpp $<TARGET_OBJECTS:embedded_resources>)
target_link_libraries(spinstall PRIVATE spinstall_core platform_simulated)
# The simulated installer opens libmsi itself when it first reads a package, so
# the executable need not start with libmsi, GLib and their dependencies loaded.
target_link_options(spinstall PRIVATE -Wl,--as-needed)
if(NOT SPINSTALL_SANITIZE)
    # One library fewer to map and relocate at every start.
    target_link_options(spinstall PRIVATE -static-libstdc++ -static-libgcc)
endif()
set_target_properties(spinstall PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")

include(CTest)
if(BUILD_TESTING)
    add_subdirectory(tests)
endif()
if(SPINSTALL_FUZZ)
    add_subdirectory(tests/fuzz)
endif()

# Patch packages with target lists of any length, for the benchmarks.
if(LIBMSI_FOUND)
    add_executable(make-scaled-package tools/make-scaled-package.cpp)
    target_link_libraries(make-scaled-package PRIVATE PkgConfig::LIBMSI)
endif()

# Google Benchmark microbenchmarks of what a whole run cannot show by itself.
find_package(benchmark QUIET)
if(benchmark_FOUND)
    add_executable(spinstall_micro_bench bench/micro_benchmarks.cpp)
    target_link_libraries(spinstall_micro_bench PRIVATE spinstall_core platform_simulated benchmark::benchmark)
endif()
