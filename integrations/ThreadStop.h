#ifndef THREADSTOP_H
#define THREADSTOP_H

class QThread;

// Ends a thread that its owner is about to give up: the event loop is asked to quit, and a thread
// that does not come back in time is terminated. Every outcome is logged in the owner's words.
namespace ThreadStop {

// The owner's log lines, in the order they can appear.
struct Messages
{
    const char *stopping; // info, always
    const char *stopped; // info, the thread ended after quit
    const char *timedOut; // warning, before terminate
    const char *terminated; // info, the thread ended after terminate
    const char *notTerminated; // critical, the thread still runs
};

// Quits `thread` and waits up to 5000 ms; terminates it and waits another 5000 ms when it does
// not end. Returns whether the thread has ended.
bool stop(QThread &thread, const Messages &messages);

} // namespace ThreadStop

#endif // THREADSTOP_H
