// tessivo128-capture run as a process on the simulated ZK128, its run
// folder read back with real readers (a CSV parser, Qt's PNG decoder,
// ffprobe, the HDF5 C API); bad arguments, device refusals, interruption;
// and how its progress is printed.
#include "acquisition/FrameRenderer.h"
#include "acquisition/Hdf5Id.h"
#include "analysis/ReferenceFile.h"
#include "cli/ProgressPrinter.h"

#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include "tests/support/RunFileReaders.h"

#include <QtTest>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>

#include <unistd.h>

#include <hdf5.h>

namespace {

struct Finished
{
    int exitCode = -1;
    QString out;
    QString err;
};

// One run of the tool with the simulator as its backend, its working
// directory, settings store and output folder in a temporary folder.
class ToolProcess
{
public:
    explicit ToolProcess(const QMap<QString, QString> &variables = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name : environment.keys())
            if (name.startsWith(QLatin1String("TESSIVO_")))
                environment.remove(name);
        environment.insert(QStringLiteral("TESSIVO_DEVICE"), QStringLiteral("simulator"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/config"));
        for (auto it = variables.begin(); it != variables.end(); ++it)
            environment.insert(it.key(), it.value());
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(m_dir.path());
    }
    QString out() const { return m_dir.path() + QStringLiteral("/out"); }
    // "OUT" in the arguments stands for out().
    QString workingDirectory() const { return m_dir.path(); }
    // shellRedirect: started through sh with that redirection (">&-" closes standard output).
    void start(QStringList arguments, const QString &shellRedirect = QString())
    {
        arguments.replaceInStrings(QStringLiteral("OUT"), out());
        if (shellRedirect.isEmpty()) {
            m_process.start(QStringLiteral(TESSIVO_CAPTURE_TOOL), arguments);
        } else {
            m_process.start(QStringLiteral("/bin/sh"), QStringList{"-c", "exec \"$0\" \"$@\" " + shellRedirect,
                                                                   QStringLiteral(TESSIVO_CAPTURE_TOOL)}
                                                           + arguments);
        }
        QVERIFY(m_process.waitForStarted());
    }
    // Waits until standard error holds the text (progress lines are whole lines).
    bool waitForError(const QString &text, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!m_err.contains(text) && !deadline.hasExpired()) {
            m_process.waitForReadyRead(50);
            m_err += QString::fromLocal8Bit(m_process.readAllStandardError());
        }
        return m_err.contains(text);
    }
    void signal(int number) { ::kill(pid_t(m_process.processId()), number); }
    Finished finish(int timeoutMs = 60000)
    {
        Finished result;
        if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return result;
        result.exitCode = m_process.exitCode();
        result.out = QString::fromLocal8Bit(m_process.readAllStandardOutput());
        result.err = m_err + QString::fromLocal8Bit(m_process.readAllStandardError());
        return result;
    }
    Finished run(const QStringList &arguments, int timeoutMs = 60000)
    {
        start(arguments);
        return finish(timeoutMs);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_err;
};

} // namespace

using namespace RunFileReaders;

Q_DECLARE_METATYPE(ProgressPrinter::Style)

class TestCliTool : public QObject
{
    Q_OBJECT

private slots:
    void capture_data();
    void capture();
    void listsSerials();
    void badArguments_data();
    void badArguments();
    void runRefused_data();
    void runRefused();
    void interrupted_data();
    void interrupted();
    void simultaneousRunsGetTheirOwnFolders();
    void helpAndClosedOutput_data();
    void helpAndClosedOutput();
    void progress_data();
    void progress();
    void summaryAndReferences_data();
    void summaryAndReferences();
};

void TestCliTool::capture_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("data");
    QTest::addColumn<bool>("pictures");
    QTest::addColumn<bool>("video");
    QTest::addColumn<bool>("hdf5");
    QTest::newRow("no kind named: data") << QStringList{} << true << false << false << false;
    QTest::newRow("every kind") << QStringList{"--data", "--pictures", "--video", "--hdf5"} << true << true << true
                                << true;
    QTest::newRow("quiet, HDF5 only") << QStringList{"--hdf5", "--quiet"} << false << false << false << true;
}

