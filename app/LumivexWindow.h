#ifndef LUMIVEXWINDOW_H
#define LUMIVEXWINDOW_H

#include <QObject>
#include <QStringList>

#include <memory>

class OvIntegrations;
class QQmlApplicationEngine;
class QQuickWindow;
class ViewController;

// The QML window: exposes the integration object as `integrations` and the controller as
// `viewer`, serves the preview picture and loads Main.qml from the program's resources.
class LumivexWindow : public QObject
{
    Q_OBJECT
public:
    explicit LumivexWindow(OvIntegrations *integrations, QObject *parent = nullptr);
    ~LumivexWindow() override;

    // False with the engine's messages in errors() when the QML did not load.
    bool load();
    QStringList errors() const;

    QQuickWindow *window() const;
    ViewController *controller() const;

    // Without a display (the offscreen and minimal platforms) only the software renderer can draw and grab.
    static void chooseRenderer();

private:
    OvIntegrations *m_integrations;
    ViewController *m_controller = nullptr;
    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QStringList m_errors;
};

#endif // LUMIVEXWINDOW_H
