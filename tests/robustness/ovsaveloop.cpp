// Saves two alternating images in place through OvImageWriter until it is killed:
//   ovsaveloop <target> [count]
// Prints "started" before the first save and "saved <n>" after each one; with a count it ends
// after that many saves.

#include "imaging/ImageData.h"
#include "imaging/OvImageWriter.h"

#include "TestHelpers.h"

#include <QCoreApplication>
#include <QVariantMap>

#include <opencv2/core.hpp>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString target = args.value(1); // none: the save fails and the loop ends with 1
    const long long count = args.size() > 2 ? args.at(2).toLongLong() : 0;

    const cv::Mat first = TestHelpers::makePattern(1200, 800, CV_8U, 3);
    cv::Mat second;
    cv::bitwise_not(first, second);
    const std::shared_ptr<ImageData> images[2] = {std::make_shared<ImageData>(first, cv::Mat()),
                                                  std::make_shared<ImageData>(second, cv::Mat())};

    OvImageWriter writer;
    long long saved = 0;
    bool failed = false;
    QObject::connect(&writer, &OvImageWriter::imageSaved, [&saved](const QString &, qint64) {
        std::printf("saved %lld\n", ++saved);
        std::fflush(stdout);
    });
    QObject::connect(&writer, &OvImageWriter::errorSaving, [&failed](const QString &, const QString &error) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        failed = true;
    });

    std::printf("started\n");
    std::fflush(stdout);
    for (long long i = 0; (count == 0 || i < count) && !failed; ++i)
        writer.saveImage(images[i % 2], QString(), target, QVariantMap(), QVariantMap());
    return failed ? 1 : 0;
}
