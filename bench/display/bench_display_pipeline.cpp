// Cost of showing one live frame in the real main window: rotation, mirroring,
// the smooth scale into the live view and the pixmap, at the window's default
// size and maximised, in gray and colour. Prints microseconds per frame.
#include "app/MainWindow.h"
#include "context/ConsoleContext.h"
#include "display/DisplayPipeline.h"
#include "display/KeepRatioWidget.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

QImage sensorPicture(QImage::Format format)
{
    QImage image(128, 128, QImage::Format_RGB888);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            image.setPixelColor(x, y, QColor((x * 2) & 255, (y * 2) & 255, (x + y) & 255));
    return image.convertToFormat(format);
}

double microsecondsPerFrame(DisplayPipeline &pipeline, const QImage &frame, int frames)
{
    static std::uint64_t index = 0;
    const auto show = [&pipeline, &frame] {
        pipeline.showPicture(FrameRendering::Picture{frame, ++index, std::chrono::steady_clock::now()});
    };
    show(); // the first frame of a run only starts the clock
    show();
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < frames; ++i)
        show();
    return double(clock.nsecsElapsed()) / 1000.0 / frames;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    auto device = std::make_shared<ZK128Device>();
    const ConsoleContext context(std::make_shared<SimulatorBackend>(device), ConsolePaths::forApplication(),
                                 SettingsIdentity(), device);
    auto window = std::make_unique<MainWindow>(context);
    window->show();
    DisplayPipeline &pipeline = window->displayPipeline();
    pipeline.rotate();           // every step of the pipeline is exercised
    pipeline.mirrorHorizontal();
    pipeline.mirrorVertical();

    const int frames = 2000;
    std::printf("Display pipeline cost per frame (rotate 90 + mirror both + smooth scale + pixmap), %d frames\n",
                frames);
    const struct {
        const char *name;
        QSize size;
    } sizes[] = {{"default 840x523", QSize(840, 523)}, {"maximised 1920x1080", QSize(1920, 1080)}};
    for (const auto &size : sizes) {
        window->resize(size.size);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        const QSize label = window->liveView()->pictureLabel()->size();
        for (const auto &[mode, format] : {std::pair{"gray", QImage::Format_Grayscale8},
                                           std::pair{"rgb", QImage::Format_RGB888}}) {
            const double us = microsecondsPerFrame(pipeline, sensorPicture(format), frames);
            std::printf("  %-20s live view %4dx%-4d %-4s : %8.1f us/frame (%.0f frames/s at most)\n", size.name,
                        label.width(), label.height(), mode, us, 1e6 / us);
        }
    }
    window.reset();
    return 0;
}
