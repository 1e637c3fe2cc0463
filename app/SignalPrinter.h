#ifndef SIGNALPRINTER_H
#define SIGNALPRINTER_H

#include <QObject>

class OvIntegrations;
class OvIntercom;

// --verbose: every signal of the integration object (and every handoff the intercom receives)
// as one readable line on standard output, in the order the GUI thread sees them.
class SignalPrinter : public QObject
{
    Q_OBJECT
public:
    SignalPrinter(OvIntegrations *integrations, OvIntercom *intercom, QObject *parent = nullptr);

    // The state of the run as the properties report it, one line.
    static QString describe(const OvIntegrations *integrations);

private:
    void connectResults(OvIntegrations *integrations);
    void connectRequests(OvIntegrations *integrations);
};

#endif // SIGNALPRINTER_H
