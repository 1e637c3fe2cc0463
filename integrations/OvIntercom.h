#ifndef OVINTERCOM_H
#define OVINTERCOM_H

#include <QObject>
#include <QString>

// The application's messaging object. The integrations library only passes a pointer to it
// from OvIntegrations::setup() to the back end; the application defines it (the reference
// application in app/ implements the single-instance handoff with it).
class OvIntercom : public QObject
{
    Q_OBJECT
public:
    explicit OvIntercom(QObject *parent = nullptr);
    ~OvIntercom() override;

Q_SIGNALS:
    // A second launch handed its pending files over; the data is the back end's merge text.
    void mergeInstance(const QString &data);
};

#endif // OVINTERCOM_H
