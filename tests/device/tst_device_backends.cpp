#include "context/BackendSelector.h"
#include "device/AcknowledgementWait.h"
#include "device/VendorLibraryBackend.h"
#include "simulator/SimulatorBackend.h"

#include <QLibrary>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtTest>

#include <chrono>
#include <cstring>
#include <future>
#include <vector>

namespace {

const QString simulatorLibrary = QStringLiteral(TESSIVO_FTD2XX_SIM);
const QString fakeLibrary = QStringLiteral(TESSIVO_FAKE_D2XX);
const QString incompleteLibrary = QStringLiteral(TESSIVO_INCOMPLETE_D2XX);
const QString missingLibrary = QStringLiteral("/nonexistent/libftd2xx.so");

// The steering functions of the fake vendor library, resolved from the same
// loaded copy the backend uses.
struct FakeLibraryControls {
    void (*reset)(DWORD devices, DWORD growth, DWORD overreport) = nullptr;
    int (*handleCalls)() = nullptr;
    int (*misuses)() = nullptr; // calls on closed handles, closes while a call is inside
    void (*hold)(int calls) = nullptr;
    bool (*awaitHeld)(int calls, int timeoutMs) = nullptr;
    void (*release)() = nullptr;

    bool resolve()
    {
        QLibrary library(fakeLibrary);
        return find(library, reset, "fakeD2xxReset") && find(library, handleCalls, "fakeD2xxHandleCalls")
            && find(library, misuses, "fakeD2xxMisuses") && find(library, hold, "fakeD2xxHold")
            && find(library, awaitHeld, "fakeD2xxAwaitHeld") && find(library, release, "fakeD2xxRelease");
    }

    template <typename Function>
    static bool find(QLibrary &library, Function &function, const char *symbol)
    {
        function = reinterpret_cast<Function>(library.resolve(symbol));
        return function != nullptr;
    }
};

// One call on handle, as the acquisition thread ("read") or the GUI thread
// ("status") makes it.
FT_STATUS callOn(D2xxBackend &backend, FT_HANDLE handle, const QString &call)
{
    DWORD count = 0;
    if (call == QLatin1String("status"))
        return backend.getStatus(handle, &count, nullptr, nullptr);
    unsigned char buffer[64];
    return backend.read(handle, buffer, sizeof buffer, &count);
}

QString kindOf(const std::shared_ptr<D2xxBackend> &backend)
{
    if (!backend)
        return QStringLiteral("none");
    if (dynamic_cast<SimulatorBackend *>(backend.get()))
        return QStringLiteral("simulator");
    if (dynamic_cast<VendorLibraryBackend *>(backend.get()))
        return QStringLiteral("vendor");
    return QStringLiteral("other");
}

QString libraryFor(const QString &which)
{
    if (which == QLatin1String("simulator library"))
        return simulatorLibrary;
    if (which == QLatin1String("incomplete library"))
        return incompleteLibrary;
    if (which == QLatin1String("missing library"))
        return missingLibrary;
    return QString();
}

} // namespace

class BackendsTest : public QObject
{
    Q_OBJECT

private slots:
    void simulatorLibraryEnumeratesOpensGreetsAndCloses();
    void missingOrIncompleteLibraryGivesNullAndReason_data();
    void missingOrIncompleteLibraryGivesNullAndReason();
    void unknownHandlesNeverReachTheLibrary();
    void deviceListNeverOverrunsTheCallersRecords_data();
    void deviceListNeverOverrunsTheCallersRecords();
    void readNeverReportsMoreThanAskedFor();
    void closeWaitsForCallsInsideTheLibrary_data();
    void closeWaitsForCallsInsideTheLibrary();
    void selectorChoosesByTheSetting_data();
    void selectorChoosesByTheSetting();
    void autoWithoutAnyLibraryFallsBackToTheSimulator();
};

