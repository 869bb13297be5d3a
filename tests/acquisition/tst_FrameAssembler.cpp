#include "acquisition/FrameAssembler.h"
#include "acquisition/PixelDecoder.h"

#include <QtTest>

#include <algorithm>
#include <random>

namespace {
const QByteArray Marker("\xAE\xCC\x05", 3);

// Pixel bytes that contain no 0xAE, so no marker can hide inside them.
QByteArray pixels(unsigned seed)
{
    std::mt19937 random(seed);
    QByteArray bytes(Zk128::PixelBytes, '\0');
    for (char &b : bytes)
        b = char(random() % 0xAE);
    return bytes;
}

QByteArray deviceFrame(unsigned seed) { return Marker + pixels(seed) + QByteArray("\x12\x0A", 2); }

struct Fed
{
    QList<QByteArray> frames; // pixel bytes of every frame taken
    bool discarded = false;
    std::size_t maxHeld = 0;  // largest accumulation after a takeFrame
};

Fed feed(const QByteArray &stream, int readSize)
{
    FrameAssembler assembler;
    RawFrame raw(Zk128::FrameLength, 0xFF);
    Fed fed;
    for (int at = 0; at < stream.size(); at += readSize) {
        const int count = std::min(readSize, int(stream.size()) - at);
        assembler.append(reinterpret_cast<const unsigned char *>(stream.constData()) + at, std::size_t(count));
        const auto outcome = assembler.takeFrame(raw);
        if (outcome == FrameAssembler::Outcome::FrameTaken) {
            fed.frames << QByteArray(reinterpret_cast<const char *>(raw.data()), Zk128::PixelBytes);
            if (!std::all_of(raw.end() - 5, raw.end(), [](unsigned char b) { return b == 0; }))
                fed.frames << QByteArray("trailing bytes not zero");
        }
        fed.discarded |= outcome == FrameAssembler::Outcome::Discarded;
        fed.maxHeld = std::max(fed.maxHeld, assembler.receivedBytes());
    }
    return fed;
}
} // namespace

