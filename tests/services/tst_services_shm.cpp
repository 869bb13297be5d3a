#include "SharedFrameView.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

constexpr int Pixels = 16384;

double patternValue(int seed, int i)
{
    return seed * 1000.0 + i * 0.25;
}

// Size and permission bits of a POSIX shared-memory object, -1 when absent.
struct ObjectInfo {
    long long size = -1;
    unsigned mode = 0;
};

ObjectInfo inspect(const std::string &name)
{
    ObjectInfo info;
    const int fd = shm_open(("/" + name).c_str(), O_RDONLY, 0);
    if (fd < 0)
        return info;
    struct stat st {};
    if (fstat(fd, &st) == 0) {
        info.size = st.st_size;
        info.mode = st.st_mode & 07777;
    }
    ::close(fd);
    return info;
}

bool createObject(const std::string &name, off_t size)
{
    const int fd = shm_open(("/" + name).c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
    if (fd < 0)
        return false;
    const bool sized = ftruncate(fd, size) == 0;
    ::close(fd);
    return sized;
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
    void processWideBlockIsMappedBeforeMainWithMode0600();
    void frameWrittenByOneProcessIsReadByAnother_data();
    void frameWrittenByOneProcessIsReadByAnother();
    void existingBlockIsGrownOnlyWhenSmaller_data();
    void existingBlockIsGrownOnlyWhenSmaller();
    void failedMappingLeavesNullViewAndWarnsOnce();

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

void SharedFrameViewTest::processWideBlockIsMappedBeforeMainWithMode0600()
{
    // Mapped by static initialisation: the object exists before this test asks.
    const ObjectInfo info = inspect(SharedFrameView::Name);
    QCOMPARE(info.size, static_cast<long long>(SharedFrameView::Size));
    QCOMPARE(info.mode, 0600u);
    QVERIFY(SharedFrameView::instance().data() != nullptr);
    QVERIFY(SharedFrameView::instance().error().empty());
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
    auto *values = static_cast<double *>(view.data());
    QVERIFY(values != nullptr);
    const ObjectInfo info = inspect(m_name);
    QCOMPARE(info.size, static_cast<long long>(SharedFrameView::Size));
    QCOMPARE(info.mode, 0600u);

    if (thisProcessWrites) {
        for (int i = 0; i < Pixels; ++i)
            values[i] = patternValue(seed, i);
        QCOMPARE(runProbe({QStringLiteral("shm-read"), name, QString::number(seed)}), 0);
        // A wrong expectation must be noticed, or the check above proves nothing.
        QCOMPARE(runProbe({QStringLiteral("shm-read"), name, QString::number(seed + 1)}), 1);
    } else {
        QCOMPARE(runProbe({QStringLiteral("shm-write"), name, QString::number(seed)}), 0);
        for (int i = 0; i < Pixels; ++i)
            QCOMPARE(values[i], patternValue(seed, i));
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
    QVERIFY(view.data() != nullptr);
    QCOMPARE(inspect(m_name).size, sizeAfter);
    // The whole view is usable: touching its last double must not fault.
    static_cast<double *>(view.data())[Pixels - 1] = 1.5;
    QCOMPARE(static_cast<double *>(view.data())[Pixels - 1], 1.5);
}

void SharedFrameViewTest::failedMappingLeavesNullViewAndWarnsOnce()
{
    // A slash inside the name is not a valid POSIX shared-memory name.
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral(
                             "^Shared memory block no/such could not be mapped \\(.+\\); "
                             "frames are not published\\.$")));
    SharedFrameView view("no/such");
    QVERIFY(view.data() == nullptr);
    QVERIFY(!view.error().empty());
}

QTEST_GUILESS_MAIN(SharedFrameViewTest)
#include "tst_services_shm.moc"