void TestCliTool::capture()
{
    QFETCH(QStringList, options);
    QFETCH(bool, data);
    QFETCH(bool, pictures);
    QFETCH(bool, video);
    QFETCH(bool, hdf5);
    constexpr int frames = 5;
    ToolProcess tool;
    const Finished run = tool.run(QStringList{"--frames", QString::number(frames), "--range", "100", "--vbias1",
                                              "-2.5", "--out", "OUT", "--name", "run"}
                                  + options);
    QCOMPARE(run.exitCode, 0);
    const QString folder = tool.out() + QStringLiteral("/run");
    QCOMPARE(run.out, folder + QLatin1Char('\n')); // nothing but the result on standard output
    const QStringList progress = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (options.contains(QStringLiteral("--quiet"))) {
        QCOMPARE(progress, QStringList());
    } else {
        QVERIFY2(progress.size() <= 8, qPrintable(run.err)); // a handful of lines, not one per frame
        // At connect: the battery, then what the range means for the frame rate.
        QCOMPARE(progress.at(0), QStringLiteral("Battery: 1.93 V."));
        QVERIFY2(progress.at(1).startsWith(QStringLiteral("100 nA: integration ")), qPrintable(run.err));
        QVERIFY2(progress.last().startsWith(QStringLiteral("5 of 5 frames")), qPrintable(run.err));
    }

    QFile parameters(folder + QStringLiteral("/run_SetParameterData.txt"));
    QVERIFY(parameters.open(QIODevice::ReadOnly));
    QCOMPARE(parameters.readAll(), QByteArray("Current:100\nVbias1:-2.5\nVbias2:0\nVon:0\nVoff:0\n"));
    QCOMPARE(wholeCsvFrames(folder + QStringLiteral("/run_current.csv")), data ? frames : -1);
    QCOMPARE(wholeCsvFrames(folder + QStringLiteral("/run_gray.csv")), data ? frames : -1);
    QCOMPARE(wholeCsvFrames(folder + QStringLiteral("/run_fulloff.csv"), 129), data ? 1 : -1);
    QCOMPARE(decodedPictures(folder, QStringLiteral("run")), pictures ? frames : 0);
    const Hdf5Run file = readHdf5(folder + QStringLiteral("/run.h5"));
    QCOMPARE(file.frames, hdf5 ? frames : -1);
    if (hdf5) {
        QCOMPARE(file.framesWritten, frames);
        QCOMPARE(file.complete, 1);
        QCOMPARE(file.rangeNa, 100.0);
    }
    QCOMPARE(QFile::exists(folder + QStringLiteral("/run_output_video.mp4")), video);
    if (video) {
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            QSKIP("ffprobe is not installed");
        QCOMPARE(videoFrames(folder + QStringLiteral("/run_output_video.mp4")), frames);
    }
}

void TestCliTool::listsSerials()
{
    const Finished run = ToolProcess().run({"--list"});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("ZK128\n"));
    QCOMPARE(run.err, QString());
}

