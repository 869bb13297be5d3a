#include "acquisition/PixelDecoder.h"
#include "acquisition/ReferenceCalibrator.h"

#include <QtTest>

#include <numeric>

namespace {
// A frame whose every pixel reads `raw`.
RawFrame uniformFrame(std::uint32_t raw)
{
    RawFrame frame(Zk128::FrameLength, 0);
    for (int i = 0; i < Zk128::PixelCount; ++i) {
        frame[std::size_t(3 * i)] = (raw >> 16) & 0xFF;
        frame[std::size_t(3 * i + 1)] = (raw >> 8) & 0xFF;
        frame[std::size_t(3 * i + 2)] = raw & 0xFF;
    }
    return frame;
}
} // namespace

class TestReferenceCalibrator : public QObject
{
    Q_OBJECT
private slots:
    void trimmedMean_data()
    {
        QTest::addColumn<QList<double>>("values");
        QTest::addColumn<double>("mean");
        QTest::newRow("10,1,2,...,9") << QList<double>{10, 1, 2, 3, 4, 5, 6, 7, 8, 9} << 5.5;
        QTest::newRow("all equal") << QList<double>{3, 3, 3, 3, 3, 3, 3, 3, 3, 3} << 3.0;
        QTest::newRow("tied extremes dropped once each") << QList<double>{0, 0, 5, 5, 5, 5, 5, 5, 9, 9} << 39.0 / 8;
        QTest::newRow("one outlier") << QList<double>{1, 1, 1, 1, 1000, 1, 1, 1, 1, 1} << 1.0;
        QTest::newRow("negative values") << QList<double>{-4, -3, -2, -1, 0, 1, 2, 3, 4, 5} << 0.5;
    }
    void trimmedMean()
    {
        QFETCH(QList<double>, values);
        QFETCH(double, mean);
        std::array<double, 10> array{};
        std::copy(values.begin(), values.end(), array.begin());
        QCOMPARE(ReferenceCalibrator::trimmedMean(array), mean);
    }

    // Pixel 0 reads 10, 1, 2, ..., 9 nA over the ten frames; pixel 16383 always
    // 7 nA; every other pixel its frame number. Only the 10th frame completes.
    void referenceFromTenFrames()
    {
        ReferenceCalibrator calibrator;
        std::vector<double> reference(Zk128::PixelCount, -1.0);
        const std::uint32_t pixel0[10] = {100000, 10000, 20000, 30000, 40000, 50000, 60000, 70000, 80000, 90000};
        for (int f = 0; f < 10; ++f) {
            RawFrame frame = uniformFrame(std::uint32_t(f) * 10000);
            frame[0] = (pixel0[f] >> 16) & 0xFF;
            frame[1] = (pixel0[f] >> 8) & 0xFF;
            frame[2] = pixel0[f] & 0xFF;
            frame[3 * 16383] = 0x01, frame[3 * 16383 + 1] = 0x11, frame[3 * 16383 + 2] = 0x70; // raw 70000
            QCOMPARE(calibrator.framesGathered(), f);
            QCOMPARE(calibrator.addFrame(frame, 100, reference), f == 9);
        }
        QCOMPARE(calibrator.framesGathered(), 0);
        QVERIFY(qAbs(reference[0] - 5.5) < 1e-12);
        QVERIFY(qAbs(reference[16383] - 7.0) < 1e-12);
        QVERIFY(qAbs(reference[5000] - 4.5) < 1e-12); // frames 0..9 read 0..9 nA: middle eight average 4.5
    }

    void identicalFramesGiveThatFrame()
    {
        ReferenceCalibrator calibrator;
        RawFrame frame(Zk128::FrameLength, 0);
        for (int i = 0; i < Zk128::PixelBytes; ++i)
            frame[std::size_t(i)] = std::uint8_t(i * 7 + 3);
        std::vector<double> reference;
        for (int f = 0; f < 9; ++f)
            QVERIFY(!calibrator.addFrame(frame, 800, reference));
        QVERIFY(calibrator.addFrame(frame, 800, reference));
        QCOMPARE(int(reference.size()), Zk128::PixelCount);
        for (int i = 0; i < Zk128::PixelCount; ++i)
            QCOMPARE(reference[std::size_t(i)], PixelDecoder::current(frame, i, 800));
    }

    // A second calibration uses only its own ten frames; reset drops a started one.
    void calibrationsDoNotMix()
    {
        ReferenceCalibrator calibrator;
        std::vector<double> reference;
        for (int f = 0; f < 4; ++f)
            calibrator.addFrame(uniformFrame(900000), 10, reference);
        calibrator.reset();
        QCOMPARE(calibrator.framesGathered(), 0);
        for (int round = 1; round <= 2; ++round) {
            for (int f = 0; f < 10; ++f)
                calibrator.addFrame(uniformFrame(std::uint32_t(round) * 100000), 10, reference);
            QVERIFY(qAbs(reference[123] - round * 1.0) < 1e-12);
        }
    }
};

QTEST_APPLESS_MAIN(TestReferenceCalibrator)
#include "tst_ReferenceCalibrator.moc"
