# The parts of lumivex that need the integration object; app/CMakeLists.txt includes this once
# the facade exists.
find_package(Qt6 REQUIRED COMPONENTS Quick)

target_sources(lumivexapp PRIVATE
    Console.h Console.cpp
    SignalPrinter.h SignalPrinter.cpp
    SaveTarget.h SaveTarget.cpp
    HeadlessRun.h HeadlessRun.cpp
    ImagePreviewProvider.h ImagePreviewProvider.cpp
    ViewController.h ViewController.cpp
    LumivexWindow.h LumivexWindow.cpp
    LumivexApp.h LumivexApp.cpp
    qml/qml.qrc)
target_link_libraries(lumivexapp PUBLIC integrations Qt6::Widgets Qt6::Qml Qt6::Quick)

add_executable(lumivex main.cpp)
target_link_libraries(lumivex PRIVATE lumivexapp)
