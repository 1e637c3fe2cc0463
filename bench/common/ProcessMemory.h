#ifndef PROCESSMEMORY_H
#define PROCESSMEMORY_H

#include <QString>

// The calling process's own memory counters, as the running system keeps them, in bytes. A
// counter the system does not keep is -1, with the reason in the matching `...Missing` text.
class ProcessMemory
{
public:
    struct Counters
    {
        qint64 resident = -1; // pages in memory now (Linux: resident set; Windows: working set)
        qint64 peakResident = -1; // its high-water mark
        qint64 sharedResident = -1; // of `resident`, pages of shared memory
        qint64 privateBytes = -1; // memory of this process alone (Linux: resident anonymous pages;
                                  // Windows: committed private bytes)
        QString sharedMissing;
        QString privateMissing;
    };

    static Counters read();

    // Starts the high-water mark afresh at the current resident set. False where the system keeps
    // one mark for the process's whole life; the peak of a call is then only to be sampled.
    static bool resetPeak();

    // What the program runs on, for the figures' heading ("Linux", "Windows", "Windows under Wine 8.0").
    static QString platform();
};

#endif // PROCESSMEMORY_H