void TestCliTool::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("sentence");
    const QStringList run{"--out", "OUT", "--name", "run"};
    const QString range = QStringLiteral("--range must be a whole number from 1 to 800.");
    const QString frames = QStringLiteral("--frames must be a whole number from 1 to 1000.");
    QTest::newRow("range 0") << QStringList{"--frames", "2", "--range", "0"} + run << range;
    QTest::newRow("range not whole") << QStringList{"--frames", "2", "--range", "12.5"} + run << range;
    QTest::newRow("range missing its value") << QStringList{"--frames", "2"} + run + QStringList{"--range"}
                                             << "Missing value after '--range'.";
    QTest::newRow("voff 15.5") << QStringList{"--frames", "2", "--voff", "15.5"} + run
                               << "--voff must be a number from -15 to 15 V.";
    QTest::newRow("vbias2 text") << QStringList{"--frames", "2", "--vbias2", "abc"} + run
                                 << "--vbias2 must be a number from -15 to 15 V.";
    QTest::newRow("frames 1001") << QStringList{"--frames", "1001"} + run << frames;
    QTest::newRow("frames missing") << run << "--frames is required: a whole number from 1 to 1000.";
    QTest::newRow("every required option missing")
        << QStringList{"--quiet"}
        << "--frames (a whole number from 1 to 1000), --out (the folder the run folder is made in) and --name "
           "(the run's name) are required.";
    QTest::newRow("out missing") << QStringList{"--frames", "2", "--name", "run"}
                                 << "--out is required: the folder the run folder is made in.";
    QTest::newRow("name with a slash") << QStringList{"--frames", "2", "--out", "OUT", "--name", "a/b"}
                                       << "--name must not contain \"/\", \"\\\", \"..\" or control characters, "
                                          "nor start with \".\".";
    QTest::newRow("device unknown") << QStringList{"--frames", "2", "--device", "usb"} + run
                                    << "--device must be auto, simulator or d2xx.";
    QTest::newRow("unknown option") << QStringList{"--frames", "2", "--fast"} + run << "Unknown option 'fast'.";
    QTest::newRow("stray argument") << QStringList{"--frames", "2", "now"} + run
                                    << "\"now\" is not an option of tessivo128-capture.";
}

void TestCliTool::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, sentence);
    ToolProcess tool;
    const Finished run = tool.run(arguments);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.err, sentence + QLatin1Char('\n'));
    QCOMPARE(run.out, QString());
    QVERIFY(!QFileInfo::exists(tool.out())); // nothing was made
}

void TestCliTool::runRefused_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("sentence");
    QTest::addColumn<bool>("folderMade");
    QTest::newRow("no handshake") << QStringList{} << "no-handshake" << 3
                                  << "The device ZK128 did not answer the handshake." << false;
    QTest::newRow("corrupt handshake acknowledgement")
        << QStringList{} << "bad-checksum" << 3
        << "The device ZK128 answered the handshake with a corrupt acknowledgement: AE CC 00 7B 0A." << false;
    QTest::newRow("unknown serial") << QStringList{"--serial", "ZK999"} << QString() << 3
                                    << "No device with serial number ZK999 is attached; the attached devices are: "
                                       "ZK128."
                                    << false;
    QTest::newRow("frames never come") << QStringList{} << "stop-answering" << 3
                                       << "Saved 0 of 2 frames: the device stopped answering." << true;
    QTest::newRow("folder cannot be made") << QStringList{"--out", "/dev/null/runs"} << QString() << 4
                                           << "The folder /dev/null/runs could not be created." << false;
    // The system's own reason: root may write anywhere but /proc takes no files.
    QTest::newRow("folder cannot be written")
        << QStringList{"--out", "/proc"} << QString() << 4
        << QStringLiteral("The folder /proc cannot be written: %1.")
               .arg(QString::fromLocal8Bit(std::strerror(::geteuid() == 0 ? ENOENT : EACCES)))
        << false;
}

void TestCliTool::runRefused()
{
    QFETCH(QStringList, options);
    QFETCH(QString, faults);
    QFETCH(int, exitCode);
    QFETCH(QString, sentence);
    QFETCH(bool, folderMade);
    ToolProcess tool({{"TESSIVO_SIM_FAULTS", faults}});
    // A later --out wins over the first.
    const Finished run = tool.run(QStringList{"--frames", "2", "--out", "OUT", "--name", "run", "--quiet"} + options);
    QCOMPARE(run.exitCode, exitCode);
    QCOMPARE(run.err, sentence + QLatin1Char('\n'));
    QCOMPARE(run.out, folderMade ? tool.out() + QStringLiteral("/run\n") : QString());
}

void TestCliTool::interrupted_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("times"); // delivered back to back, as timeout and a terminal do
    QTest::newRow("Ctrl+C") << int(SIGINT) << 1;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 1;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 1;
    QTest::newRow("Ctrl+C twice at once") << int(SIGINT) << 2;
    QTest::newRow("SIGHUP three times at once") << int(SIGHUP) << 3;
}

