#ifndef QUITSIGNALS_H
#define QUITSIGNALS_H

class QCoreApplication;

// Turns the system's polite stop requests (SIGTERM and SIGINT; console close, Ctrl+C and a
// WM_CLOSE posted to the main thread) into a normal quit of the event loop, so that cleanup()
// still hands a filter host its image back and the handoff socket is closed instead of left
// behind. A signal or console event that arrives before the event loop runs (while the facade
// may still wait for a filter module) ends the process at once.
class QuitSignals
{
public:
    static void install(QCoreApplication *app);
};

#endif // QUITSIGNALS_H
