// Latency of one recognition attempt as the recognition page makes it once a
// second: a fresh engine loads the shipped model, then detects the digit in
// a simulated test picture (with template subtraction). Prints milliseconds.
#include "recognition/DigitRecognizer.h"

#include "tools/train_digits/DigitSampleFactory.h"

#include <ATen/Parallel.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <numeric>
#include <sstream>
#include <vector>

namespace {
double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const double mean = std::accumulate(ms.begin(), ms.end(), 0.0) / double(ms.size());
    std::printf("%-34s median %.2f ms, mean %.2f ms, worst %.2f ms (%zu runs)\n", what,
                ms[ms.size() / 2], mean, ms.back(), ms.size());
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string model = argc > 1 ? argv[1] : TESSIVO_SHIPPED_MODEL;
    QTemporaryDir work;
    QDir::setCurrent(work.path());
    const std::string detectDir = work.filePath(QStringLiteral("detect")).toStdString();
    const std::string resultDir = work.filePath(QStringLiteral("result")).toStdString();
    QDir().mkpath(QString::fromStdString(detectDir));

    // A handwritten-looking 7 made of two strokes, on a simulated matrix.
    cv::Mat ink = cv::Mat::zeros(28, 28, CV_32F);
    cv::line(ink, {6, 6}, {22, 6}, cv::Scalar(1.0), 3);
    cv::line(ink, {22, 6}, {12, 24}, cv::Scalar(1.0), 3);
    DigitSampleFactory factory(5);
    const auto scene = factory.digitScene(ink, true);
    const std::string testPicture = work.filePath("test.png").toStdString();
    cv::imwrite(testPicture, scene.test);
    cv::imwrite(detectDir + "/mode.png", scene.templ);

    std::ostringstream quiet;
    std::streambuf *savedOut = std::cout.rdbuf(quiet.rdbuf());
    std::vector<double> attempt, load, detect;
    for (int run = 0; run < 60; ++run) {
        const auto start = std::chrono::steady_clock::now();
        DigitRecognizer engine(model, detectDir, resultDir);
        const double loaded = msSince(start);
        const auto detectStart = std::chrono::steady_clock::now();
        engine.detect(testPicture, true, true);
        detect.push_back(msSince(detectStart));
        load.push_back(loaded);
        attempt.push_back(msSince(start));
    }
    std::cout.rdbuf(savedOut);
    std::printf("LibTorch threads: %d\n", at::get_num_threads());
    report("model loading", load);
    report("detection (picture to answer)", detect);
    report("one attempt (load + detect)", attempt);
    return 0;
}