void TestCliTool::interrupted()
{
    QFETCH(int, signal);
    QFETCH(int, times);
    // 10 nA: about 76 ms a frame, so the run is still going after its first quarter.
    ToolProcess tool;
    tool.start({"--range", "10", "--frames", "40", "--data", "--video", "--hdf5", "--out", "OUT", "--name", "run"});
    QVERIFY(tool.waitForError(QStringLiteral("10 of 40 frames"), 30000));
    QElapsedTimer clock;
    clock.start();
    for (int k = 0; k < times; ++k)
        tool.signal(signal);
    const Finished run = tool.finish();
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(run.exitCode, 130);
    const QString folder = tool.out() + QStringLiteral("/run");
    QCOMPARE(run.out, folder + QLatin1Char('\n'));

    const QRegularExpressionMatch saved =
        QRegularExpression(QStringLiteral("Saved (\\d+) of 40 frames: the run was interrupted\\.\n$")).match(run.err);
    QVERIFY2(saved.hasMatch(), qPrintable(run.err));
    const int kept = saved.captured(1).toInt();
    QVERIFY2(kept >= 10 && kept < 40, qPrintable(run.err));
    // Every frame gathered is on disk, in every kind, under its final name.
    QCOMPARE(wholeCsvFrames(folder + QStringLiteral("/run_current.csv")), kept);
    QCOMPARE(wholeCsvFrames(folder + QStringLiteral("/run_gray.csv")), kept);
    const Hdf5Run file = readHdf5(folder + QStringLiteral("/run.h5"));
    QCOMPARE(file.frames, kept);
    QCOMPARE(file.framesWritten, kept);
    QCOMPARE(file.complete, 0);
    QVERIFY(QDir(folder).entryList({"*.part*"}, QDir::Files).isEmpty());
    if (!QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
        QCOMPARE(videoFrames(folder + QStringLiteral("/run_output_video.mp4")), kept);
}

void TestCliTool::simultaneousRunsGetTheirOwnFolders()
{
    // Six scripts started at once with the same --out and --name; each run's
    // range marks its own parameter file.
    QTemporaryDir shared;
    std::vector<std::unique_ptr<ToolProcess>> tools;
    for (int range = 1; range <= 6; ++range) {
        tools.push_back(std::make_unique<ToolProcess>());
        tools.back()->start({"--range", QString::number(range), "--frames", "3", "--quiet", "--out", shared.path(),
                             "--name", "run"});
    }
    QSet<QString> folders;
    for (int range = 1; range <= 6; ++range) {
        const Finished run = tools[std::size_t(range - 1)]->finish();
        QCOMPARE(run.exitCode, 0);
        const QString folder = run.out.trimmed();
        folders.insert(folder);
        const QString name = QFileInfo(folder).fileName();
        QFile parameters(folder + "/" + name + "_SetParameterData.txt");
        QVERIFY(parameters.open(QIODevice::ReadOnly));
        QVERIFY(parameters.readAll().startsWith(QStringLiteral("Current:%1\n").arg(range).toLatin1()));
        QCOMPARE(wholeCsvFrames(folder + "/" + name + "_current.csv"), 3);
        QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 5); // parameter file and four CSV files
    }
    QCOMPARE(folders.size(), 6);
}

void TestCliTool::helpAndClosedOutput_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("redirect");
    QTest::newRow("--help") << QStringList{"--help"} << QString();
    QTest::newRow("--help-all") << QStringList{"--help-all"} << QString();
    QTest::newRow("a run with standard output closed")
        << QStringList{"--frames", "1", "--quiet", "--out", "OUT", "--name", "run"} << ">&-";
}

void TestCliTool::helpAndClosedOutput()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, redirect);
    ToolProcess tool;
    tool.start(arguments, redirect);
    const Finished run = tool.finish();
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    if (redirect.isEmpty()) {
        QVERIFY2(run.out.contains(QStringLiteral("--frames <N>")), qPrintable(run.out));
        return;
    }
    // The log file did not take descriptor 1: its lines are in it, and the run is whole.
    QFile log(tool.workingDirectory() + QStringLiteral("/log.txt"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("Save run requested"));
    QCOMPARE(wholeCsvFrames(tool.out() + QStringLiteral("/run/run_current.csv")), 1);
}

