#include "context/ConsoleContext.h"
#include "services/SharedFrameView.h"
#include "tests/services/SharedFrameReader.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Pixels = 16384;

double patternValue(int seed, int i)
{
    return seed * 1000.0 + i * 0.25;
}

std::vector<double> pattern(int seed, int count = Pixels)
{
    std::vector<double> values(std::size_t(count), 0.0);
    for (int i = 0; i < count; ++i)
        values[std::size_t(i)] = patternValue(seed, i);
    return values;
}

unsigned modeOf(const std::string &name)
{
    struct stat st {};
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    const bool ok = fd >= 0 && fstat(fd, &st) == 0;
    if (fd >= 0)
        ::close(fd);
    return ok ? unsigned(st.st_mode & 07777) : 0u;
}

// An object made by someone else: given mode and owner, size bytes of `fill`.
bool createObject(const std::string &name, off_t size, mode_t mode = 0600, uid_t owner = geteuid(),
                  double fill = 0.0)
{
    const int fd = shm_open(("/" + name).c_str(), O_CREAT | O_EXCL | O_RDWR, mode);
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, mode) == 0 && ftruncate(fd, size) == 0;
    if (ok && fill != 0.0) {
        const std::vector<double> values(std::size_t(size) / sizeof(double), fill);
        ok = pwrite(fd, values.data(), std::size_t(size), 0) == size;
    }
    ok = ok && (owner == geteuid() || fchown(fd, owner, gid_t(-1)) == 0);
    ::close(fd);
    return ok;
}

int runProbe(const QStringList &arguments)
{
    QProcess probe;
    probe.start(QStringLiteral(TESSIVO_SERVICES_PROBE), arguments);
    if (!probe.waitForFinished(30000) || probe.exitStatus() != QProcess::NormalExit)
        return -1;
    return probe.exitCode();
}

} // namespace

// Every case works on a block of its own name, so a console running on this
// machine (or another test writing frames) never sees or disturbs it; the
// process-wide "MemoryShare" block itself is only inspected.
class SharedFrameViewTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void consoleContextOpensTheBlockWithMode0600();
    void frameWrittenByOneProcessIsReadByAnother_data();
    void frameWrittenByOneProcessIsReadByAnother();
    void existingBlockIsGrownOnlyWhenSmaller_data();
    void existingBlockIsGrownOnlyWhenSmaller();
    void shrunkBlockNeitherKillsNorStopsPublishing_data();
    void shrunkBlockNeitherKillsNorStopsPublishing();
    void failedFramesWarnOncePerRun();
    void refusedBlockIsReportedOnceAndNeverWritten_data();
    void refusedBlockIsReportedOnceAndNeverWritten();

private:
    std::string m_name;
};

void SharedFrameViewTest::init()
{
    m_name = "TessivoTest-" + std::to_string(QCoreApplication::applicationPid()) + '-'
        + QTest::currentTestFunction();
    shm_unlink(("/" + m_name).c_str());
}

void SharedFrameViewTest::cleanup()
{
    shm_unlink(("/" + m_name).c_str());
}

void SharedFrameViewTest::consoleContextOpensTheBlockWithMode0600()
{
    // The console's own block belongs to its context, opened when the context is built.
    const ConsoleContext context(nullptr, ConsolePaths{QString(), QString(), QString()});
    QVERIFY(context.frameView().isOpen());
    QVERIFY(context.frameView().error().empty());
    QCOMPARE(SharedFrameReader::sizeOf(SharedFrameView::Name), static_cast<long long>(SharedFrameView::Size));
    QCOMPARE(modeOf(SharedFrameView::Name), 0600u);
}

void SharedFrameViewTest::frameWrittenByOneProcessIsReadByAnother_data()
{
    QTest::addColumn<bool>("thisProcessWrites");
    QTest::newRow("written here, read by a second instance") << true;
    QTest::newRow("written by a second instance, read here") << false;
}

