# Installs the inspector's package components into a scratch prefix and starts the installed
# program there: it must find the library through its own folder, not the build tree.
# cmake -D BUILD_DIR=... -D WORK_DIR=... -P installed.cmake
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
foreach(component runtime tool inspector)
    execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
        --component ${component} RESULT_VARIABLE status OUTPUT_QUIET)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "install of ${component} failed")
    endif()
endforeach()
foreach(file share/applications/coagulation-siteinspector.desktop
             share/icons/hicolor/scalable/apps/coagulation-siteinspector.svg bin/dbupgrade)
    if(NOT EXISTS ${prefix}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen
        ${prefix}/bin/siteinspector --help
    RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE errors)
if(NOT status EQUAL 0 OR NOT output MATCHES "instrument folder")
    message(FATAL_ERROR "the installed siteinspector did not start (${status}):\n${output}${errors}")
endif()
message(STATUS "installed siteinspector starts")
