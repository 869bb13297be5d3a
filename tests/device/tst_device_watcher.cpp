#include "device/DeviceWatcher.h"
#include "simulator/SimulatorBackend.h"
#include "simulator/ZK128Device.h"
#include "tests/device/FakeD2xxBackend.h"
#ifdef TESSIVO_HAVE_UDEV
#include "device/UdevMonitor.h"
#endif

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

#include <memory>
#include <thread>

class DeviceWatcherTest : public QObject
{
    Q_OBJECT

private slots:
    void simulatorUnplugAndReplugArriveInOrder();
    void eventsFromAnotherThreadArriveOnTheWatchersThread();
    void deviceOutlivingItsWatcherPlugsSafely();
    void usbWatcherSaysWhetherItWatches();
#ifdef TESSIVO_HAVE_UDEV
    void ftdiDevicesAreRecognisedFromTheirEventProperties_data();
    void ftdiDevicesAreRecognisedFromTheirEventProperties();
    void actionsMapToArrivalAndRemoval_data();
    void actionsMapToArrivalAndRemoval();
#endif
};

void DeviceWatcherTest::simulatorUnplugAndReplugArriveInOrder()
{
    auto device = std::make_shared<ZK128Device>();
    DeviceWatcher watcher(std::make_shared<SimulatorBackend>(device));
    QVERIFY(watcher.isWatching());
    QSignalSpy spy(&watcher, &DeviceWatcher::deviceChanged);

    device->unplug();
    device->replug();
    device->unplug();
    QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 5000);
    QCOMPARE(spy.at(0).at(0).toBool(), false);
    QCOMPARE(spy.at(1).at(0).toBool(), true);
    QCOMPARE(spy.at(2).at(0).toBool(), false);
}

void DeviceWatcherTest::eventsFromAnotherThreadArriveOnTheWatchersThread()
{
    auto device = std::make_shared<ZK128Device>();
    DeviceWatcher watcher(std::make_shared<SimulatorBackend>(device));
    QThread *emittedOn = nullptr;
    QList<bool> seen;
    connect(&watcher, &DeviceWatcher::deviceChanged, this, [&](bool arrived) {
        emittedOn = QThread::currentThread();
        seen.append(arrived);
    }, Qt::DirectConnection);

    std::thread plugger([device] {
        device->unplug();
        device->replug();
    });
    plugger.join();
    // Nothing is emitted inside the plugging thread: the events wait for this loop.
    QVERIFY(seen.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 5000);
    QCOMPARE(seen, (QList<bool>{false, true}));
    QCOMPARE(emittedOn, QThread::currentThread());
}

void DeviceWatcherTest::deviceOutlivingItsWatcherPlugsSafely()
{
    auto device = std::make_shared<ZK128Device>();
    {
        DeviceWatcher watcher(std::make_shared<SimulatorBackend>(device));
        device->unplug(); // posted, never delivered: the watcher goes first
    }
    device->replug();
    device->unplug();
    QCoreApplication::processEvents();

    // A new watcher on the same device hears only what happens from now on.
    DeviceWatcher next(std::make_shared<SimulatorBackend>(device));
    QSignalSpy spy(&next, &DeviceWatcher::deviceChanged);
    device->replug();
    QVERIFY(spy.wait(5000));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toBool(), true);
}

void DeviceWatcherTest::usbWatcherSaysWhetherItWatches()
{
    auto backend = std::make_shared<FakeD2xxBackend>();
    DeviceWatcher watcher(std::static_pointer_cast<D2xxBackend>(backend));
    QVERIFY(!watcher.status().isEmpty());
    // Watching or not depends on the machine (containers often lack the udev
    // socket); the status sentence must agree with it either way.
    if (watcher.isWatching())
        QCOMPARE(watcher.status(), QStringLiteral("Watching the USB bus for FTDI devices."));
    else
        QVERIFY2(watcher.status().startsWith(QLatin1String("USB devices are not watched: ")),
                 qPrintable(watcher.status()));
}

#ifdef TESSIVO_HAVE_UDEV
void DeviceWatcherTest::ftdiDevicesAreRecognisedFromTheirEventProperties_data()
{
    QTest::addColumn<QByteArray>("idVendorProperty");
    QTest::addColumn<QByteArray>("product");
    QTest::addColumn<QByteArray>("idVendorAttribute");
    QTest::addColumn<bool>("ftdi");
    // An empty value stands for an absent one.
    QTest::newRow("arrival with every property") << QByteArray("0403") << QByteArray("403/6014/900")
                                                 << QByteArray("0403") << true;
    QTest::newRow("removal with only the kernel product") << QByteArray() << QByteArray("403/6014/900")
                                                          << QByteArray() << true;
    QTest::newRow("only the sysfs attribute") << QByteArray() << QByteArray() << QByteArray("0403") << true;
    QTest::newRow("another vendor") << QByteArray("046d") << QByteArray("46d/c52b/1211")
                                    << QByteArray("046d") << false;
    QTest::newRow("vendor whose id merely starts like FTDI's")
        << QByteArray("04031") << QByteArray("4031/1/1") << QByteArray() << false;
    QTest::newRow("product 403 of another vendor") << QByteArray() << QByteArray("1d6b/403/1")
                                                   << QByteArray() << false;
    QTest::newRow("nothing known") << QByteArray() << QByteArray() << QByteArray() << false;
}

void DeviceWatcherTest::ftdiDevicesAreRecognisedFromTheirEventProperties()
{
    QFETCH(QByteArray, idVendorProperty);
    QFETCH(QByteArray, product);
    QFETCH(QByteArray, idVendorAttribute);
    QFETCH(bool, ftdi);
    const auto orNull = [](const QByteArray &value) { return value.isEmpty() ? nullptr : value.constData(); };
    QCOMPARE(UdevMonitor::isFtdiDevice(orNull(idVendorProperty), orNull(product), orNull(idVendorAttribute)),
             ftdi);
}

void DeviceWatcherTest::actionsMapToArrivalAndRemoval_data()
{
    QTest::addColumn<QByteArray>("action");
    QTest::addColumn<int>("direction");
    QTest::newRow("add") << QByteArray("add") << 1;
    QTest::newRow("remove") << QByteArray("remove") << -1;
    QTest::newRow("bind is no arrival") << QByteArray("bind") << 0;
    QTest::newRow("change is ignored") << QByteArray("change") << 0;
    QTest::newRow("no action") << QByteArray() << 0;
}

void DeviceWatcherTest::actionsMapToArrivalAndRemoval()
{
    QFETCH(QByteArray, action);
    QFETCH(int, direction);
    QCOMPARE(UdevMonitor::direction(action.isEmpty() ? nullptr : action.constData()), direction);
}
#endif

QTEST_GUILESS_MAIN(DeviceWatcherTest)
#include "tst_device_watcher.moc"