void SharedFrameViewTest::frameWrittenByOneProcessIsReadByAnother()
{
    QFETCH(bool, thisProcessWrites);
    const QString name = QString::fromStdString(m_name);
    const int seed = thisProcessWrites ? 7 : 11;

    SharedFrameView view(m_name.c_str());
    QVERIFY(view.isOpen());
    QCOMPARE(SharedFrameReader::sizeOf(m_name), static_cast<long long>(SharedFrameView::Size));
    QCOMPARE(modeOf(m_name), 0600u);

    if (thisProcessWrites) {
        const std::vector<double> frame = pattern(seed);
        QVERIFY(view.publish(frame.data(), frame.size()));
        QCOMPARE(runProbe({QStringLiteral("shm-read"), name, QString::number(seed)}), 0);
        // A wrong expectation must be noticed, or the check above proves nothing.
        QCOMPARE(runProbe({QStringLiteral("shm-read"), name, QString::number(seed + 1)}), 1);
    } else {
        QCOMPARE(runProbe({QStringLiteral("shm-write"), name, QString::number(seed)}), 0);
        QCOMPARE(SharedFrameReader::read(m_name), pattern(seed));
    }
}

void SharedFrameViewTest::existingBlockIsGrownOnlyWhenSmaller_data()
{
    QTest::addColumn<long long>("existingSize");
    QTest::addColumn<long long>("sizeAfter");
    QTest::newRow("empty block is grown") << 0LL << 131072LL;
    QTest::newRow("short block is grown") << 4096LL << 131072LL;
    QTest::newRow("block of the right size is kept") << 131072LL << 131072LL;
    QTest::newRow("larger block is not shrunk") << 262144LL << 262144LL;
}

void SharedFrameViewTest::existingBlockIsGrownOnlyWhenSmaller()
{
    QFETCH(long long, existingSize);
    QFETCH(long long, sizeAfter);
    QVERIFY(createObject(m_name, static_cast<off_t>(existingSize)));

    SharedFrameView view(m_name.c_str());
    QVERIFY(view.isOpen());
    QCOMPARE(SharedFrameReader::sizeOf(m_name), sizeAfter);
    // Publishing fills the first Size bytes and leaves the object's size alone.
    const std::vector<double> frame = pattern(3);
    QVERIFY(view.publish(frame.data(), frame.size()));
    const std::vector<double> seen = SharedFrameReader::read(m_name);
    QCOMPARE(static_cast<long long>(seen.size() * sizeof(double)), sizeAfter);
    QCOMPARE(std::vector<double>(seen.begin(), seen.begin() + Pixels), frame);
}

void SharedFrameViewTest::shrunkBlockNeitherKillsNorStopsPublishing_data()
{
    QTest::addColumn<int>("frameValues");
    QTest::addColumn<bool>("whileWriting");
    // A mapping of the object would raise SIGBUS at the first frame after the
    // shrink and end this test process.
    QTest::newRow("shrunk to 0 between frames") << Pixels << false;
    QTest::newRow("shrunk to 0 between short frames") << 1000 << false;
    QTest::newRow("shrunk to 0 by a second thread while frames are written") << Pixels << true;
}

void SharedFrameViewTest::shrunkBlockNeitherKillsNorStopsPublishing()
{
    QFETCH(int, frameValues);
    QFETCH(bool, whileWriting);
    SharedFrameView view(m_name.c_str());
    QVERIFY(view.isOpen());
    const int fd = shm_open(("/" + m_name).c_str(), O_RDWR, 0);
    QVERIFY(fd >= 0);

    std::atomic<bool> stop{false};
    std::atomic<int> shrinks{0};
    std::thread shrinker;
    if (whileWriting) {
        shrinker = std::thread([&] {
            while (!stop.load()) {
                if (ftruncate(fd, 0) == 0)
                    ++shrinks;
            }
        });
    }
    int refused = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::vector<double> frame = pattern(i, frameValues);
        if (!view.publish(frame.data(), frame.size()))
            ++refused;
        if (!whileWriting && ftruncate(fd, 0) == 0)
            ++shrinks;
    }
    stop.store(true);
    if (shrinker.joinable())
        shrinker.join();
    ::close(fd);

    QVERIFY(shrinks.load() > 0);
    QCOMPARE(refused, 0);
    // The next frame grows the object back to its full size for readers.
    const std::vector<double> last = pattern(4321, frameValues);
    QVERIFY(view.publish(last.data(), last.size()));
    std::vector<double> expected = last;
    expected.resize(Pixels, 0.0); // a short frame is followed by zeros
    QCOMPARE(SharedFrameReader::read(m_name), expected);
}

