// The drop-in libftd2xx-sim.so: loaded at run time like the vendor library,
// its thirteen D2XX functions talk to a simulator set up from the environment.

#include "device/D2xxTypes.h"

#include <QLibrary>
#include <QtTest>

#include <cstring>

namespace {
using CreateList = FT_STATUS (*)(DWORD *);
using GetList = FT_STATUS (*)(FT_DEVICE_LIST_INFO_NODE *, DWORD *);
using OpenEx = FT_STATUS (*)(void *, DWORD, FT_HANDLE *);
using HandleOnly = FT_STATUS (*)(FT_HANDLE);
using Purge = FT_STATUS (*)(FT_HANDLE, ULONG);
using SetBitMode = FT_STATUS (*)(FT_HANDLE, UCHAR, UCHAR);
using TwoUlongs = FT_STATUS (*)(FT_HANDLE, ULONG, ULONG);
using SetFlowControl = FT_STATUS (*)(FT_HANDLE, USHORT, UCHAR, UCHAR);
using Transfer = FT_STATUS (*)(FT_HANDLE, void *, DWORD, DWORD *);
using GetStatus = FT_STATUS (*)(FT_HANDLE, DWORD *, DWORD *, DWORD *);
} // namespace

class TestFtd2xxExports : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void allThirteenFunctionsResolve();
    void sessionThroughTheLibrary();

private:
    template <typename F>
    F resolve(const char *name) { return reinterpret_cast<F>(m_library.resolve(name)); }
    QLibrary m_library;
};

void TestFtd2xxExports::initTestCase()
{
    // Read once, on the library's first call.
    qputenv("TESSIVO_SIM_BATTERY", "3000");
    qputenv("TESSIVO_SIM_SCENE", "uniform");
    m_library.setFileName(QStringLiteral(TESSIVO_SIM_LIBRARY_PATH));
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
}

void TestFtd2xxExports::allThirteenFunctionsResolve()
{
    for (const char *name : {"FT_CreateDeviceInfoList", "FT_GetDeviceInfoList", "FT_OpenEx", "FT_ResetDevice",
                             "FT_Purge", "FT_SetBitMode", "FT_SetUSBParameters", "FT_SetFlowControl",
                             "FT_SetTimeouts", "FT_Write", "FT_GetStatus", "FT_Read", "FT_Close"})
        QVERIFY2(m_library.resolve(name), name);
}

void TestFtd2xxExports::sessionThroughTheLibrary()
{
    DWORD count = 0;
    QCOMPARE(resolve<CreateList>("FT_CreateDeviceInfoList")(&count), FT_OK);
    QCOMPARE(count, DWORD(1));
    FT_DEVICE_LIST_INFO_NODE node;
    QCOMPARE(resolve<GetList>("FT_GetDeviceInfoList")(&node, &count), FT_OK);
    QCOMPARE(QByteArray(node.SerialNumber), QByteArray("ZK128"));

    char serial[] = "ZK128";
    FT_HANDLE handle = nullptr;
    QCOMPARE(resolve<OpenEx>("FT_OpenEx")(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    FT_HANDLE again = nullptr;
    QVERIFY(resolve<OpenEx>("FT_OpenEx")(serial, FT_OPEN_BY_SERIAL_NUMBER, &again) != FT_OK);
    QCOMPARE(resolve<HandleOnly>("FT_ResetDevice")(handle), FT_OK);
    QCOMPARE(resolve<Purge>("FT_Purge")(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    QCOMPARE(resolve<SetBitMode>("FT_SetBitMode")(handle, 0, FT_BITMODE_SYNC_FIFO), FT_OK);
    QCOMPARE(resolve<TwoUlongs>("FT_SetUSBParameters")(handle, 65536, 65536), FT_OK);
    QCOMPARE(resolve<SetFlowControl>("FT_SetFlowControl")(handle, FT_FLOW_RTS_CTS, 0, 0), FT_OK);
    QCOMPARE(resolve<TwoUlongs>("FT_SetTimeouts")(handle, 500, 1000), FT_OK);

    // The battery query answers with the reading from TESSIVO_SIM_BATTERY (3000 = 0x0BB8).
    unsigned char query[] = {0xAE, 0xAA, 0x04, 0x5C, 0x0A};
    DWORD written = 0;
    QCOMPARE(resolve<Transfer>("FT_Write")(handle, query, 5, &written), FT_OK);
    QCOMPARE(written, DWORD(5));
    unsigned char answer[16] = {};
    DWORD got = 0;
    QCOMPARE(resolve<Transfer>("FT_Read")(handle, answer, 7, &got), FT_OK);
    QCOMPARE(got, DWORD(7));
    const unsigned char expected[] = {0xAE, 0xCC, 0x04, 0x0B, 0xB8, 0x41, 0x0A};
    QCOMPARE(std::memcmp(answer, expected, 7), 0);
    DWORD rx = 1, tx = 1, ev = 1;
    QCOMPARE(resolve<GetStatus>("FT_GetStatus")(handle, &rx, &tx, &ev), FT_OK);
    QCOMPARE(rx, DWORD(0));

    QCOMPARE(resolve<HandleOnly>("FT_Close")(handle), FT_OK);
    QVERIFY(resolve<HandleOnly>("FT_Close")(handle) != FT_OK);
    QVERIFY(resolve<HandleOnly>("FT_ResetDevice")(nullptr) != FT_OK);
}

QTEST_GUILESS_MAIN(TestFtd2xxExports)
#include "tst_ftd2xxexports.moc"
