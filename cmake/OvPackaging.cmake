# Debian packages, one per install component, named the way Debian names library packages:
# the runtime package after the SONAME (libintegrations1), so that a later major version can be
# installed beside it, the headers and the CMake package in libintegrations-dev.
#   make package   ->   build/default/packages/*.deb
# Library dependencies come from the binaries (dpkg-shlibdeps); the hand-written ones below are
# what no binary shows: programs and QML modules loaded at run time, and what find_package needs.

# A Windows build gets a zip instead; Debian packages are made on a Debian host only
# (dpkg-shlibdeps, gzip).
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/OvPackagingWindows.cmake)
    return()
endif()
if(NOT CMAKE_HOST_UNIX)
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivex-integrations)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_CONTACT "Orvane Developers <developers@orvane.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime imaging development tools)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The imaging libraries are not installed on the build machine; dpkg-shlibdeps finds them in
# the build tree, and the component dependencies below name their package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libintegrations1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DEPENDS imaging)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Lumivex integrations library
The library that the Lumivex photo-enhancement application loads at start-up.
It decides how the application was launched (by a filter module inside a
Photoshop-compatible editor, or by a photo manager as its external editor)
and relays images between the two programs.")

set(CPACK_DEBIAN_IMAGING_PACKAGE_NAME liblumivex-imaging1)
set(CPACK_DEBIAN_IMAGING_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_IMAGING_PACKAGE_DEPENDS libimage-exiftool-perl)
set(CPACK_DEBIAN_IMAGING_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_COMPONENT_IMAGING_DESCRIPTION "Lumivex imaging libraries
Image data, reading and writing, metadata through ExifTool, thumbnails and
image utilities: five shared libraries that share one version.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libintegrations-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev, libopencv-dev")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime imaging)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "Lumivex integrations library, development files
Public headers and the CMake package OvIntegrations, with the imported
targets OvIntegrations::integrations and OvIntegrations::imaging.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME lumivex-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS
    "qml6-module-qtquick, qml6-module-qtquick-controls, qml6-module-qtquick-layouts")
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime imaging)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "Lumivex reference application and filter-module stand-in
lumivex is a small host for the integrations library, with a window and
headless runs; ovfilterhost plays a host editor's filter module, so that a
filter run needs no Photoshop.")

# Each package carries its copyright and its changelog, as every Debian package does; gzip -n
# leaves the time stamp out, so that the package does not change with the build time.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9nc
    INPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog
    OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz
    COMMAND_ERROR_IS_FATAL ANY)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    install(FILES ${PROJECT_BINARY_DIR}/debian/changelog.gz ${CMAKE_CURRENT_LIST_DIR}/debian/copyright
        DESTINATION ${docdir} COMPONENT ${component})
endforeach()

include(CPack)
