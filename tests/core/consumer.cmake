# Installs the build into a scratch prefix, builds examples/consumer against that prefix alone
# and runs it on a scratch instrument folder.
# cmake -D BUILD_DIR=... -D CONSUMER_DIR=... -D WORK_DIR=... -D QT_MAJOR=5|6 [-D CXX_FLAGS=...]
#       -P consumer.cmake
function(run step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${step} failed: ${ARGN}\n${output}")
    endif()
    message(STATUS "${step}: ok")
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/instrument)

run(install ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(configure ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_FLAGS=${CXX_FLAGS}
    -DCMAKE_EXE_LINKER_FLAGS=${CXX_FLAGS} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
# The package must come from the prefix, not from a build tree or an installed copy.
file(STRINGS ${WORK_DIR}/build/CMakeCache.txt package_dir REGEX "^CoagulationCore_DIR:")
if(NOT package_dir MATCHES "=${prefix}/")
    message(FATAL_ERROR "package found outside the prefix: ${package_dir}")
endif()
# The package brings the Qt the library was built with, and no other.
if(QT_MAJOR EQUAL 6)
    set(other_major 5)
else()
    set(other_major 6)
endif()
file(STRINGS ${WORK_DIR}/build/CMakeCache.txt qt_dir REGEX "^Qt${QT_MAJOR}Core_DIR:")
file(STRINGS ${WORK_DIR}/build/CMakeCache.txt other_qt_dir REGEX "^Qt${other_major}Core_DIR:")
if(NOT qt_dir OR qt_dir MATCHES "NOTFOUND" OR (other_qt_dir AND NOT other_qt_dir MATCHES "NOTFOUND"))
    message(FATAL_ERROR "consumer did not find Qt ${QT_MAJOR} alone: '${qt_dir}' '${other_qt_dir}'")
endif()
message(STATUS "Qt ${QT_MAJOR}: ${qt_dir}")
run(build ${CMAKE_COMMAND} --build ${WORK_DIR}/build)

# The pkg-config file resolves, and points into the prefix wherever that is.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
    set(pkg_config ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/lib/pkgconfig ${PKG_CONFIG})
    run(pkg-config ${pkg_config} --cflags --libs coagulationcore)
    execute_process(COMMAND ${pkg_config} --variable=includedir coagulationcore
        OUTPUT_VARIABLE include_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REAL_PATH "${include_dir}" include_dir)
    if(NOT EXISTS ${include_dir}/profile.h)
        message(FATAL_ERROR "pkg-config includedir ${include_dir} holds no profile.h")
    endif()
endif()

execute_process(COMMAND ${WORK_DIR}/build/consumer ${WORK_DIR}/instrument RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "consumer exited with ${status}")
endif()
