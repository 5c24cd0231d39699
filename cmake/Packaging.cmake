# Install rules of the upgrade tool and the Debian packages of the instrument PC (scripts/package):
#   runtime  libcoagulationcore<major>   the shared library
#   devel    libcoagulationcore-dev      headers, CMake package, pkg-config file
#   tool     coagulation-dbupgrade       dbupgrade and its English translation
#   inspector coagulation-siteinspector  the site inspector, its desktop entry and icon

# The tool looks for a translation named on its command line in Qt's translations folder, too.
set(DBUPGRADE_TRANSLATIONS_DIR ${CMAKE_INSTALL_DATADIR}/${QT_DEBIAN_NAME}/translations CACHE STRING
    "Install folder of the tool's .qm, relative to the prefix (Qt's translations folder on Debian)")
install(TARGETS dbupgrade RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
install(FILES $<TARGET_FILE_DIR:dbupgrade>/dbupgrade_en.qm
    DESTINATION ${DBUPGRADE_TRANSLATIONS_DIR} COMPONENT tool)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME coagulation)
set(CPACK_PACKAGE_CONTACT "Coagulation analyser software team <software@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Coagulation analyser: core library and database upgrade tool")
set(CPACK_COMPONENTS_ALL runtime devel tool inspector)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Dependencies on shared libraries come from dpkg-shlibdeps; the runtime package declares its
# SONAME in a shlibs file, so packages built against it get theirs the same way.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The inspector links the library of the runtime package built beside it, which it depends on
# by component; dpkg-shlibdeps finds it in the build tree and adds nothing for it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/core)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcoagulationcore${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Core library of the coagulation analyser
 Settings store over an instrument folder's databases, clot curves and analysis results,
 helpers, a property tree model and a serial-port device.")

set(CPACK_DEBIAN_DEVEL_PACKAGE_NAME libcoagulationcore-dev)
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVEL_DEPENDS runtime)
set(CPACK_COMPONENT_DEVEL_DESCRIPTION "Core library of the coagulation analyser: development files
 Headers, the CMake package CoagulationCore and the pkg-config file coagulationcore.")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME coagulation-dbupgrade)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION misc)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "Database upgrade tool of the coagulation analyser
 Brings the databases of an instrument folder to the current schema; with its English
 translation.")

set(CPACK_DEBIAN_INSPECTOR_PACKAGE_NAME coagulation-siteinspector)
set(CPACK_DEBIAN_INSPECTOR_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_INSPECTOR_DEPENDS runtime tool)
set(CPACK_COMPONENT_INSPECTOR_DESCRIPTION "Site inspector of the coagulation analyser
 A desktop program for service engineers: the databases, settings, results and clot curves of
 an instrument folder, and the upgrade of its databases with dbupgrade.")

# What dpkg-shlibdeps cannot see: Qt loads its SQLite driver as a plugin, and the development
# files' CMake package finds Qt's through find_dependency.
if(QT_MAJOR_VERSION EQUAL 6)
    set(qt_sqlite_package libqt6sql6-sqlite)
    set(qt_devel_package qt6-base-dev)
else()
    set(qt_sqlite_package libqt5sql5-sqlite)
    set(qt_devel_package qtbase5-dev)
endif()
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS ${qt_sqlite_package})
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS ${qt_sqlite_package})
set(CPACK_DEBIAN_INSPECTOR_PACKAGE_DEPENDS ${qt_sqlite_package})
set(CPACK_DEBIAN_DEVEL_PACKAGE_DEPENDS ${qt_devel_package})

include(CPack)
