#include "LogWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <vector>

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

const QDateTime exampleTime = at(2025, 8, 13, 9, 5, 7, 42);

QByteArray bytesFromHex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

const unsigned char *raw(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}

} // namespace

class LogTest : public QObject
{
    Q_OBJECT

private slots:
    void textLineIsTheSameInFileAndOnConsole_data();
    void textLineIsTheSameInFileAndOnConsole();
    void hexDumpDiffersBetweenFileAndConsole_data();
    void hexDumpDiffersBetweenFileAndConsole();
    void closedFileIsSkippedWhileConsoleStillGetsEveryLine();
    void twoInstancesAppendWholeLinesToOneFile();
    void unopenableLogFileStillPrintsTheConsoleCopy();
};

void LogTest::textLineIsTheSameInFileAndOnConsole_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("fields without zero padding")
        << exampleTime << QByteArray("Device connection successful.")
        << QByteArray("[2025-8-13 9:5:7] Device connection successful.\n");
    QTest::newRow("two-digit fields")
        << at(2025, 12, 31, 23, 59, 59, 999) << QByteArray("Stop Capture data.")
        << QByteArray("[2025-12-31 23:59:59] Stop Capture data.\n");
    QTest::newRow("midnight writes zeros, not blanks")
        << at(2026, 1, 1, 0, 0, 0, 0) << QByteArray("Full on success.")
        << QByteArray("[2026-1-1 0:0:0] Full on success.\n");
    QTest::newRow("empty text keeps the blank after the stamp")
        << exampleTime << QByteArray() << QByteArray("[2025-8-13 9:5:7] \n");
    QTest::newRow("utf-8 text passes byte for byte")
        << exampleTime << QByteArray("Gerät \xe2\x9c\x93")
        << QByteArray("[2025-8-13 9:5:7] Gerät \xe2\x9c\x93\n");
}

void LogTest::textLineIsTheSameInFileAndOnConsole()
{
    QFETCH(QDateTime, time);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);

    QBuffer file;
    QBuffer console;
    file.open(QIODevice::WriteOnly);
    console.open(QIODevice::WriteOnly);
    LogWriter writer(&file, &console, [time] { return time; });
    writer.line(text);

    QCOMPARE(file.data(), expected);
    QCOMPARE(console.data(), expected);
}

void LogTest::hexDumpDiffersBetweenFileAndConsole_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("fileLine");
    QTest::addColumn<QByteArray>("consoleLine");

    QTest::newRow("acknowledgement")
        << exampleTime << bytesFromHex("aecc007a0a") << 5 << QByteArray("ae cc 00 7a 0a \n")
        << QByteArray("[ 9:5:7.42 ]AE CC 00 7A 0A \n");
    QTest::newRow("parameter command of 18 bytes")
        << at(2025, 8, 13, 14, 30, 0, 5) << bytesFromHex("aeaa0180008000800080000320001c0ca40a")
        << 18 << QByteArray("ae aa 01 80 00 80 00 80 00 80 00 03 20 00 1c 0c a4 0a \n")
        << QByteArray("[ 14:30:0.5 ]AE AA 01 80 00 80 00 80 00 80 00 03 20 00 1C 0C A4 0A \n");
    QTest::newRow("milliseconds 999 and hour 0")
        << at(2025, 8, 13, 0, 0, 0, 999) << bytesFromHex("00ff") << 2 << QByteArray("00 ff \n")
        << QByteArray("[ 0:0:0.999 ]00 FF \n");
    QTest::newRow("count shorter than the buffer dumps only count bytes")
        << exampleTime << bytesFromHex("0102030405") << 2 << QByteArray("01 02 \n")
        << QByteArray("[ 9:5:7.42 ]01 02 \n");
    QTest::newRow("zero bytes still end the line")
        << exampleTime << QByteArray() << 0 << QByteArray("\n") << QByteArray("[ 9:5:7.42 ]\n");
    QTest::newRow("negative count dumps nothing")
        << exampleTime << bytesFromHex("aecc") << -3 << QByteArray("\n")
        << QByteArray("[ 9:5:7.42 ]\n");
}

void LogTest::hexDumpDiffersBetweenFileAndConsole()
{
    QFETCH(QDateTime, time);
    QFETCH(QByteArray, bytes);
    QFETCH(int, count);
    QFETCH(QByteArray, fileLine);
    QFETCH(QByteArray, consoleLine);

    QBuffer file;
    QBuffer console;
    file.open(QIODevice::WriteOnly);
    console.open(QIODevice::WriteOnly);
    LogWriter writer(&file, &console, [time] { return time; });
    writer.hexBytes(bytes.isEmpty() ? nullptr : raw(bytes), count);

    QCOMPARE(file.data(), fileLine);
    QCOMPARE(console.data(), consoleLine);
}

