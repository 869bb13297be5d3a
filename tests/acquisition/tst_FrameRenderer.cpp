#include "acquisition/FrameRenderer.h"

#include <QtTest>

#include <cmath>

namespace {
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

// The colour of every pixel, as (R, G, B); gray pixels as (g, g, g).
QList<QRgb> distinctColours(const QImage &image)
{
    QList<QRgb> colours;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!colours.contains(image.pixel(x, y)))
                colours << image.pixel(x, y);
    return colours;
}
} // namespace

class TestFrameRenderer : public QObject
{
    Q_OBJECT
private slots:
    void normalise_data()
    {
        QTest::addColumn<double>("current");
        QTest::addColumn<double>("off");
        QTest::addColumn<double>("on");
        QTest::addColumn<bool>("calibrated");
        QTest::addColumn<int>("range");
        QTest::addColumn<double>("shown"); // the clamped level / 255, or NaN
        QTest::newRow("midway between references") << 6.0 << 2.0 << 10.0 << true << 100 << 0.5;
        QTest::newRow("below full off") << 1.0 << 2.0 << 10.0 << true << 100 << 0.0;
        QTest::newRow("above full on") << 12.0 << 2.0 << 10.0 << true << 100 << 1.0;
        QTest::newRow("equal references") << 5.0 << 3.0 << 3.0 << true << 100 << 0.0;
        QTest::newRow("inverted references") << 3.0 << 10.0 << 2.0 << true << 100 << 0.875;
        QTest::newRow("nominal scale") << 25.0 << 0.0 << 0.0 << false << 100 << 0.25;
        QTest::newRow("range 0") << 0.0 << 0.0 << 0.0 << false << 0 << qQNaN();
        QTest::newRow("reference not a number") << 1.0 << qQNaN() << 3.0 << true << 100 << qQNaN();
    }
    void normalise()
    {
        QFETCH(double, current);
        QFETCH(double, off);
        QFETCH(double, on);
        QFETCH(bool, calibrated);
        QFETCH(int, range);
        QFETCH(double, shown);
        const double m = FrameRenderer::normalise(current, off, on, calibrated, range);
        if (QTest::currentDataTag() == QByteArray("below full off"))
            QVERIFY(m < 0.0);
        if (QTest::currentDataTag() == QByteArray("above full on"))
            QVERIFY(m > 1.0);
        const double level = FrameRenderer::level(m);
        if (std::isnan(shown))
            QVERIFY(std::isnan(level));
        else
            QCOMPARE(level, shown * 255.0);
    }

    void colours_data()
    {
        QTest::addColumn<int>("raw");
        QTest::addColumn<int>("range");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<int>("grayLevel");
        const struct { const char *name; int raw; int range; int gray; QColor rgb; QColor heat; } cases[] = {
            {"raw 0", 0, 100, 0, QColor(0, 255, 0), QColor(0, 0, 0)},
            {"raw 250000", 250000, 100, 63, QColor(127, 255, 0), QColor(63, 0, 0)},
            {"raw 500000", 500000, 100, 127, QColor(255, 255, 0), QColor(127, 0, 0)},
            {"raw 1000000", 1000000, 100, 255, QColor(255, 1, 0), QColor(255, 0, 0)},
            {"raw above range", 16777215, 100, 255, QColor(255, 1, 0), QColor(255, 0, 0)},
            {"raw 750000", 750000, 100, 191, QColor(255, 128, 0), QColor(191, 0, 0)},
            {"range 0", 500000, 0, 0, QColor(255, 0, 0), QColor(0, 0, 0)},
        };
        for (const auto &c : cases) {
            QTest::addRow("%s gray", c.name) << c.raw << c.range << 0 << QColor(c.gray, c.gray, c.gray) << c.gray;
            QTest::addRow("%s rgb", c.name) << c.raw << c.range << 1 << c.rgb << c.gray;
            QTest::addRow("%s heat", c.name) << c.raw << c.range << 2 << c.heat << c.gray;
        }
    }
    void colours()
    {
        QFETCH(int, raw);
        QFETCH(int, range);
        QFETCH(int, mode);
        QFETCH(QColor, colour);
        QFETCH(int, grayLevel);
        RenderSettings settings;
        settings.displayMode = mode;
        settings.currentRange = range;
        std::vector<double> currents;
        std::vector<std::uint8_t> gray;
        const QImage image = FrameRenderer::render(uniformFrame(std::uint32_t(raw)), settings, currents, &gray);
        QCOMPARE(image.size(), QSize(128, 128));
        QCOMPARE(image.format(), mode == 0 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        QCOMPARE(distinctColours(image), QList<QRgb>{colour.rgb()});
        QCOMPARE(int(gray.size()), Zk128::PixelCount);
        QVERIFY(std::all_of(gray.begin(), gray.end(), [&](std::uint8_t g) { return g == grayLevel; }));
        QCOMPARE(int(currents.size()), Zk128::PixelCount);
        QCOMPARE(currents[77], double(raw) * range * 0.000001);
    }

    // Pixel n lands at row n / 128, column n % 128, and the references are per pixel.
    void pixelPlacementAndCalibration()
    {
        RawFrame frame(Zk128::FrameLength, 0);
        std::vector<double> off(Zk128::PixelCount, 0.0), on(Zk128::PixelCount, 0.0);
        for (int n = 0; n < Zk128::PixelCount; ++n) {
            frame[std::size_t(3 * n + 2)] = 100; // 100 raw: 0.08 nA at range 800
            off[std::size_t(n)] = 0.08 - (n % 256) * 1e-3;
            on[std::size_t(n)] = off[std::size_t(n)] + 255e-3;
        }
        RenderSettings settings{0, 800, true, &off, &on};
        std::vector<double> currents(5, 1.0);
        const QImage image = FrameRenderer::render(frame, settings, currents, nullptr);
        for (int n : {0, 1, 127, 128, 300, 16383})
            QVERIFY2(qAbs(qGray(image.pixel(n % 128, n / 128)) - n % 256) <= 1, qPrintable(QString::number(n)));
        settings.fullOnReference = nullptr; // no reference: nominal scale, never a crash
        const QImage nominal = FrameRenderer::render(frame, settings, currents, nullptr);
        QCOMPARE(qGray(nominal.pixel(5, 5)), 0);
    }
};

QTEST_APPLESS_MAIN(TestFrameRenderer)
#include "tst_FrameRenderer.moc"