void BackendsTest::simulatorLibraryEnumeratesOpensGreetsAndCloses()
{
    QString reason;
    bool loaded = false;
    auto backend = VendorLibraryBackend::load(simulatorLibrary, &reason, &loaded);
    QVERIFY2(backend, qPrintable(reason));
    QVERIFY(loaded);
    QVERIFY(reason.isEmpty());
    QVERIFY(!backend->isSimulator()); // to the console it is a vendor library
    QCOMPARE(backend->libraryPath(), simulatorLibrary);
    QCOMPARE(backend->name(), QStringLiteral("D2XX library ") + simulatorLibrary);

    DWORD count = 0;
    QCOMPARE(backend->createDeviceInfoList(&count), FT_OK);
    QCOMPARE(count, DWORD(1));
    std::vector<FT_DEVICE_LIST_INFO_NODE> records(count);
    DWORD filled = count;
    QCOMPARE(backend->getDeviceInfoList(records.data(), &filled), FT_OK);
    QCOMPARE(filled, DWORD(1));
    QCOMPARE(QByteArray(records[0].SerialNumber), QByteArray("ZK128"));

    FT_HANDLE handle = nullptr;
    QCOMPARE(backend->openEx("ZK128", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    QVERIFY(handle);
    QCOMPARE(backend->setTimeouts(handle, 2000, 1000), FT_OK);
    const AcknowledgementWait::Result greeting = AcknowledgementWait(*backend, handle).handshake();
    QVERIFY(greeting.acknowledged);
    QCOMPARE(greeting.lastStatus, FT_OK);

    QCOMPARE(backend->close(handle), FT_OK);
    // A closed handle is refused by the backend itself.
    QCOMPARE(backend->close(handle), FT_INVALID_HANDLE);
    DWORD rx = 99;
    QCOMPARE(backend->getStatus(handle, &rx, nullptr, nullptr), FT_INVALID_HANDLE);
    QCOMPARE(rx, DWORD(0));
}

void BackendsTest::missingOrIncompleteLibraryGivesNullAndReason_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("libraryLoaded");
    QTest::addColumn<QString>("reasonPattern");
    QTest::newRow("no file at the path")
        << missingLibrary << false
        << QStringLiteral("^no loadable library at /nonexistent/libftd2xx\\.so \\(.+\\)$");
    QTest::newRow("a file that is not a library")
        << QStringLiteral(TESSIVO_NOT_A_LIBRARY) << false
        << QStringLiteral("^no loadable library at .+ \\(.+\\)$");
    QTest::newRow("library without FT_Close")
        << incompleteLibrary << true
        << QStringLiteral("^%1 has no function FT_Close$").arg(QRegularExpression::escape(incompleteLibrary));
}

void BackendsTest::missingOrIncompleteLibraryGivesNullAndReason()
{
    QFETCH(QString, path);
    QFETCH(bool, libraryLoaded);
    QFETCH(QString, reasonPattern);
    QString reason;
    bool loaded = !libraryLoaded;
    QVERIFY(!VendorLibraryBackend::load(path, &reason, &loaded));
    QCOMPARE(loaded, libraryLoaded);
    QVERIFY2(QRegularExpression(reasonPattern).match(reason).hasMatch(), qPrintable(reason));
}

void BackendsTest::unknownHandlesNeverReachTheLibrary()
{
    FakeLibraryControls fake;
    QVERIFY(fake.resolve());
    QString reason;
    auto backend = VendorLibraryBackend::load(fakeLibrary, &reason);
    QVERIFY2(backend, qPrintable(reason));
    fake.reset(1, 0, 0);

    int foreignObject = 0;
    FT_HANDLE opened = nullptr;
    QCOMPARE(backend->openEx("FAKE0", FT_OPEN_BY_SERIAL_NUMBER, &opened), FT_OK);
    QCOMPARE(backend->close(opened), FT_OK);
    QCOMPARE(fake.handleCalls(), 1); // the close itself

    unsigned char buffer[8] = {};
    DWORD count = 0;
    for (FT_HANDLE handle : {FT_HANDLE(nullptr), FT_HANDLE(&foreignObject), opened}) {
        QCOMPARE(backend->resetDevice(handle), FT_INVALID_HANDLE);
        QCOMPARE(backend->purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_INVALID_HANDLE);
        QCOMPARE(backend->setBitMode(handle, 0, FT_BITMODE_SYNC_FIFO), FT_INVALID_HANDLE);
        QCOMPARE(backend->setUsbParameters(handle, 65536, 65536), FT_INVALID_HANDLE);
        QCOMPARE(backend->setFlowControl(handle, FT_FLOW_RTS_CTS, 0, 0), FT_INVALID_HANDLE);
        QCOMPARE(backend->setTimeouts(handle, 2000, 1000), FT_INVALID_HANDLE);
        QCOMPARE(backend->write(handle, buffer, 5, &count), FT_INVALID_HANDLE);
        QCOMPARE(backend->getStatus(handle, &count, &count, &count), FT_INVALID_HANDLE);
        QCOMPARE(backend->read(handle, buffer, 8, &count), FT_INVALID_HANDLE);
        QCOMPARE(count, DWORD(0));
        QCOMPARE(backend->close(handle), FT_INVALID_HANDLE);
    }
    QCOMPARE(fake.handleCalls(), 1);
}

void BackendsTest::deviceListNeverOverrunsTheCallersRecords_data()
{
    QTest::addColumn<int>("attached");
    QTest::addColumn<int>("growth");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("filled");
    QTest::newRow("list as long as the records") << 2 << 0 << 2 << 2;
    QTest::newRow("a device arrives between the two calls") << 1 << 1 << 1 << 1;
    QTest::newRow("three devices arrive between the two calls") << 1 << 3 << 1 << 1;
    QTest::newRow("more records than devices") << 1 << 0 << 3 << 1;
    QTest::newRow("no records at all") << 2 << 0 << 0 << 0;
}

void BackendsTest::deviceListNeverOverrunsTheCallersRecords()
{
    QFETCH(int, attached);
    QFETCH(int, growth);
    QFETCH(int, capacity);
    QFETCH(int, filled);
    FakeLibraryControls fake;
    QVERIFY(fake.resolve());
    QString reason;
    auto backend = VendorLibraryBackend::load(fakeLibrary, &reason);
    QVERIFY2(backend, qPrintable(reason));
    fake.reset(DWORD(attached), DWORD(growth), 0);

    DWORD count = 0;
    QCOMPARE(backend->createDeviceInfoList(&count), FT_OK);
    QCOMPARE(count, DWORD(attached));

    // The caller's records, followed by guard records that must stay untouched.
    constexpr int guards = 4;
    std::vector<FT_DEVICE_LIST_INFO_NODE> records(std::size_t(capacity + guards));
    std::memset(records.data(), 0xEE, records.size() * sizeof(FT_DEVICE_LIST_INFO_NODE));
    DWORD inOut = DWORD(capacity);
    QCOMPARE(backend->getDeviceInfoList(records.data(), &inOut), FT_OK);
    QCOMPARE(inOut, DWORD(filled));
    for (int i = 0; i < filled; ++i)
        QCOMPARE(QByteArray(records[std::size_t(i)].SerialNumber), "FAKE" + QByteArray::number(i));
    const auto *guard = reinterpret_cast<const unsigned char *>(records.data() + capacity);
    for (std::size_t i = 0; i < guards * sizeof(FT_DEVICE_LIST_INFO_NODE); ++i)
        QCOMPARE(int(guard[i]), 0xEE);
}

void BackendsTest::readNeverReportsMoreThanAskedFor()
{
    FakeLibraryControls fake;
    QVERIFY(fake.resolve());
    QString reason;
    auto backend = VendorLibraryBackend::load(fakeLibrary, &reason);
    QVERIFY2(backend, qPrintable(reason));
    fake.reset(1, 0, 100); // the library claims 100 bytes more than it was asked for

    FT_HANDLE handle = nullptr;
    QCOMPARE(backend->openEx("FAKE0", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    unsigned char buffer[16] = {};
    DWORD returned = 0;
    QCOMPARE(backend->read(handle, buffer, 10, &returned), FT_OK);
    QCOMPARE(returned, DWORD(10));
    QCOMPARE(int(buffer[9]), 0x5A);
    QCOMPARE(int(buffer[10]), 0);
    QCOMPARE(backend->read(handle, nullptr, 10, &returned), FT_INVALID_PARAMETER);
    QCOMPARE(returned, DWORD(0));
    QCOMPARE(backend->close(handle), FT_OK);
}

void BackendsTest::closeWaitsForCallsInsideTheLibrary_data()
{
    QTest::addColumn<QStringList>("inFlight"); // calls held inside the library, each on its own thread
    QTest::addColumn<bool>("sameHandle");      // whether they are on the handle being closed
    QTest::newRow("read blocking on the closed handle") << QStringList{"read"} << true;
    QTest::newRow("read and status query on the closed handle") << QStringList{"read", "status"} << true;
    QTest::newRow("read blocking on another handle") << QStringList{"read"} << false;
}

void BackendsTest::closeWaitsForCallsInsideTheLibrary()
{
    using namespace std::chrono_literals;
    QFETCH(QStringList, inFlight);
    QFETCH(bool, sameHandle);
    FakeLibraryControls fake;
    QVERIFY(fake.resolve());
    QString reason;
    const auto backend = VendorLibraryBackend::load(fakeLibrary, &reason);
    QVERIFY2(backend, qPrintable(reason));
    fake.reset(2, 0, 0);
    FT_HANDLE closing = nullptr;
    FT_HANDLE other = nullptr;
    QCOMPARE(backend->openEx("FAKE0", FT_OPEN_BY_SERIAL_NUMBER, &closing), FT_OK);
    QCOMPARE(backend->openEx("FAKE1", FT_OPEN_BY_SERIAL_NUMBER, &other), FT_OK);
    const FT_HANDLE busy = sameHandle ? closing : other;

    std::vector<std::future<FT_STATUS>> calls;
    std::future<FT_STATUS> closed;
    // Declared after the futures so the held calls are let go before the
    // futures wait for their threads, however the test ends.
    const auto letGo = qScopeGuard([&] { fake.release(); });
    fake.hold(int(inFlight.size()));
    for (const QString &call : inFlight)
        calls.push_back(std::async(std::launch::async, [=] { return callOn(*backend, busy, call); }));
    // All inside at once: calls on one handle do not wait for each other.
    QVERIFY(fake.awaitHeld(int(inFlight.size()), 5000));

    closed = std::async(std::launch::async, [=] { return backend->close(closing); });
    if (sameHandle) {
        QVERIFY2(closed.wait_for(200ms) == std::future_status::timeout,
                 "the close returned while calls on its handle were inside the library");
        DWORD rx = 99;
        QCOMPARE(backend->getStatus(closing, &rx, nullptr, nullptr), FT_INVALID_HANDLE);
        QCOMPARE(rx, DWORD(0));
        fake.release();
    }
    QVERIFY2(closed.wait_for(5s) == std::future_status::ready, "the close never returned");
    QCOMPARE(closed.get(), FT_OK);
    fake.release();
    for (auto &call : calls) {
        QVERIFY(call.wait_for(5s) == std::future_status::ready);
        QCOMPARE(call.get(), FT_OK);
    }
    QCOMPARE(callOn(*backend, closing, QStringLiteral("read")), FT_INVALID_HANDLE);
    QCOMPARE(backend->close(other), FT_OK);
    QCOMPARE(fake.misuses(), 0);
}

void BackendsTest::selectorChoosesByTheSetting_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // %1: the library path

    const QString usingLibrary = QStringLiteral("Using the D2XX library %1.");
    const QString notFound = QStringLiteral("D2XX library not found; using the built-in ZK128 simulator.");
    QTest::newRow("auto with a working library")
        << "auto" << "simulator library" << "vendor" << usingLibrary;
    QTest::newRow("empty setting is auto") << "" << "simulator library" << "vendor" << usingLibrary;
    QTest::newRow("setting in capitals with blanks") << " AUTO " << "simulator library" << "vendor"
                                                     << usingLibrary;
    QTest::newRow("auto with a missing library") << "auto" << "missing library" << "simulator" << notFound;
    QTest::newRow("auto with an incomplete library")
        << "auto" << "incomplete library" << "simulator"
        << QStringLiteral("D2XX library could not be used (%1 has no function FT_Close); "
                          "using the built-in ZK128 simulator.");
    QTest::newRow("simulator even when a library loads")
        << "simulator" << "simulator library" << "simulator"
        << QStringLiteral("Using the built-in ZK128 simulator.");
    QTest::newRow("d2xx with a working library") << "d2xx" << "simulator library" << "vendor" << usingLibrary;
    QTest::newRow("d2xx with a missing library")
        << "d2xx" << "missing library" << "none"
        << QStringLiteral("TESSIVO_DEVICE=d2xx but the D2XX library could not be loaded: "
                          "no loadable library at %1 (*).");
    QTest::newRow("d2xx with an incomplete library")
        << "D2XX" << "incomplete library" << "none"
        << QStringLiteral("TESSIVO_DEVICE=d2xx but the D2XX library could not be loaded: "
                          "%1 has no function FT_Close.");
    QTest::newRow("unknown setting is taken as auto")
        << "usb" << "missing library" << "simulator"
        << QStringLiteral("TESSIVO_DEVICE=usb is not auto, simulator or d2xx, so it is taken as auto. ")
            + notFound;
    QTest::newRow("unknown setting still finds a working library")
        << "ftdi" << "simulator library" << "vendor"
        << QStringLiteral("TESSIVO_DEVICE=ftdi is not auto, simulator or d2xx, so it is taken as auto. ")
            + usingLibrary;
}

void BackendsTest::selectorChoosesByTheSetting()
{
    QFETCH(QString, setting);
    QFETCH(QString, library);
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString path = libraryFor(library);

    const BackendSelector::Choice choice = BackendSelector::choose(setting, path);
    QCOMPARE(kindOf(choice.backend), kind);
    // The message is matched as a wildcard pattern: '*' stands for the
    // loader's own words, which differ between systems.
    const QString expected = message.contains(QLatin1String("%1")) ? message.arg(path) : message;
    QString pattern = QRegularExpression::escape(expected);
    pattern.replace(QStringLiteral("\\*"), QStringLiteral(".+"));
    QVERIFY2(QRegularExpression(QLatin1Char('^') + pattern + QLatin1Char('$')).match(choice.logMessage).hasMatch(),
             qPrintable(choice.logMessage));
}

void BackendsTest::autoWithoutAnyLibraryFallsBackToTheSimulator()
{
    QLibrary installed(QStringLiteral("libftd2xx.so"));
    if (installed.load())
        QSKIP("A D2XX library is installed on this machine; auto would rightly choose it.");
    const BackendSelector::Choice choice = BackendSelector::choose(QString(), QString());
    QCOMPARE(kindOf(choice.backend), QStringLiteral("simulator"));
    QCOMPARE(choice.logMessage,
             QStringLiteral("D2XX library not found; using the built-in ZK128 simulator."));
}

QTEST_GUILESS_MAIN(BackendsTest)
#include "tst_device_backends.moc"
