#include "acquisition/CsvWriter.h"

#include <QtTest>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

namespace {
QByteArray printfG(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return QByteArray(text);
}

QByteArray formatted(double value)
{
    char text[CsvFormat::MaxNumberLength];
    return QByteArray(text, int(CsvFormat::formatNumber(value, text) - text));
}

// What the file must hold for one block, built with printf itself.
template <typename T>
QByteArray expectedBlock(const std::vector<T> &values)
{
    QByteArray text;
    for (int row = 0; row < 128; ++row) {
        for (int column = 0; column < 128; ++column)
            text += (column ? "," : "") + printfG(double(values[std::size_t(row * 128 + column)]));
        text += '\n';
    }
    return text;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

std::vector<double> currentsFrame(unsigned seed, int range)
{
    std::mt19937 random(seed);
    std::vector<double> values(16384);
    for (double &v : values)
        v = double(random() % 16777216) * range * 0.000001;
    return values;
}
} // namespace

class TestCsvWriter : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void formatNumber_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("whole") << 150.0 << QByteArray("150");
        QTest::newRow("half") << 12.5 << QByteArray("12.5");
        QTest::newRow("small fixed") << 0.000123 << QByteArray("0.000123");
        QTest::newRow("small scientific") << 1.5e-07 << QByteArray("1.5e-07");
        QTest::newRow("seven digits rounded") << 119.3046 << QByteArray("119.305");
        QTest::newRow("large fixed") << 13421.772 << QByteArray("13421.8");
        QTest::newRow("six-digit whole") << 999999.0 << QByteArray("999999");
        QTest::newRow("rounds up to next power") << 999999.5 << QByteArray("1e+06");
        QTest::newRow("large scientific") << 1234567.0 << QByteArray("1.23457e+06");
        QTest::newRow("fixed limit") << 0.0001 << QByteArray("0.0001");
        QTest::newRow("scientific limit") << 0.00001 << QByteArray("1e-05");
        QTest::newRow("negative") << -2.25 << QByteArray("-2.25");
        QTest::newRow("zero") << 0.0 << QByteArray("0");
        QTest::newRow("negative zero") << -0.0 << QByteArray("-0");
        QTest::newRow("tiny") << 4.9e-324 << QByteArray("4.94066e-324");
        QTest::newRow("huge") << 1.7976931348623157e308 << QByteArray("1.79769e+308");
        QTest::newRow("infinity") << qInf() << QByteArray("inf");
        QTest::newRow("negative infinity") << -qInf() << QByteArray("-inf");
        QTest::newRow("not a number") << qQNaN() << QByteArray("nan");
        QTest::newRow("negative not a number") << -qQNaN() << QByteArray("-nan");
    }
    void formatNumber()
    {
        QFETCH(double, value);
        QFETCH(QByteArray, text);
        QCOMPARE(printfG(value), text); // the expectation itself is printf's
        QCOMPARE(formatted(value), text);
    }

    // Byte equality with printf over a million currents of every range and a
    // million arbitrary doubles (all exponents, rounding halves included).
    void formatMatchesPrintf()
    {
        std::mt19937_64 random(77);
        const int ranges[] = {1, 10, 100, 800};
        int mismatches = 0;
        QByteArray first;
        auto check = [&](double v) {
            if (formatted(v) != printfG(v) && mismatches++ == 0)
                first = printfG(v) + " written as " + formatted(v);
        };
        for (int i = 0; i < 1000000; ++i)
            check(double(random() % 16777216) * ranges[i % 4] * 0.000001);
        for (int i = 0; i < 600000; ++i) {
            double v;
            const std::uint64_t bits = random();
            std::memcpy(&v, &bits, sizeof v);
            check(v);
        }
        for (int i = 0; i < 400000; ++i) // decimal halves at the sixth digit
            check((double(random() % 900000 + 100000) + 0.5) * std::pow(10.0, int(random() % 40) - 25));
        QVERIFY2(mismatches == 0, first.constData());
    }

    void framesFile_data()
    {
        QTest::addColumn<int>("frameCount");
        QTest::addColumn<QStringList>("timestamps");
        QTest::newRow("one frame") << 1 << QStringList{"2024/05/06 07:08:09.010"};
        QTest::newRow("fewer timestamps than frames") << 3 << QStringList{"2024/05/06 07:08:09.010"};
        QTest::newRow("many frames over several chunks") << 40 << QStringList{"a", "b", "c"};
    }
    void framesFile()
    {
        QFETCH(int, frameCount);
        QFETCH(QStringList, timestamps);
        std::vector<std::vector<double>> frames;
        std::vector<std::vector<std::uint8_t>> grays;
        QByteArray expected, expectedGray;
        for (int f = 0; f < frameCount; ++f) {
            frames.push_back(currentsFrame(unsigned(f), 100));
            grays.emplace_back(16384);
            for (int i = 0; i < 16384; ++i)
                grays.back()[std::size_t(i)] = std::uint8_t(i * 31 + f);
            const QByteArray time = "Time: " + (f < timestamps.size() ? timestamps[f].toUtf8() : "Unknown") + "\n";
            expected += time + expectedBlock(frames.back()) + "\n";
            expectedGray += time + expectedBlock(grays.back()) + "\n";
        }
        const QString path = m_dir.filePath("run/nested/x_current.csv");
        QVERIFY(writeFramesCsv(path, frames, timestamps));
        QVERIFY(writeFramesCsv(m_dir.filePath("run/x_gray.csv"), grays, timestamps));
        const QByteArray written = readAll(path);
        QCOMPARE(written.size(), expected.size());
        QVERIFY(written == expected);
        QVERIFY(readAll(m_dir.filePath("run/x_gray.csv")) == expectedGray);

        // Read back as CSV: every value within printf's six significant digits.
        const QList<QByteArray> lines = written.split('\n');
        QCOMPARE(lines.size(), frameCount * 130 + 1);
        for (int f = 0; f < frameCount; ++f) {
            QVERIFY(lines[f * 130].startsWith("Time: "));
            QVERIFY(lines[f * 130 + 129].isEmpty());
            for (int row = 0; row < 128; row += 37) {
                const QList<QByteArray> cells = lines[f * 130 + 1 + row].split(',');
                QCOMPARE(cells.size(), 128);
                for (int c = 0; c < 128; ++c) {
                    const double v = frames[std::size_t(f)][std::size_t(row * 128 + c)];
                    QVERIFY(qAbs(std::strtod(cells[c].constData(), nullptr) - v) <= 5e-6 * qAbs(v));
                }
            }
        }
    }

    void matrixFileAndTruncation()
    {
        const QString path = m_dir.filePath("ref/x_fullon.csv");
        QVERIFY(QDir().mkpath(m_dir.filePath("ref")));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(3000000, 'z')); // longer than the new content
        old.close();
        const std::vector<double> values = currentsFrame(5, 800);
        QVERIFY(writeMatrixCsv(path, values));
        QVERIFY(readAll(path) == expectedBlock(values) + "\n");
    }

    void shortFrameSkippedKeepsTimestamp()
    {
        std::vector<std::vector<double>> frames{std::vector<double>(16383, 1.0), currentsFrame(1, 10), currentsFrame(2, 10)};
        QTest::ignoreMessage(QtWarningMsg, "Data array does not contain enough data. 16383");
        const QString path = m_dir.filePath("short.csv");
        QVERIFY(writeFramesCsv(path, frames, {"first", "second"}));
        QVERIFY(readAll(path) == "Time: first\n" + expectedBlock(frames[1]) + "\nTime: second\n" + expectedBlock(frames[2]) + "\n");
    }

    void noDataGivesEmptyFile()
    {
        const QString frames = m_dir.filePath("empty/frames.csv"), matrix = m_dir.filePath("empty/matrix.csv");
        QTest::ignoreMessage(QtWarningMsg, "No data to save.");
        QVERIFY(writeFramesCsv(frames, std::vector<std::vector<double>>{}, {}));
        QTest::ignoreMessage(QtWarningMsg, "No data to save.");
        QVERIFY(writeMatrixCsv(matrix, {}));
        const QString shortMatrix = m_dir.filePath("empty/short.csv"); // never read past a short reference
        QTest::ignoreMessage(QtWarningMsg, "Data array does not contain enough data. 100");
        QVERIFY(writeMatrixCsv(shortMatrix, std::vector<double>(100, 1.0)));
        for (const QString &path : {frames, matrix, shortMatrix})
            QVERIFY(QFileInfo::exists(path) && QFileInfo(path).size() == 0);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("warning");
        const QString blocker = m_dir.filePath("plainfile");
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QTest::newRow("folder under a regular file") << blocker + "/sub/x.csv" << "^Could not open file for writing: " + QRegularExpression::escape(blocker + "/sub/x.csv") + "$";
        if (QFileInfo::exists("/dev/full"))
            QTest::newRow("disk full") << "/dev/full" << "^File error after attempt to write: .+";
    }
    void failures()
    {
        QFETCH(QString, path);
        QFETCH(QString, warning);
        const std::vector<std::vector<double>> frames{currentsFrame(1, 1)};
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        QVERIFY(!writeFramesCsv(path, frames, {}));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        QVERIFY(!writeFramesCsv(path, std::vector<std::vector<std::uint8_t>>{std::vector<std::uint8_t>(16384, 9)}, {}));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        QVERIFY(!writeMatrixCsv(path, frames[0]));
    }
};

QTEST_GUILESS_MAIN(TestCsvWriter)
#include "tst_CsvWriter.moc"