class TestFrameAssembler : public QObject
{
    Q_OBJECT
private slots:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("range");
        QTest::addColumn<double>("current");
        QTest::newRow("12 34 56 at 100") << QByteArray("\x12\x34\x56", 3) << 100 << 119.3046;
        QTest::newRow("full range at 800") << QByteArray("\x0F\x42\x40", 3) << 800 << 800.0;
        QTest::newRow("FF FF FF at 800") << QByteArray("\xFF\xFF\xFF", 3) << 800 << 13421.772;
        QTest::newRow("range 0") << QByteArray("\x0F\x42\x40", 3) << 0 << 0.0;
    }
    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, range);
        QFETCH(double, current);
        RawFrame frame(Zk128::FrameLength, 0);
        std::copy(bytes.begin(), bytes.end(), frame.begin() + 3 * 16383); // the last pixel
        QVERIFY(qAbs(PixelDecoder::current(frame, 16383, range) - current) <= 1e-9 * qMax(1.0, current));
    }

    void assembly_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<int>("readSize");
        QTest::addColumn<QList<QByteArray>>("frames");
        QTest::addColumn<bool>("discarded");
        const QByteArray one = deviceFrame(1);
        const QByteArray two = deviceFrame(2);
        const QByteArray stray("\xAE\xCC\x01\x7B\x0A", 5);
        const QByteArray garbage = pixels(3).repeated(4);
        QTest::newRow("one read") << one << Zk128::FrameLength << QList<QByteArray>{pixels(1)} << false;
        QTest::newRow("64-byte reads") << one << 64 << QList<QByteArray>{pixels(1)} << false;
        QTest::newRow("5 stray bytes in front") << stray + one << Zk128::FrameLength << QList<QByteArray>{pixels(1)} << false;
        QTest::newRow("one byte short") << one.left(Zk128::FrameLength - 1) << 1000 << QList<QByteArray>{} << false;
        QTest::newRow("marker and pixels without trailer") << one.left(Zk128::FrameLength - 2) << 1 << QList<QByteArray>{} << false;
        QTest::newRow("one byte over in one read") << one + "x" << Zk128::FrameLength + 1 << QList<QByteArray>{pixels(1)} << false;
        QTest::newRow("one byte over in small reads") << one + "x" << 100 << QList<QByteArray>{pixels(1)} << false;
        QTest::newRow("frame behind 40000 garbage bytes") << garbage.left(40000) + one << 4096 << QList<QByteArray>{pixels(1)} << false;
        QTest::newRow("garbage without marker") << garbage << 4096 << QList<QByteArray>{} << true;
        QTest::newRow("two frames back to back") << one + two << 4096 << QList<QByteArray>{pixels(1)} << false;
        QTest::newRow("frame, then a whole new answer") << one + two << Zk128::FrameLength << QList<QByteArray>{pixels(1), pixels(2)} << false;
        // The garbage is dropped once no frame can fit behind it; the frame that follows is then found.
        QTest::newRow("frame behind 60000 garbage bytes") << garbage.left(60000) + one << 4096 << QList<QByteArray>{pixels(1)} << true;
    }
    void assembly()
    {
        QFETCH(QByteArray, stream);
        QFETCH(int, readSize);
        QFETCH(QList<QByteArray>, frames);
        QFETCH(bool, discarded);
        const Fed fed = feed(stream, readSize);
        QCOMPARE(fed.frames.size(), frames.size());
        for (int i = 0; i < frames.size(); ++i)
            QVERIFY2(fed.frames.at(i) == frames.at(i), qPrintable(QString("frame %1 differs").arg(i)));
        QCOMPARE(fed.discarded, discarded);
        QVERIFY(fed.maxHeld <= FrameAssembler::Limit);
    }

    void clearDropsPartialFrame()
    {
        FrameAssembler assembler;
        const QByteArray frame = deviceFrame(4);
        assembler.append(reinterpret_cast<const unsigned char *>(frame.constData()), 30000);
        assembler.clear();
        QCOMPARE(assembler.receivedBytes(), std::size_t(0));
        assembler.append(reinterpret_cast<const unsigned char *>(frame.constData()) + 30000, frame.size() - 30000);
        RawFrame raw;
        QVERIFY(assembler.takeFrame(raw) != FrameAssembler::Outcome::FrameTaken);
    }

    // Random streams against an independent model: every frame taken must be
    // the 49152 bytes that followed the first marker of what was accumulated,
    // and no complete frame may be missed or discarded.
    void randomStreams()
    {
        std::mt19937 random(20240611);
        const QByteArray whole = deviceFrame(9);
        const unsigned char marker[] = {0xAE, 0xCC, 0x05};
        int framesTaken = 0;
        for (int stream = 0; stream < 3000; ++stream) {
            QByteArray bytes;
            const int pieces = 1 + int(random() % 6);
            for (int p = 0; p < pieces; ++p) {
                switch (random() % 5) {
                case 0: { // garbage, markers possible
                    QByteArray g(int(random() % 3000), '\0');
                    for (char &b : g)
                        b = char(random() % 4 == 0 ? 0xAE : random() % 256);
                    bytes += g;
                    break;
                }
                case 1: bytes += Marker; break;
                case 2: bytes += whole.left(int(random() % Zk128::FrameLength)); break;
                default: {
                    QByteArray frame = whole;
                    frame[3 + int(random() % Zk128::PixelBytes)] = char(random());
                    bytes += frame;
                }
                }
            }
            const int scale = std::array<int, 3>{64, 4096, 70000}[random() % 3];
            FrameAssembler assembler;
            RawFrame raw(Zk128::FrameLength, 0);
            std::vector<unsigned char> model;
            std::size_t modelMarker = std::size_t(-1);
            for (int at = 0; at < bytes.size();) {
                const int count = std::min(1 + int(random() % scale), int(bytes.size()) - at);
                const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData()) + at;
                assembler.append(data, std::size_t(count));
                const std::size_t before = model.size();
                model.insert(model.end(), data, data + std::min(count, Zk128::FrameLength));
                at += count;
                if (modelMarker == std::size_t(-1)) {
                    auto hit = std::search(model.begin() + std::ptrdiff_t(before >= 2 ? before - 2 : 0), model.end(),
                                           std::begin(marker), std::end(marker));
                    if (hit != model.end())
                        modelMarker = std::size_t(hit - model.begin());
                }
                const bool complete = model.size() >= std::size_t(Zk128::FrameLength) && modelMarker != std::size_t(-1)
                                      && model.size() >= modelMarker + 3 + Zk128::PixelBytes;
                const auto outcome = assembler.takeFrame(raw);
                QCOMPARE(outcome == FrameAssembler::Outcome::FrameTaken, complete);
                if (outcome == FrameAssembler::Outcome::FrameTaken) {
                    QVERIFY(std::equal(raw.begin(), raw.begin() + Zk128::PixelBytes, model.begin() + std::ptrdiff_t(modelMarker) + 3));
                    ++framesTaken;
                }
                if (outcome != FrameAssembler::Outcome::NeedMore) {
                    model.clear();
                    modelMarker = std::size_t(-1);
                }
                QCOMPARE(assembler.receivedBytes(), model.size());
                QVERIFY(model.size() <= FrameAssembler::Limit);
            }
        }
        QVERIFY(framesTaken > 1000); // the streams really exercised taking frames
    }
};

QTEST_APPLESS_MAIN(TestFrameAssembler)
#include "tst_FrameAssembler.moc"