// At 100 frames a second a warning per failed frame would bury the log: one
// per run of failures, and a note when frames get through again.
void SharedFrameViewTest::failedFramesWarnOncePerRun()
{
    SharedFrameView view(m_name.c_str());
    QVERIFY(view.isOpen());
    const std::vector<double> tooLong = pattern(1, Pixels + 1);
    const std::vector<double> frame = pattern(2);
    const QRegularExpression failed(QStringLiteral(
        "^Frames could not be written to shared memory block .+ \\(a frame of 16385 values does not fit\\); "
        "every next frame is tried again\\.$"));

    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    QTest::ignoreMessage(QtWarningMsg, failed);
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("^Frames are written to shared memory block .+ again\\.$")));
    QTest::ignoreMessage(QtWarningMsg, failed);
    for (const auto *values : {&tooLong, &tooLong, &frame, &frame, &tooLong, &tooLong})
        QCOMPARE(view.publish(values->data(), values->size()), values == &frame);
    QCOMPARE(SharedFrameReader::read(m_name), frame);
}

void SharedFrameViewTest::refusedBlockIsReportedOnceAndNeverWritten_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("otherOwner");
    QTest::addColumn<QString>("reason");

    // A slash inside the name is not a valid POSIX shared-memory name.
    QTest::newRow("name that cannot be opened") << false << 0 << false << QStringLiteral("it could not be opened \\(.+\\)");
    const QString notOurs = QStringLiteral("it belongs to uid \\d+ with mode %1 instead of this user \\(uid \\d+\\) with mode 0600");
    QTest::newRow("readable by others") << true << 0644 << false << notOurs.arg(QLatin1String("0644"));
    QTest::newRow("executable by its owner") << true << 0700 << false << notOurs.arg(QLatin1String("0700"));
    QTest::newRow("owned by another user") << true << 0600 << true << notOurs.arg(QLatin1String("0600"));
}

void SharedFrameViewTest::refusedBlockIsReportedOnceAndNeverWritten()
{
    QFETCH(bool, exists);
    QFETCH(int, mode);
    QFETCH(bool, otherOwner);
    QFETCH(QString, reason);
    if (otherOwner && geteuid() != 0)
        QSKIP("only root can give an object to another user");
    const std::string name = exists ? m_name : "no/such";
    constexpr double untouched = -7.5;
    if (exists)
        QVERIFY(createObject(m_name, SharedFrameView::Size, mode_t(mode), otherOwner ? 65534 : geteuid(), untouched));

    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("^Shared memory block %1 is not used because %2; "
                                                           "frames are not published\\.$")
                                                .arg(QString::fromStdString(name), reason)));
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    SharedFrameView view(name.c_str());
    QVERIFY(!view.isOpen());
    QVERIFY(!view.error().empty());

    const std::vector<double> frame = pattern(5);
    for (int i = 0; i < 3; ++i)
        QVERIFY(!view.publish(frame.data(), frame.size()));
    if (exists) {
        QCOMPARE(SharedFrameReader::read(m_name), std::vector<double>(Pixels, untouched));
        QCOMPARE(modeOf(m_name), unsigned(mode));
    }
}

QTEST_GUILESS_MAIN(SharedFrameViewTest)
#include "tst_services_shm.moc"
