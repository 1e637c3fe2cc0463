// bench_enhance: time of the demo enhancement and of the window's preview conversion at the
// sizes a filter host and a camera deliver. The window runs both off the GUI thread, the
// headless run on it; these figures tell how long a run waits for them.
#include "ImageOperation.h"
#include "ImagePreviewProvider.h"
#include "SampleImage.h"

#include "imaging/CvUtils.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

double medianMs(const std::function<void()> &work, int repeats)
{
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    struct Case
    {
        const char *name;
        int width, height, depth, channels;
    };
    const Case cases[] = {
        {"filter host 1920x1280 16-bit RGBA", 1920, 1280, CV_16U, 4},
        {"camera JPEG 6000x4000 8-bit RGB", 6000, 4000, CV_8U, 3},
        {"camera raw 6000x4000 16-bit RGB", 6000, 4000, CV_16U, 3},
    };
    for (const Case &c : cases) {
        cv::Mat rgb = SampleImage::landscape(c.width, c.height);
        if (c.channels == 4)
            cv::cvtColor(rgb, rgb, cv::COLOR_RGB2RGBA);
        const cv::Mat image = CvUtils::convert(rgb, c.depth);
        const int repeats = c.width * c.height > 10000000 ? 3 : 5;
        const double ms = medianMs([&] { ImageOperation::enhance(image); }, repeats);
        const double previewMs = medianMs([&] { ImagePreviewProvider::fromMat(image, 1600); }, repeats);
        out << c.name << ": enhance median " << QString::number(ms, 'f', 1) << " ms ("
            << QString::number(c.width * double(c.height) / 1e6 / (ms / 1000.0), 'f', 1) << " Mpx/s), preview "
            << QString::number(previewMs, 'f', 1) << " ms, " << repeats << " runs" << Qt::endl;
    }
    return 0;
}
