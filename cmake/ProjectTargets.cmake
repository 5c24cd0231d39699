# One function per kind of target, so every module is declared the same way.

# add_project_library(name SHARED|STATIC|OBJECT SOURCES ... LIBS ... [PRIVATE_LIBS ...] [DEFINE macro])
# LIBS are what the library's headers need; PRIVATE_LIBS only its .cpp files.
function(add_project_library name kind)
    cmake_parse_arguments(ARG "" "DEFINE" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(${name} ${kind} ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}>)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    if(ARG_DEFINE)
        target_compile_definitions(${name} PRIVATE ${ARG_DEFINE})
    endif()
    set_target_properties(${name} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# add_project_test(name SOURCES ... LIBS ... [ENVIRONMENT VAR=value ...])
# A QtTest executable registered with CTest; it runs headless.
function(add_project_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt::Test testcommon ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}"
        TIMEOUT 300)
endfunction()

# add_project_benchmark(name SOURCES ... LIBS ...)
# Built with everything else, never run by the tests.
function(add_project_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
endfunction()

# add_project_translation(target TS file.ts QM file.qm)
# Compiles a Qt translation with lrelease into a target built with everything else.
# The lrelease of the Qt the build uses: Debian installs one per major.
find_program(LRELEASE_EXECUTABLE NAMES lrelease-${QT_DEBIAN_NAME} lrelease
    HINTS /usr/lib/${QT_DEBIAN_NAME}/bin)
function(add_project_translation target)
    cmake_parse_arguments(ARG "" "TS;QM" "" ${ARGN})
    if(NOT LRELEASE_EXECUTABLE)
        message(FATAL_ERROR "lrelease not found (Debian package qttools5-dev-tools, or qt6-l10n-tools for Qt 6)")
    endif()
    add_custom_command(OUTPUT ${ARG_QM}
        COMMAND ${LRELEASE_EXECUTABLE} -silent ${ARG_TS} -qm ${ARG_QM}
        DEPENDS ${ARG_TS})
    add_custom_target(${target} ALL DEPENDS ${ARG_QM})
endfunction()
