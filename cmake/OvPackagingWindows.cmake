# The Windows zip (`make package-windows`, build/windows/packages/*.zip): everything the install
# rules put in the prefix, plus the DLLs the programs need at run time, so that an unzipped tree
# runs a filter round trip with nothing else on the path.
#   bin/       lumivex.exe, ovfilterhost.exe, integrations.dll, the imaging DLLs, Qt, OpenCV and
#              the MinGW runtime; bin/platforms/ Qt's platform plugins; bin/QtQml/, bin/QtQuick/
#              the QML modules the window imports (the program's folder is on QML's import path)
#   include/   the headers;  lib/  the import libraries and the CMake package

set(ov_runtime_targets Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Network Qt6::Concurrent
    opencv_core opencv_imgproc opencv_imgcodecs)
foreach(target IN LISTS ov_runtime_targets)
    install(FILES $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endforeach()

# Qt looks for its plugins in the program's own folder too.
foreach(plugin QOffscreenIntegrationPlugin QMinimalIntegrationPlugin QWindowsIntegrationPlugin)
    if(TARGET Qt6::${plugin})
        install(FILES $<TARGET_FILE:Qt6::${plugin}> DESTINATION ${CMAKE_INSTALL_BINDIR}/platforms COMPONENT tools)
    endif()
endforeach()

# The window's Qt: QtQml and Qt Quick with their controls and layouts. The dependency build has
# only the modules the window needs, so all of its QML modules go.
if(LUMIVEX_WITH_QML)
    file(GLOB ov_qt_quick_dlls ${LUMIVEX_WINDOWS_DEPS}/bin/Qt6Qml*.dll ${LUMIVEX_WINDOWS_DEPS}/bin/Qt6Quick*.dll)
    install(FILES ${ov_qt_quick_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
    install(DIRECTORY ${LUMIVEX_WINDOWS_DEPS}/qml/ DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools
            PATTERN "*.qmltypes" EXCLUDE PATTERN "*.debug" EXCLUDE)
endif()

file(GLOB ov_mingw_runtime ${LUMIVEX_WINDOWS_DEPS}/bin/libgcc_s_seh-1.dll ${LUMIVEX_WINDOWS_DEPS}/bin/libstdc++-6.dll
     ${LUMIVEX_WINDOWS_DEPS}/bin/libwinpthread-1.dll)
install(FILES ${ov_mingw_runtime} DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME lumivex-integrations)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME lumivex-integrations-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENTS_ALL runtime imaging development tools)
include(CPack)
