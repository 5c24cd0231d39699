# Install rules and the CMake and pkg-config packages of the core library; included by
# core/CMakeLists.txt. Components: runtime (the shared library), devel (headers, packages).
include(CMakePackageConfigHelpers)

set(CORE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/CoagulationCore)
# The Qt modules the public headers include; a consumer gets them through find_dependency.
set(CORE_PUBLIC_QT_COMPONENTS Core Gui Widgets Sql)

install(TARGETS core EXPORT CoagulationCoreTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        COMPONENT runtime NAMELINK_COMPONENT devel
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/CoagulationCore COMPONENT devel)
install(EXPORT CoagulationCoreTargets
    NAMESPACE Coagulation::
    DESTINATION ${CORE_PACKAGE_DIR}
    COMPONENT devel)

list(JOIN CORE_PUBLIC_QT_COMPONENTS " " CORE_PUBLIC_QT_COMPONENTS_TEXT)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/CoagulationCoreConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/CoagulationCoreConfig.cmake
    INSTALL_DESTINATION ${CORE_PACKAGE_DIR})
# Same major version: the major number is the SONAME's, the ABI's.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/CoagulationCoreConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
install(FILES
        ${CMAKE_CURRENT_BINARY_DIR}/CoagulationCoreConfig.cmake
        ${CMAKE_CURRENT_BINARY_DIR}/CoagulationCoreConfigVersion.cmake
    DESTINATION ${CORE_PACKAGE_DIR}
    COMPONENT devel)

# pkg-config: relative to its own folder, so the file stays right under any install prefix.
list(TRANSFORM CORE_PUBLIC_QT_COMPONENTS PREPEND Qt${QT_MAJOR_VERSION} OUTPUT_VARIABLE CORE_PUBLIC_PKGCONFIG)
list(JOIN CORE_PUBLIC_PKGCONFIG " " CORE_PUBLIC_PKGCONFIG)
file(RELATIVE_PATH CORE_PC_TO_PREFIX
    ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" CORE_PC_TO_PREFIX "${CORE_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/coagulationcore.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/coagulationcore.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/coagulationcore.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT devel)
