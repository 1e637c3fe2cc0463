// lumivex-sample: writes the demo's sample images.
#include "SampleImage.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    const char *const usage = "Usage: lumivex-sample [WIDTHxHEIGHT] FILE...\n";
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        QTextStream(stdout) << usage;
        return 0;
    }
    int width = 640, height = 427;
    static const QRegularExpression sizePattern(QStringLiteral("^\\d+x\\d+$"));
    if (!args.isEmpty() && sizePattern.match(args.first()).hasMatch()) {
        const QStringList size = args.takeFirst().split(QLatin1Char('x'));
        width = size.value(0).toInt();
        height = size.value(1).toInt();
    }
    if (args.isEmpty() || width <= 0 || height <= 0) {
        err << usage;
        return 2;
    }
    for (const QString &path : args) {
        if (!SampleImage::write(path, width, height)) {
            err << "lumivex-sample: cannot write " << path << "\n";
            return 1;
        }
    }
    return 0;
}
