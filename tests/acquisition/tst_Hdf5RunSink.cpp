// Hdf5RunSink read back through the HDF5 API: layout, values, attributes and
// the complete flag of full and interrupted runs, the CSV export's numbers,
// refused opens and a disk that fills up.
#include "acquisition/CsvWriter.h"
#include "acquisition/Hdf5Id.h"
#include "acquisition/Hdf5RunSink.h"

#include <QProcess>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

#include <unistd.h>

namespace {

constexpr int kPixels = 128 * 128;
using Clock = std::chrono::system_clock;

SaveRunPlan plan(const QString &folder, int frames)
{
    SaveRunPlan p;
    p.folder = folder;
    p.name = QStringLiteral("run");
    p.frames = frames;
    p.hdf5 = true;
    RunMetadata &m = p.metadata;
    m.vbias1Volts = 1.25, m.vbias2Volts = -3.5, m.vonVolts = 12, m.voffVolts = -7.75;
    m.currentRangeNa = 100, m.integrationCount = 4;
    m.deviceSerial = QStringLiteral("ZK128"), m.backend = QStringLiteral("d2xx");
    m.consoleVersion = QStringLiteral("0.1.0");
    m.startTime = Clock::time_point(std::chrono::microseconds(1765000000123456));
    return p;
}

// Frame k: currents across many magnitudes and signs, with the odd special value.
RecordedFrame frame(int k)
{
    RecordedFrame f;
    f.index = k;
    f.time = Clock::time_point(std::chrono::microseconds(1765000001000000 + 16667 * k));
    for (int i = 0; i < kPixels; ++i) {
        f.currents.push_back(std::ldexp((i % 2 ? -1.0 : 1.0) * (1.0 + k * 0.1234567 + i * 1e-5), i % 80 - 40));
        f.gray.push_back(std::uint8_t((i * 7 + k) % 256));
    }
    f.currents[5] = std::numeric_limits<double>::quiet_NaN();
    f.currents[6] = -0.0;
    f.currents[7] = std::numeric_limits<double>::infinity();
    f.currents[8] = 5e-324;
    return f;
}

double seconds(Clock::time_point t)
{
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// Reads a whole dataset (or attribute) as `type`; dims receives its shape.
template <typename T>
std::vector<T> readDataset(hid_t file, const char *path, hid_t type, std::vector<hsize_t> *dims = nullptr)
{
    const Hdf5Id dataset(H5Dopen2(file, path, H5P_DEFAULT));
    const Hdf5Id space(H5Dget_space(dataset.get()));
    std::vector<hsize_t> shape(std::size_t(std::max(0, H5Sget_simple_extent_ndims(space.get()))));
    H5Sget_simple_extent_dims(space.get(), shape.data(), nullptr);
    std::vector<T> values(std::size_t(H5Sget_simple_extent_npoints(space.get())));
    if (!values.empty() && H5Dread(dataset.get(), type, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data()) < 0)
        values.clear();
    if (dims)
        *dims = shape;
    return values;
}

template <typename T>
T readAttribute(hid_t object, const char *path, const char *name, hid_t type)
{
    T value{};
    const Hdf5Id attribute(H5Aopen_by_name(object, path, name, H5P_DEFAULT, H5P_DEFAULT));
    const Hdf5Id fileType(H5Aget_type(attribute.get()));
    // Enumerations (the complete flag) are read as their stored integer.
    const hid_t memoryType = H5Tget_class(fileType.get()) == H5T_ENUM ? fileType.get() : type;
    if (H5Aread(attribute.get(), memoryType, &value) < 0)
        return T{};
    return value;
}

QString readText(hid_t file, const char *name)
{
    const Hdf5Id type(H5Tcopy(H5T_C_S1));
    H5Tset_size(type.get(), H5T_VARIABLE);
    H5Tset_cset(type.get(), H5T_CSET_UTF8);
    char *text = readAttribute<char *>(file, ".", name, type.get());
    const QString result = QString::fromUtf8(text);
    H5free_memory(text);
    return result;
}

bool sameBits(const double *a, const double *b, std::size_t count)
{
    return std::memcmp(a, b, count * sizeof(double)) == 0;
}

} // namespace

class tst_Hdf5RunSink : public QObject
{
    Q_OBJECT

private slots:
    void writesRun_data();
    void writesRun();
    void currentsAreTheCsvNumbers();
    void refusesToOpen_data();
    void refusesToOpen();
    void fullDiskKeepsEveryFrameWritten();
};

void tst_Hdf5RunSink::writesRun_data()
{
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("written");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<int>("deflateLevel");
    QTest::newRow("complete run") << 4 << 4 << true << 0;
    QTest::newRow("interrupted run") << 6 << 2 << false << 0;
    QTest::newRow("complete run, compressed") << 3 << 3 << true << 1;
}

void tst_Hdf5RunSink::writesRun()
{
    QFETCH(int, requested);
    QFETCH(int, written);
    QFETCH(bool, complete);
    QFETCH(int, deflateLevel);
    QTemporaryDir dir;
    const SaveRunPlan p = plan(dir.path(), requested);
    RunReferences references;
    references.fullOff = frame(100).currents;
    references.fullOn.assign(kPixels, 1.0); // never measured: no time
    references.fullOffTaken = Clock::time_point(std::chrono::microseconds(1764999999500001));
    {
        Hdf5RunSink::Options options;
        options.deflateLevel = deflateLevel;
        Hdf5RunSink sink(options);
        QString error;
        QVERIFY2(sink.open(p, &error), qPrintable(error));
        for (int k = 1; k <= written; ++k)
            QVERIFY2(sink.write(frame(k), &error), qPrintable(error));
        QVERIFY2(sink.finish(references, complete, &error), qPrintable(error));
        QCOMPARE(sink.framesWritten(), written);
    }

    const Hdf5Id file(H5Fopen(QFile::encodeName(Hdf5RunSink::filePath(p)).constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
    QVERIFY(file.valid()); // a normal open: the run left no SWMR mark
    std::vector<hsize_t> dims;
    const auto currents = readDataset<double>(file.get(), "/frames/current", H5T_NATIVE_DOUBLE, &dims);
    QCOMPARE(dims, (std::vector<hsize_t>{hsize_t(written), 128, 128}));
    const auto gray = readDataset<std::uint8_t>(file.get(), "/frames/gray", H5T_NATIVE_UINT8, &dims);
    QCOMPARE(dims, (std::vector<hsize_t>{hsize_t(written), 128, 128}));
    const auto times = readDataset<double>(file.get(), "/frames/timestamp", H5T_NATIVE_DOUBLE, &dims);
    QCOMPARE(dims, std::vector<hsize_t>{hsize_t(written)});
    for (int k = 1; k <= written; ++k) {
        const RecordedFrame f = frame(k);
        QVERIFY2(sameBits(currents.data() + (k - 1) * kPixels, f.currents.data(), kPixels), "currents differ");
        QVERIFY2(std::memcmp(gray.data() + (k - 1) * kPixels, f.gray.data(), kPixels) == 0, "gray levels differ");
        QCOMPARE(times[std::size_t(k - 1)], seconds(f.time));
    }

    const std::pair<const char *, double> numbers[] = {
        {"vbias1_V", 1.25}, {"vbias2_V", -3.5}, {"von_V", 12}, {"voff_V", -7.75}, {"current_range_nA", 100},
        {"integration_count", 4}, {"start_time_unix_s", seconds(p.metadata.startTime)},
        {"frames_requested", requested}, {"frames_written", written}};
    for (const auto &[name, value] : numbers)
        QVERIFY2(readAttribute<double>(file.get(), ".", name, H5T_NATIVE_DOUBLE) == value, name);
    const std::pair<const char *, const char *> texts[] = {{"device_serial", "ZK128"}, {"backend", "d2xx"},
        {"console_version", "0.1.0"}, {"start_time", "2025-12-06T05:46:40.123Z"}};
    for (const auto &[name, text] : texts)
        QCOMPARE(readText(file.get(), name), QString::fromLatin1(text));
    QCOMPARE(readAttribute<std::int8_t>(file.get(), ".", "complete", H5T_NATIVE_INT8), std::int8_t(complete));

    const auto off = readDataset<double>(file.get(), "/references/full_off", H5T_NATIVE_DOUBLE, &dims);
    QCOMPARE(dims, (std::vector<hsize_t>{128, 128}));
    QVERIFY(sameBits(off.data(), references.fullOff.data(), kPixels));
    QCOMPARE(readAttribute<double>(file.get(), "/references/full_off", "taken_unix_s", H5T_NATIVE_DOUBLE),
             seconds(*references.fullOffTaken));
    const auto on = readDataset<double>(file.get(), "/references/full_on", H5T_NATIVE_DOUBLE);
    QVERIFY(std::all_of(on.begin(), on.end(), [](double v) { return std::isnan(v); }));
    QVERIFY(std::isnan(readAttribute<double>(file.get(), "/references/full_on", "taken_unix_s", H5T_NATIVE_DOUBLE)));
}

// The file holds the very doubles the CSV export prints: each cell of the
// CSV text is formatNumber of the value read back from the file.
void tst_Hdf5RunSink::currentsAreTheCsvNumbers()
{
    QTemporaryDir dir;
    const SaveRunPlan p = plan(dir.path(), 2);
    const std::vector<std::vector<double>> frames{frame(1).currents, frame(2).currents};
    {
        Hdf5RunSink sink;
        QString error;
        QVERIFY2(sink.open(p, &error), qPrintable(error));
        for (int k = 1; k <= 2; ++k)
            QVERIFY2(sink.write(frame(k), &error), qPrintable(error));
        QVERIFY2(sink.finish(RunReferences(), true, &error), qPrintable(error));
    }
    const QString csvPath = dir.filePath(QStringLiteral("current.csv"));
    QVERIFY(writeFramesCsv(csvPath, frames, {QStringLiteral("a"), QStringLiteral("b")}));

    const Hdf5Id file(H5Fopen(QFile::encodeName(Hdf5RunSink::filePath(p)).constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
    const auto stored = readDataset<double>(file.get(), "/frames/current", H5T_NATIVE_DOUBLE);
    QCOMPARE(stored.size(), std::size_t(2 * kPixels));
    QFile csv(csvPath);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    std::size_t cell = 0;
    char text[CsvFormat::MaxNumberLength];
    for (const QByteArray &line : csv.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith("Time: "))
            continue;
        for (const QByteArray &value : line.split(',')) {
            QVERIFY(cell < stored.size());
            const QByteArray expected(text, int(CsvFormat::formatNumber(stored[cell++], text) - text));
            QCOMPARE(value, expected);
        }
    }
    QCOMPARE(cell, stored.size());
}

void tst_Hdf5RunSink::refusesToOpen_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("existingFile");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing folder") << QStringLiteral("missing") << false << QStringLiteral("No such file or directory");
    QTest::newRow("recording already there") << QString() << true << QStringLiteral("already exists");
}

void tst_Hdf5RunSink::refusesToOpen()
{
    QFETCH(QString, folder);
    QFETCH(bool, existingFile);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const SaveRunPlan p = plan(dir.filePath(folder), 3);
    QFile existing(Hdf5RunSink::filePath(p));
    if (existingFile) {
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("an earlier recording");
        existing.close();
    }
    Hdf5RunSink sink;
    QString error;
    QVERIFY(!sink.open(p, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(!sink.write(frame(1), &error));
    QVERIFY(sink.finish(RunReferences(), false, &error)); // nothing to close
    if (existingFile) { // never overwritten
        QVERIFY(existing.open(QIODevice::ReadOnly));
        QCOMPARE(existing.readAll(), QByteArray("an earlier recording"));
    } else {
        QVERIFY(!existing.exists());
    }
}

// A small tmpfs fills up during the run: the frame that no longer fits fails
// with the system's words, and the file closes with every frame before it.
void tst_Hdf5RunSink::fullDiskKeepsEveryFrameWritten()
{
    if (geteuid() != 0)
        QSKIP("mounting a small tmpfs needs root");
    QTemporaryDir dir;
    if (QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                                                    QStringLiteral("size=6m"), QStringLiteral("tmpfs"), dir.path()})
        != 0)
        QSKIP("this system does not allow mounting a tmpfs");
    struct Unmount
    {
        QString path;
        ~Unmount() { QProcess::execute(QStringLiteral("umount"), {path}); }
    } unmount{dir.path()};

    const SaveRunPlan p = plan(dir.path(), 1000);
    Hdf5RunSink sink;
    QString error;
    QVERIFY2(sink.open(p, &error), qPrintable(error));
    int accepted = 0;
    while (accepted < 1000 && sink.write(frame(accepted + 1), &error))
        ++accepted;
    QCOMPARE(error, QStringLiteral("No space left on device"));
    QVERIFY2(accepted > 5, qPrintable(QString::number(accepted)));
    QVERIFY2(sink.finish(RunReferences(), false, &error), qPrintable(error));
    QCOMPARE(sink.framesWritten(), accepted);
    // It stopped while the disk still had room to close the file.
    QVERIFY(QStorageInfo(dir.path()).bytesAvailable() > 1 << 20);

    const Hdf5Id file(H5Fopen(QFile::encodeName(Hdf5RunSink::filePath(p)).constData(), H5F_ACC_RDONLY, H5P_DEFAULT));
    QVERIFY(file.valid());
    std::vector<hsize_t> dims;
    const auto currents = readDataset<double>(file.get(), "/frames/current", H5T_NATIVE_DOUBLE, &dims);
    QCOMPARE(dims.front(), hsize_t(accepted));
    QVERIFY(sameBits(currents.data() + (accepted - 1) * kPixels, frame(accepted).currents.data(), kPixels));
    QCOMPARE(readAttribute<std::int8_t>(file.get(), ".", "complete", H5T_NATIVE_INT8), std::int8_t(0));
}

QTEST_GUILESS_MAIN(tst_Hdf5RunSink)
#include "tst_Hdf5RunSink.moc"
