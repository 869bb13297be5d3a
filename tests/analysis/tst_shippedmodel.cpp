// The shipped model on what the console really feeds it: the simulated
// matrix shows its stored handwritten digits (kept out of the model's
// training), each frame is displayed in gray, written as the test picture and
// recognised by the engine, without and with a template of the lit matrix.
#include "recognition/DigitRecognizer.h"

#include "simulator/ZK128Device.h"

#include <opencv2/imgcodecs.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <iostream>
#include <sstream>

namespace {

// The gray display picture of the device's present scene:
// level = clamp(I / range, 0, 1) x 255.
cv::Mat displayedFrame(const ZK128Device &device)
{
    cv::Mat grey(ZK128Device::Side, ZK128Device::Side, CV_8U);
    const double range = device.rangeNa();
    for (int p = 0; p < ZK128Device::PixelCount; ++p) {
        const double level = std::clamp(device.expectedCurrentNa(p) / range, 0.0, 1.0) * 255.0;
        grey.at<uchar>(p / ZK128Device::Side, p % ZK128Device::Side) = uchar(level);
    }
    return grey;
}

} // namespace

class TestShippedModel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    std::string model = TESSIVO_SHIPPED_MODEL;
    std::ostringstream quiet;
    std::streambuf *savedOut = nullptr;
    std::string detectDir() const { return work.filePath("detect").toStdString(); }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        QVERIFY(QDir::setCurrent(work.path()));
        QVERIFY(QDir().mkpath(QString::fromStdString(detectDir())));
        savedOut = std::cout.rdbuf(quiet.rdbuf()); // one "Model loaded" line per engine
    }

    void cleanupTestCase() { std::cout.rdbuf(savedOut); }

    void recognisesTheSimulatorsDigits_data()
    {
        QTest::addColumn<bool>("withTemplate");
        QTest::newRow("without template") << false;
        QTest::newRow("with template") << true;
    }

    void recognisesTheSimulatorsDigits()
    {
        QFETCH(bool, withTemplate);
        ZK128Device device;
        device.setScene(ZK128Device::Scene::Uniform);
        QVERIFY(cv::imwrite(detectDir() + "/mode.png", displayedFrame(device)));

        const std::string testPicture = work.filePath("test.png").toStdString();
        int right = 0, shown = 0;
        QStringList misses;
        device.setScene(ZK128Device::Scene::FixedDigit);
        for (int sample = 0; sample < 5; ++sample) {
            for (int digit = 0; digit <= 9; ++digit) {
                device.setFixedDigit(digit, sample);
                QVERIFY(cv::imwrite(testPicture, displayedFrame(device)));
                const DetectionResult result = DigitRecognizer(model, detectDir(), work.filePath("result").toStdString()).detect(testPicture, true, withTemplate);
                ++shown;
                if (result.digit == digit && result.confidence >= 0.4f)
                    ++right;
                else
                    misses << QString("%1/%2 read as %3 (%4)").arg(digit).arg(sample).arg(result.digit).arg(result.confidence);
            }
        }
        qInfo("%d of %d digits right with confidence >= 0.4", right, shown);
        // The model is fixed and the frames are noise-free, so the figure is
        // exact; a retrained model must still read nearly every digit.
        QVERIFY2(right >= shown - 2, qPrintable(QString("%1 of %2 right; misses: %3").arg(right).arg(shown).arg(misses.join(", "))));
    }

    void blankLitMatrixIsNoDigit_data() { recognisesTheSimulatorsDigits_data(); }

    void blankLitMatrixIsNoDigit()
    {
        QFETCH(bool, withTemplate);
        ZK128Device device;
        device.setScene(ZK128Device::Scene::Uniform);
        const cv::Mat lit = displayedFrame(device);
        QVERIFY(cv::imwrite(detectDir() + "/mode.png", lit));
        const std::string testPicture = work.filePath("blank.png").toStdString();
        QVERIFY(cv::imwrite(testPicture, lit));
        const DetectionResult result = DigitRecognizer(model, detectDir(), work.filePath("result").toStdString()).detect(testPicture, true, withTemplate);
        QVERIFY2(result.digit == 10 || result.confidence < 0.4f,
                 qPrintable(QString("read as %1 (%2)").arg(result.digit).arg(result.confidence)));
    }
};

QTEST_GUILESS_MAIN(TestShippedModel)
#include "tst_shippedmodel.moc"