void LogTest::closedFileIsSkippedWhileConsoleStillGetsEveryLine()
{
    QBuffer closedFile; // never opened: stands for a log file that could not be opened
    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogWriter writer(&closedFile, &console, [] { return exampleTime; });

    writer.line("Device disconnected.");
    const unsigned char reply[] = {0xAE, 0xCC, 0x00, 0x7A, 0x0A};
    writer.hexBytes(reply, 5);

    QVERIFY(closedFile.data().isEmpty());
    QCOMPARE(console.data(), QByteArray("[2025-8-13 9:5:7] Device disconnected.\n"
                                        "[ 9:5:7.42 ]AE CC 00 7A 0A \n"));
}

// Two console instances log into one working directory at the same time: the
// file must hold every line of both, each whole, and both stay appended to what
// was there before.
void LogTest::twoInstancesAppendWholeLinesToOneFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString logPath = dir.filePath(QStringLiteral("log.txt"));
    {
        QFile earlier(logPath);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("earlier run\n");
    }

    constexpr int linesEach = 2000;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const char *tag : {"first", "second"}) {
        auto process = std::make_unique<QProcess>();
        process->setWorkingDirectory(dir.path());
        process->setStandardOutputFile(QProcess::nullDevice());
        process->start(QStringLiteral(TESSIVO_SERVICES_PROBE),
                       {QStringLiteral("log-lines"), QString::fromLatin1(tag),
                        QString::number(linesEach)});
        writers.push_back(std::move(process));
    }
    for (auto &process : writers) {
        QVERIFY2(process->waitForFinished(30000), "log writer did not finish");
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
    }

    QFile log(logPath);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + 2 * linesEach + 1); // the last split is the empty tail
    QCOMPARE(lines.first(), QByteArray("earlier run"));
    QVERIFY(lines.last().isEmpty());

    const QRegularExpression whole(QStringLiteral(
        "^\\[\\d{4}-[1-9]\\d?-[1-9]\\d? \\d{1,2}:\\d{1,2}:\\d{1,2}\\] (first|second) (\\d+) x{200} end$"));
    int nextIndex[2] = {0, 0};
    for (int i = 1; i < lines.size() - 1; ++i) {
        const QRegularExpressionMatch match = whole.match(QString::fromLatin1(lines.at(i)));
        QVERIFY2(match.hasMatch(), lines.at(i).left(300).constData());
        const int writer = match.captured(1) == QLatin1String("first") ? 0 : 1;
        // Each instance's own lines stay in its order.
        QCOMPARE(match.captured(2).toInt(), nextIndex[writer]);
        ++nextIndex[writer];
    }
    QCOMPARE(nextIndex[0], linesEach);
    QCOMPARE(nextIndex[1], linesEach);
}

void LogTest::unopenableLogFileStillPrintsTheConsoleCopy()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // A directory where the file should be: opening it for writing fails even as root.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("log.txt")));

    QProcess probe;
    probe.setWorkingDirectory(dir.path());
    probe.start(QStringLiteral(TESSIVO_SERVICES_PROBE), {QStringLiteral("log-once")});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);

    const QList<QByteArray> lines = probe.readAllStandardOutput().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY2(QRegularExpression(QStringLiteral(
                 "^\\[\\d{4}-[1-9]\\d?-[1-9]\\d? \\d{1,2}:\\d{1,2}:\\d{1,2}\\] "
                 "Device connection successful\\.$"))
                 .match(QString::fromLatin1(lines.at(0)))
                 .hasMatch(),
             lines.at(0).constData());
    QVERIFY2(QRegularExpression(QStringLiteral(
                 "^\\[ \\d{1,2}:\\d{1,2}:\\d{1,2}\\.\\d{1,3} \\]AE CC 00 7A 0A $"))
                 .match(QString::fromLatin1(lines.at(1)))
                 .hasMatch(),
             lines.at(1).constData());
    QVERIFY(lines.at(2).isEmpty());
    QVERIFY(QFileInfo(dir.filePath(QStringLiteral("log.txt"))).isDir());
}

QTEST_GUILESS_MAIN(LogTest)
#include "tst_services_log.moc"
