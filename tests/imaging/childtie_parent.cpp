// Plays the application with its ExifTool helper: starts the program named by its first argument
// as a helper tied to itself, prints "child=PID", and waits for a line on its input. With
// "--exit" it then ends through _Exit, as a fatal filter-host failure does, so that no destructor
// of its own ends the helper; otherwise the test kills it while it waits.
#include "ChildProcessTie.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return 2;
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ChildProcessTie::prepare(helper);
    helper.start(arguments.at(1), {});
    if (!helper.waitForStarted())
        return 3;
    ChildProcessTie::adopt(helper);
    std::printf("child=%lld\n", static_cast<long long>(helper.processId()));
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    if (arguments.contains(QStringLiteral("--exit")))
        std::_Exit(7); // apart from the start failure's 3
    return 0;
}
