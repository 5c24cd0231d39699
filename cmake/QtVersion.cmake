# One source, two Qt majors: QT_MAJOR_VERSION picks Qt 5.15 (the default) or Qt 6, and every
# target links the versionless Qt:: targets both provide. The script engine is the one module
# that differs: QtScript under Qt 5, QJSEngine from QtQml under Qt 6.
set(QT_MAJOR_VERSION 5 CACHE STRING "Major version of Qt to build against: 5 or 6")
set_property(CACHE QT_MAJOR_VERSION PROPERTY STRINGS 5 6)
if(QT_MAJOR_VERSION EQUAL 6)
    set(QT_MIN_VERSION 6.4)
    set(QT_SCRIPT_COMPONENT Qml)
elseif(QT_MAJOR_VERSION EQUAL 5)
    set(QT_MIN_VERSION 5.15)
    set(QT_SCRIPT_COMPONENT Script)
else()
    message(FATAL_ERROR "QT_MAJOR_VERSION must be 5 or 6, not ${QT_MAJOR_VERSION}")
endif()
find_package(Qt${QT_MAJOR_VERSION} ${QT_MIN_VERSION} REQUIRED
    COMPONENTS Core Gui Widgets Sql ${QT_SCRIPT_COMPONENT} Test)
set(QT_SCRIPT_TARGET Qt::${QT_SCRIPT_COMPONENT})
# Where Debian keeps this major's tools (lrelease) and translations.
set(QT_DEBIAN_NAME qt${QT_MAJOR_VERSION})
message(STATUS "Building against Qt ${Qt${QT_MAJOR_VERSION}_VERSION}")
