#ifndef LAUNCHOPTIONS_H
#define LAUNCHOPTIONS_H

#include "ImageOperation.h"

#include <QString>
#include <QStringList>

// The options that belong to lumivex itself. They are taken out of the command line before it
// goes to OvIntegrations, which treats every argument it does not know as a file.
class LaunchOptions
{
public:
    static LaunchOptions parse(const QStringList &arguments);
    static QString usage();

    // `remaining` with every file made absolute against the current folder and cleaned, so that
    // a running instance that is handed the files finds the same ones wherever it was started.
    QStringList libraryArguments() const;
    // False when a file's path contains "::", which the merge text cannot carry.
    bool filesFitMergeData() const;

    bool headless = false;
    bool verbose = false;
    bool help = false;
    bool autoRun = false;
    ImageOperation::Kind operation = ImageOperation::Identity;
    // How long a launch waits for the running instance to take its files (--handoff-timeout).
    int handOffTimeoutMs = 30000;
    // --window-png: where the window's picture goes once it shows its first image; the run ends then.
    QString windowPicture;
    // Set when an option of ours has a value we cannot use; the launch stops with it.
    QString error;
    // The command line for the library: the first element and every argument that is not ours.
    QStringList remaining;
};

#endif // LAUNCHOPTIONS_H
