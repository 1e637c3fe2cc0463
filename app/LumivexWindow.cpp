#include "LumivexWindow.h"

#include "ImagePreviewProvider.h"
#include "OvIntegrations.h"
#include "ViewController.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>

#ifdef Q_OS_WIN
namespace {

// QML's loader and image threads run regular expressions. With the JIT each such thread keeps a
// thread_local JIT stack whose destructor faults in MinGW's thread runtime as the thread ends,
// and the process then never exits. The interpreter leaves nothing behind; set before main(), so
// that it holds from the first expression on.
void disableRegularExpressionJit()
{
    if (qEnvironmentVariableIsEmpty("QT_ENABLE_REGEXP_JIT"))
        qputenv("QT_ENABLE_REGEXP_JIT", "0");
}
Q_CONSTRUCTOR_FUNCTION(disableRegularExpressionJit)

} // namespace
#endif

LumivexWindow::LumivexWindow(OvIntegrations *integrations, QObject *parent)
    : QObject(parent)
    , m_integrations(integrations)
{
}

LumivexWindow::~LumivexWindow()
{
    // QML bindings still read the controller while the engine tears the window down.
    m_engine.reset();
    delete m_controller;
}

void LumivexWindow::chooseRenderer()
{
    // The choice counts only before the first scene graph exists; later calls would only warn.
    static bool chosen = false;
    const QString platform = QGuiApplication::platformName();
    if (!chosen && (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    chosen = true;
}

bool LumivexWindow::load()
{
    chooseRenderer();
    m_engine = std::make_unique<QQmlApplicationEngine>();
    connect(m_engine.get(), &QQmlApplicationEngine::warnings, this, [this](const QList<QQmlError> &warnings) {
        for (const QQmlError &warning : warnings)
            m_errors << warning.toString();
    });
    // The engine owns the provider; the controller only hands it new pictures.
    auto *provider = new ImagePreviewProvider;
    m_controller = new ViewController(m_integrations, provider);
    m_engine->addImageProvider(QStringLiteral("lumivex"), provider);
    m_engine->rootContext()->setContextProperty(QStringLiteral("integrations"), m_integrations);
    m_engine->rootContext()->setContextProperty(QStringLiteral("viewer"), m_controller);
    m_engine->load(QUrl(QStringLiteral("qrc:/lumivex/Main.qml")));
    return window() != nullptr;
}

QStringList LumivexWindow::errors() const
{
    return m_errors;
}

QQuickWindow *LumivexWindow::window() const
{
    if (!m_engine || m_engine->rootObjects().isEmpty())
        return nullptr;
    return qobject_cast<QQuickWindow *>(m_engine->rootObjects().constFirst());
}

ViewController *LumivexWindow::controller() const
{
    return m_controller;
}
