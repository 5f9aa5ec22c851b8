# Configures and builds the Linux executable without sanitizers, for memcheck.
# cmake -DSOURCE=... -DBUILD=... -DGENERATOR=... -DCXX=... -DC=... [-DPACKAGE=...]
#       [-DRESOURCE_SCRIPT=...] -P build-plain.cmake
set(options -DCMAKE_BUILD_TYPE=Debug -DSPINSTALL_SANITIZE=OFF -DSPINSTALL_FUZZ=OFF -DBUILD_TESTING=OFF
            -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_C_COMPILER=${C})
# The same package and strings as the build under test.
if(PACKAGE)
    list(APPEND options -DSPINSTALL_PACKAGE=${PACKAGE})
endif()
if(RESOURCE_SCRIPT)
    list(APPEND options -DSPINSTALL_RESOURCE_SCRIPT=${RESOURCE_SCRIPT})
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BUILD}" -G "${GENERATOR}" ${options}
                OUTPUT_QUIET RESULT_VARIABLE configured)
if(NOT configured EQUAL 0)
    message(FATAL_ERROR "configuring ${BUILD} failed")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD}" --target spinstall --parallel 2
                RESULT_VARIABLE built)
if(NOT built EQUAL 0)
    message(FATAL_ERROR "building ${BUILD} failed")
endif()
