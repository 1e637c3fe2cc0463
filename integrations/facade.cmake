# The facade: OvIntegrations, its QML module declaration and the compiled-in qmldir resource.
# rcc's generated initializer registers the resource when the shared library is loaded.
target_sources(integrations PRIVATE
    ${CMAKE_CURRENT_LIST_DIR}/OvIntegrations.h
    ${CMAKE_CURRENT_LIST_DIR}/OvIntegrations.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OvIntegrationsModule.h
    ${CMAKE_CURRENT_LIST_DIR}/OvIntegrationsModule.cpp
    ${CMAKE_CURRENT_LIST_DIR}/OvIntegrations.qrc)
target_compile_definitions(integrations PRIVATE INTEGRATIONS_LIBRARY)
target_include_directories(integrations PUBLIC ${CMAKE_CURRENT_LIST_DIR})