void TestCliTool::progress_data()
{
    QTest::addColumn<ProgressPrinter::Style>("style");
    QTest::addColumn<int>("newlines");
    QTest::addColumn<int>("redrawsAtMost");
    // 1000 frames over one second: the begin line and four quarter lines;
    // a terminal line redrawn at most five times a second (and at the end).
    QTest::newRow("lines") << ProgressPrinter::Style::Lines << 5 << 0;
    QTest::newRow("terminal") << ProgressPrinter::Style::Terminal << 2 << 7;
    QTest::newRow("quiet") << ProgressPrinter::Style::Quiet << 0 << 0;
}

void TestCliTool::progress()
{
    QFETCH(ProgressPrinter::Style, style);
    QFETCH(int, newlines);
    QFETCH(int, redrawsAtMost);
    QByteArray printed;
    ProgressPrinter printer(style, [&](const QByteArray &text) { printed += text; });
    printer.begin(1000, QStringLiteral("/data/run"), QStringLiteral("data"));
    for (int gathered = 1; gathered <= 1000; ++gathered)
        printer.update(gathered, gathered);
    printer.end();
    QCOMPARE(int(printed.count('\n')), newlines);
    QVERIFY2(printed.count('\r') <= redrawsAtMost, printed.constData());
    if (style != ProgressPrinter::Style::Quiet)
        QVERIFY2(printed.contains("1000 of 1000 frames, 1000.0 frames/s"), printed.constData());
}

namespace {

// A dataset of the file, read whole as `type`.
template <typename T>
std::vector<T> readDataset(hid_t file, const char *path, hid_t type, std::size_t count)
{
    std::vector<T> values(count);
    const Hdf5Id dataset(H5Dopen2(file, path, H5P_DEFAULT));
    if (!dataset.valid() || H5Dread(dataset.get(), type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) < 0)
        values.clear();
    return values;
}

double rootAttribute(hid_t file, const char *name)
{
    double value = std::nan("");
    const Hdf5Id attribute(H5Aopen(file, name, H5P_DEFAULT));
    const Hdf5Id stored(H5Aget_type(attribute.get()));
    if (H5Tget_class(stored.get()) == H5T_ENUM) { // the booleans
        std::int8_t flag = -1;
        H5Aread(attribute.get(), stored.get(), &flag);
        return flag;
    }
    H5Aread(attribute.get(), H5T_NATIVE_DOUBLE, &value);
    return value;
}

} // namespace

void TestCliTool::summaryAndReferences_data()
{
    QTest::addColumn<bool>("references");
    QTest::addColumn<QString>("faults");
    QTest::newRow("calibrated with saved references") << true << QString();
    QTest::newRow("uncalibrated, battery answer cut") << false << QStringLiteral("battery-bytes:4");
}

