// Prints how long one recognition attempt holds the GUI thread: a fresh
// engine loading the shipped model, inference, the answer picture shown in
// the "Recognition" window, the labels and result/result.png.
#include "acquisition/ReceiverThread.h"
#include "app/ConsoleState.h"
#include "app/RecognitionPage.h"
#include "context/ConsoleContext.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settingsHome;
    qputenv("XDG_CONFIG_HOME", settingsHome.path().toUtf8()); // the worker's settings stay out of the user's
    QApplication app(argc, argv);

    QTemporaryDir work;
    const QString detect = work.path() + "/detect";
    QDir().mkpath(detect);
    const QDir shipped(QStringLiteral(TESSIVO_SHIPPED_DETECT));
    for (const QString &name : shipped.entryList(QDir::Files))
        QFile::copy(shipped.filePath(name), detect + '/' + name);
    cv::Mat grey(128, 128, CV_8U, cv::Scalar(200));
    cv::line(grey, {35, 25}, {95, 25}, cv::Scalar(20), 12);
    cv::line(grey, {95, 25}, {55, 110}, cv::Scalar(20), 12);
    cv::imwrite((detect + "/test.png").toStdString(), grey);
    QDir::setCurrent(work.path());

    QWidget page;
    ConsoleState state;
    // One folder for the shipped files and the pictures, as in a build tree.
    const ConsoleContext context(nullptr,
                                 ConsolePaths{detect, detect, work.path() + "/result", work.path() + "/log.txt"});
    ReceiverThread worker(context);
    RecognitionPage recognition(&page, state, worker.templatePicture(), context.paths(), nullptr,
                                [](const QString &text) { std::printf("message: %s\n", qPrintable(text)); });
    recognition.setEngine(&RecognitionEngine::detect);

    constexpr int Attempts = 30;
    std::vector<double> ms;
    for (int i = 0; i < Attempts; ++i) {
        QElapsedTimer clock;
        clock.start();
        recognition.attempt();
        ms.push_back(clock.nsecsElapsed() / 1e6);
        app.processEvents();
    }
    const double first = ms.front();
    std::sort(ms.begin() + 1, ms.end());
    double sum = 0;
    for (auto it = ms.begin() + 1; it != ms.end(); ++it)
        sum += *it;
    std::printf("recognition attempt (shipped model, %d attempts): first %.1f ms, then mean %.1f ms, "
                "median %.1f ms, max %.1f ms; answer: %s %s\n",
                Attempts, first, sum / (Attempts - 1), ms[Attempts / 2], ms.back(), qPrintable(recognition.widgets().result->text()),
                qPrintable(recognition.widgets().confidence->text()));
    return 0;
}
