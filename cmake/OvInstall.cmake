# Install rules and the CMake package `OvIntegrations`:
#   find_package(OvIntegrations 1.0 CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE OvIntegrations::integrations)
#
# Components: `runtime` (the integrations library), `imaging` (the imaging libraries, which an
# application may replace with its own build), `development` (public headers, link names and the
# CMake package) and `tools` (lumivex, ovfilterhost).
#
# Each exported target declares its include folders for the build tree and for an installed copy
# where it is declared ($<BUILD_INTERFACE>/$<INSTALL_INTERFACE>); the internal object and static
# libraries stay private to the build. Nothing an installed consumer sees defines
# INTEGRATIONS_LIBRARY, so it always gets the import side of OV_INTEGRATIONS_EXPORT.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(OV_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/OvIntegrations)
set(OV_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/OvIntegrations)

# The imaging libraries are whatever shared libraries the `ovimaging` bundle links.
get_target_property(ov_imaging_parts ovimaging INTERFACE_LINK_LIBRARIES)
set(OV_IMAGING_LIBRARIES)
foreach(part IN LISTS ov_imaging_parts)
    if(TARGET ${part})
        get_target_property(part_type ${part} TYPE)
        if(part_type STREQUAL "SHARED_LIBRARY")
            list(APPEND OV_IMAGING_LIBRARIES ${part})
        endif()
    endif()
endforeach()
set(OV_EXPORTED_TARGETS integrations ovimaging ${OV_IMAGING_LIBRARIES})

# $ORIGIN: in a prefix outside the loader's path the integrations library still finds the
# imaging libraries beside it (a program's own search path does not reach a library's needs).
set_target_properties(integrations ${OV_IMAGING_LIBRARIES} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    INSTALL_RPATH "$ORIGIN")
set_target_properties(ovimaging PROPERTIES EXPORT_NAME imaging)

install(TARGETS integrations EXPORT OvIntegrationsTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(TARGETS ovimaging ${OV_IMAGING_LIBRARIES} EXPORT OvIntegrationsTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT imaging NAMELINK_COMPONENT development
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT imaging
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)

# What a host application includes: the facade, the back-end interface, the export macros and
# the imaging declarations (the image handle travels in the facade's signals; the rest serve an
# application that uses OvIntegrations::imaging).
install(FILES
    ${PROJECT_SOURCE_DIR}/integrations/OvIntegrations.h
    ${PROJECT_SOURCE_DIR}/integrations/PluginData.h
    ${PROJECT_SOURCE_DIR}/integrations/integrations_global.h
    DESTINATION ${OV_INSTALL_INCLUDEDIR} COMPONENT development)
set(ov_imaging_headers CvUtils.h ImageData.h OvExifTool.h OvExifToolMetadata.h OvImageReaderWorker.h OvImageUtils.h
    OvImageWriter.h OvImagingGlobal.h)
list(TRANSFORM ov_imaging_headers PREPEND ${PROJECT_SOURCE_DIR}/integrations/imaging/)
install(FILES ${ov_imaging_headers}
    DESTINATION ${OV_INSTALL_INCLUDEDIR}/imaging COMPONENT development)

# The tools find the libraries next to them in any prefix.
file(RELATIVE_PATH ov_bin_to_lib /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
foreach(tool lumivex ovfilterhost)
    if(TARGET ${tool})
        set_target_properties(${tool} PROPERTIES INSTALL_RPATH "$ORIGIN/${ov_bin_to_lib}")
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    endif()
endforeach()

install(EXPORT OvIntegrationsTargets NAMESPACE OvIntegrations::
    DESTINATION ${OV_INSTALL_CMAKEDIR} COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/OvIntegrationsConfig.cmake.in
    ${PROJECT_BINARY_DIR}/OvIntegrationsConfig.cmake
    INSTALL_DESTINATION ${OV_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/OvIntegrationsConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES
    ${PROJECT_BINARY_DIR}/OvIntegrationsConfig.cmake
    ${PROJECT_BINARY_DIR}/OvIntegrationsConfigVersion.cmake
    DESTINATION ${OV_INSTALL_CMAKEDIR} COMPONENT development)