// The summary's fields against the run folder; with --references, the saved
// gray levels are the window's calibration of the saved currents.
void TestCliTool::summaryAndReferences()
{
    QFETCH(bool, references);
    QFETCH(QString, faults);
    constexpr int frames = 3;
    constexpr double range = 800.0;
    ToolProcess tool({{"TESSIVO_SIM_FAULTS", faults}});
    const QString work = QFileInfo(tool.out()).path(); // beside the output folder
    const QString referencePath = work + QStringLiteral("/references.h5");
    ReferenceSet saved;
    saved.fullOff.assign(16384, 30.0);
    saved.fullOn.resize(16384);
    for (std::size_t i = 0; i < saved.fullOn.size(); ++i)
        saved.fullOn[i] = 400.0 + double(i % 128); // every column its own scale
    saved.fullOffTaken = std::chrono::system_clock::time_point(std::chrono::seconds(1800000000));
    saved.fullOnTaken = std::chrono::system_clock::time_point(std::chrono::seconds(1800000060));
    saved.currentRangeNa = range;
    QString error;
    QVERIFY2(ReferenceFile::save(referencePath, saved, &error), qPrintable(error));

    QStringList arguments{"--frames", QString::number(frames), "--data", "--hdf5", "--out", "OUT", "--name", "run",
                          "--summary", work + QStringLiteral("/summary.json"), "--quiet"};
    if (references)
        arguments << "--references" << referencePath;
    const Finished run = tool.run(arguments);
    QCOMPARE(run.exitCode, 0);
    const QString folder = tool.out() + QStringLiteral("/run");

    QFile file(work + QStringLiteral("/summary.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject summary = QJsonDocument::fromJson(file.readAll()).object();
    QCOMPARE(summary.keys(), QStringList({"backend", "battery_V", "calibrated", "current_range_nA", "exit_code",
                                          "frames_per_second", "frames_requested", "frames_saved", "integration_ms",
                                          "outcome", "run_folder", "serial", "vbias1_V", "vbias2_V", "voff_V",
                                          "von_V"}));
    QCOMPARE(summary["run_folder"].toString() + QLatin1Char('\n'), run.out);
    QCOMPARE(summary["frames_requested"].toInt(), frames);
    QCOMPARE(summary["frames_saved"].toInt(), wholeCsvFrames(folder + QStringLiteral("/run_current.csv")));
    QCOMPARE(summary["outcome"].toString(), QStringLiteral("success"));
    QCOMPARE(summary["exit_code"].toInt(), 0);
    QVERIFY(summary["frames_per_second"].toDouble() > 1.0);
    QCOMPARE(summary["integration_ms"].toDouble(), 7180 * 12.5 * 128 / 1e6);
    QCOMPARE(summary["serial"].toString(), QStringLiteral("ZK128"));
    QCOMPARE(summary["backend"].toString(), QStringLiteral("simulator"));
    QCOMPARE(summary["calibrated"].toBool(), references);
    if (faults.isEmpty())
        QCOMPARE(summary["battery_V"].toDouble(), 2400 * 3.3 / 4096);
    else
        QVERIFY(summary["battery_V"].isNull()); // a cut answer is no reading

    const Hdf5Id h5(H5Fopen(QFile::encodeName(folder + QStringLiteral("/run.h5")).constData(), H5F_ACC_RDONLY,
                            H5P_DEFAULT));
    QVERIFY(h5.valid());
    QCOMPARE(summary["current_range_nA"].toDouble(), rootAttribute(h5.get(), "current_range_nA"));
    for (const char *volts : {"vbias1_V", "vbias2_V", "von_V", "voff_V"})
        QCOMPARE(summary[QLatin1String(volts)].toDouble(), rootAttribute(h5.get(), volts));
    QCOMPARE(rootAttribute(h5.get(), "calibrated"), references ? 1.0 : 0.0);
    QCOMPARE(rootAttribute(h5.get(), "calibrated_frames"), references ? double(frames) : 0.0);
    if (references) {
        QCOMPARE(rootAttribute(h5.get(), "full_off_taken_unix_s"), 1800000000.0);
        QCOMPARE(rootAttribute(h5.get(), "full_on_taken_unix_s"), 1800000060.0);
    } else {
        QVERIFY(std::isnan(rootAttribute(h5.get(), "full_on_taken_unix_s")));
    }

    const std::size_t values = std::size_t(frames) * 16384;
    const auto currents = readDataset<double>(h5.get(), "frames/current", H5T_NATIVE_DOUBLE, values);
    const auto gray = readDataset<std::uint8_t>(h5.get(), "frames/gray", H5T_NATIVE_UINT8, values);
    QCOMPARE(gray.size(), values);
    int agree = 0;
    for (std::size_t i = 0; i < values; ++i) {
        const std::size_t pixel = i % 16384;
        const double level = FrameRenderer::level(
            FrameRenderer::normalise(currents[i], saved.fullOff[pixel], saved.fullOn[pixel], references, int(range)));
        agree += FrameRenderer::grayLevel(level) == gray[i];
    }
    QCOMPARE(agree, int(values));
}

QTEST_GUILESS_MAIN(TestCliTool)
#include "tst_cli_tool.moc"
