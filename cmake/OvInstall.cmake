# Install rules and the CMake package `OvIntegrations`:
#   find_package(OvIntegrations 1.0 CONFIG REQUIRED)
#   target_link_libraries(app PRIVATE OvIntegrations::integrations)
#
# Components: `runtime` (the integrations library), `imaging` (the imaging libraries, which an
# application may replace with its own build), `development` (public headers, link names and the
# CMake package) and `tools` (lumivex, ovfilterhost).
#
# The build tree's usage requirements name source folders and the library's internal object and
# static libraries; an installed copy has none of them. Those entries are kept for the build tree
# only, and the installed targets get the installed headers instead. Nothing an installed
# consumer sees defines INTEGRATIONS_LIBRARY, so it always gets the import side of
# OV_INTEGRATIONS_EXPORT.

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

function(ov_keep_for_build_tree_only target)
    foreach(property INTERFACE_INCLUDE_DIRECTORIES INTERFACE_LINK_LIBRARIES)
        get_target_property(items ${target} ${property})
        if(NOT items)
            continue()
        endif()
        set(result)
        foreach(item IN LISTS items)
            set(build_only FALSE)
            string(FIND "${item}" "${PROJECT_SOURCE_DIR}/" in_source)
            string(FIND "${item}" "${PROJECT_BINARY_DIR}/" in_binary)
            if(in_source EQUAL 0 OR in_binary EQUAL 0)
                set(build_only TRUE)
            elseif(TARGET ${item} AND NOT item IN_LIST OV_EXPORTED_TARGETS)
                get_target_property(imported ${item} IMPORTED)
                if(NOT imported)
                    set(build_only TRUE)
                endif()
            endif()
            if(build_only)
                list(APPEND result "$<BUILD_INTERFACE:${item}>")
            else()
                list(APPEND result "${item}")
            endif()
        endforeach()
        set_property(TARGET ${target} PROPERTY ${property} "${result}")
    endforeach()
    target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${OV_INSTALL_INCLUDEDIR}>)
endfunction()

foreach(target IN LISTS OV_EXPORTED_TARGETS)
    ov_keep_for_build_tree_only(${target})
endforeach()
# What the facade's header needs once the internal parts are out of the picture: QObject and the
# image handle of its signals.
target_link_libraries(integrations INTERFACE Qt6::Core ovimaging)

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
file(GLOB ov_imaging_headers ${PROJECT_SOURCE_DIR}/integrations/imaging/*.h)
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
