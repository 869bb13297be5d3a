#include "services/LogWriter.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <future>
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

// A line as the probe's "log-lines" writes it: long, so a torn or interleaved
// write is easy to see.
QByteArray taggedText(const char *tag, int index)
{
    return QByteArray(tag) + ' ' + QByteArray::number(index) + ' ' + QByteArray(200, 'x') + " end";
}

// Empty when `lines` are linesEach whole tagged lines from each of the writers
// "first" and "second", each writer's in its own order; else the first fault.
QByteArray wholeLinesProblem(const QList<QByteArray> &lines, int linesEach)
{
    const QRegularExpression whole(QStringLiteral(
        "^\\[\\d{4}-[1-9]\\d?-[1-9]\\d? \\d{1,2}:\\d{1,2}:\\d{1,2}\\] (first|second) (\\d+) x{200} end$"));
    int nextIndex[2] = {0, 0};
    for (const QByteArray &line : lines) {
        const QRegularExpressionMatch match = whole.match(QString::fromLatin1(line));
        if (!match.hasMatch())
            return "torn line: " + line.left(300);
        const int writer = match.captured(1) == QLatin1String("first") ? 0 : 1;
        if (match.captured(2).toInt() != nextIndex[writer]++)
            return "out of order: " + line.left(300);
    }
    if (nextIndex[0] != linesEach || nextIndex[1] != linesEach)
        return "lines missing: " + QByteArray::number(nextIndex[0]) + " and " + QByteArray::number(nextIndex[1]);
    return {};
}

QList<QByteArray> linesOf(const QByteArray &text)
{
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
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
    void unwritableFileIsSkippedWhileConsoleStillGetsEveryLine_data();
    void unwritableFileIsSkippedWhileConsoleStillGetsEveryLine();
    void twoThreadsLogWholeLines();
    void twoInstancesAppendWholeLinesToOneFile();
    void unopenableLogFileStillPrintsTheConsoleCopy();
    void closedStandardOutputDoesNotEndTheProcess_data();
    void closedStandardOutputDoesNotEndTheProcess();
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

void LogTest::unwritableFileIsSkippedWhileConsoleStillGetsEveryLine_data()
{
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<bool>("warns");
    // Never opened: stands for a log file that could not be opened, which the
    // event log reports when it opens.
    QTest::newRow("file never opened") << QString() << false;
    QTest::newRow("full disk") << QStringLiteral("/dev/full") << true;
}

void LogTest::unwritableFileIsSkippedWhileConsoleStillGetsEveryLine()
{
    QFETCH(QString, filePath);
    QFETCH(bool, warns);
    QFile file(filePath);
    if (!filePath.isEmpty())
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    QBuffer console;
    console.open(QIODevice::WriteOnly);
    LogWriter writer(&file, &console, [] { return exampleTime; });

    if (warns) {
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(QStringLiteral("^Log lines could not be written to the log file "
                                                               "\\(.+\\); they are skipped there until it accepts "
                                                               "them again\\.$")));
    }
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    writer.line("Device disconnected.");
    const unsigned char reply[] = {0xAE, 0xCC, 0x00, 0x7A, 0x0A};
    writer.hexBytes(reply, 5);
    writer.line("Device connection successful.");

    QCOMPARE(console.data(), QByteArray("[2025-8-13 9:5:7] Device disconnected.\n"
                                        "[ 9:5:7.42 ]AE CC 00 7A 0A \n"
                                        "[2025-8-13 9:5:7] Device connection successful.\n"));
}

// The acquisition worker and the GUI log at the same time: one writer, two
// threads, every line whole in both copies.
void LogTest::twoThreadsLogWholeLines()
{
    QBuffer file;
    QBuffer console;
    file.open(QIODevice::WriteOnly);
    console.open(QIODevice::WriteOnly);
    LogWriter writer(&file, &console, [] { return QDateTime::currentDateTime(); });

    constexpr int linesEach = 5000;
    auto logAll = [&writer](const char *tag) {
        for (int i = 0; i < linesEach; ++i)
            writer.line(taggedText(tag, i));
    };
    auto first = std::async(std::launch::async, logAll, "first");
    auto second = std::async(std::launch::async, logAll, "second");
    // Unserialised writes into one buffer may hang rather than tear; the
    // threads cannot be abandoned while they use this frame, so give up loudly.
    for (auto *done : {&first, &second}) {
        if (done->wait_for(std::chrono::seconds(60)) != std::future_status::ready)
            qFatal("The two logging threads did not finish: their writes collided.");
    }

    QCOMPARE(wholeLinesProblem(linesOf(file.data()), linesEach), QByteArray());
    QCOMPARE(console.data(), file.data());
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
    QList<QByteArray> lines = linesOf(log.readAll());
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.takeFirst(), QByteArray("earlier run"));
    QCOMPARE(wholeLinesProblem(lines, linesEach), QByteArray());
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
    QVERIFY(probe.readAllStandardError().contains("log.txt could not be opened"));
}

void LogTest::closedStandardOutputDoesNotEndTheProcess_data()
{
    QTest::addColumn<QString>("disposition");
    QTest::addColumn<bool>("survives");
    QTest::newRow("broken pipe ignored, as entry points do") << QStringLiteral("ignore-sigpipe") << true;
    // Without the ignore the same rig must see the probe die, or it proves nothing.
    QTest::newRow("default disposition dies of SIGPIPE") << QStringLiteral("default-sigpipe") << false;
}

// `tessivo128 | head -1`: the reader takes one line and goes away while the
// process keeps logging.
void LogTest::closedStandardOutputDoesNotEndTheProcess()
{
    QFETCH(QString, disposition);
    QFETCH(bool, survives);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());

    // Far more than a pipe holds, so the probe is still writing when head has
    // taken its line and gone.
    constexpr int lines = 5000;
    QProcess probe;
    QProcess head;
    probe.setWorkingDirectory(dir.path());
    probe.setStandardOutputProcess(&head);
    probe.start(QStringLiteral(TESSIVO_SERVICES_PROBE),
                {QStringLiteral("log-lines"), QStringLiteral("first"), QString::number(lines), disposition});
    head.start(QStringLiteral("head"), {QStringLiteral("-n"), QStringLiteral("1")});
    QVERIFY(head.waitForFinished(30000));
    QVERIFY(head.readAllStandardOutput().contains(" first 0 "));
    QVERIFY(probe.waitForFinished(30000));

    if (!survives) {
        QCOMPARE(probe.exitStatus(), QProcess::CrashExit);
        return;
    }
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    // The file copy went on to the end, and the lost console copy was reported once.
    QFile log(dir.filePath(QStringLiteral("log.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> logged = linesOf(log.readAll());
    QCOMPARE(logged.size(), lines);
    QVERIFY(logged.last().contains(" first " + QByteArray::number(lines - 1) + ' '));
    QCOMPARE(probe.readAllStandardError().count("Log lines could not be written to standard output"), 1);
}

QTEST_GUILESS_MAIN(LogTest)
#include "tst_services_log.moc"
