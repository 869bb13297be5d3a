#include "device/DeviceProtocol.h"

#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QByteArray bytes(const DeviceProtocol::Frame &frame)
{
    return QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size()));
}

QByteArray bytes(const DeviceProtocol::Acknowledgement &reply)
{
    return QByteArray(reinterpret_cast<const char *>(reply.data()), int(reply.size()));
}

QByteArray hex(const char *spaced)
{
    return QByteArray::fromHex(QByteArray(spaced).replace(' ', ""));
}

} // namespace

Q_DECLARE_METATYPE(DeviceProtocol::Code)

class DeviceProtocolTest : public QObject
{
    Q_OBJECT

private slots:
    void checksumIsTheLowByteOfTheSum_data();
    void checksumIsTheLowByteOfTheSum();
    void fixedCommandsAreFiveBytes_data();
    void fixedCommandsAreFiveBytes();
    void acknowledgementsCarryTheDeviceMarker_data();
    void acknowledgementsCarryTheDeviceMarker();
    void voltageFieldHoldsTheRoundedDacCode_data();
    void voltageFieldHoldsTheRoundedDacCode();
    void rangeByteIsTheLowByteOfWholeNanoamperes_data();
    void rangeByteIsTheLowByteOfWholeNanoamperes();
    void parameterCommandIsEighteenBytes_data();
    void parameterCommandIsEighteenBytes();
    void batteryReadingTakesBytesThreeAndFour_data();
    void batteryReadingTakesBytesThreeAndFour();
    void batteryGaugeWidth_data();
    void batteryGaugeWidth();
};

void DeviceProtocolTest::checksumIsTheLowByteOfTheSum_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("expected");
    QTest::newRow("handshake header wraps past 0xFF") << hex("AE AA 00") << 0x58;
    QTest::newRow("nothing sums to zero") << QByteArray() << 0x00;
    QTest::newRow("three 0xFF wrap to 0xFD") << hex("FF FF FF") << 0xFD;
    QTest::newRow("parameter example") << hex("AE AA 01 80 00 80 00 80 00 80 00 03 20 00 1C 0C")
                                       << 0xA4;
    QTest::newRow("sum of exactly 0x200 gives zero") << hex("80 80 80 80") << 0x00;
}

void DeviceProtocolTest::checksumIsTheLowByteOfTheSum()
{
    QFETCH(QByteArray, input);
    QFETCH(int, expected);
    QCOMPARE(int(DeviceProtocol::checksum(reinterpret_cast<const std::uint8_t *>(input.constData()),
                                          std::size_t(input.size()))),
             expected);
}

void DeviceProtocolTest::fixedCommandsAreFiveBytes_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("handshake") << bytes(DeviceProtocol::handshake()) << hex("AE AA 00 58 0A");
    QTest::newRow("start") << bytes(DeviceProtocol::start()) << hex("AE AA 02 5A 0A");
    QTest::newRow("stop") << bytes(DeviceProtocol::stop()) << hex("AE AA 03 5B 0A");
    QTest::newRow("battery query") << bytes(DeviceProtocol::batteryQuery()) << hex("AE AA 04 5C 0A");
    QTest::newRow("frame request") << bytes(DeviceProtocol::frameRequest()) << hex("AE AA 05 5D 0A");
}

void DeviceProtocolTest::fixedCommandsAreFiveBytes()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
}

void DeviceProtocolTest::acknowledgementsCarryTheDeviceMarker_data()
{
    QTest::addColumn<DeviceProtocol::Code>("code");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("handshake") << DeviceProtocol::Code::Handshake << hex("AE CC 00 7A 0A");
    QTest::newRow("parameter command") << DeviceProtocol::Code::Parameters << hex("AE CC 01 7B 0A");
}

void DeviceProtocolTest::acknowledgementsCarryTheDeviceMarker()
{
    QFETCH(DeviceProtocol::Code, code);
    QFETCH(QByteArray, expected);
    QCOMPARE(bytes(DeviceProtocol::acknowledgement(code)).toHex(' '), expected.toHex(' '));
}

void DeviceProtocolTest::voltageFieldHoldsTheRoundedDacCode_data()
{
    QTest::addColumn<double>("volts");
    QTest::addColumn<int>("field");
    // 5/1024 V is half a DAC step: odd multiples of it land exactly on .5 codes.
    const double halfStep = 0.0048828125;
    QTest::newRow("0 V") << 0.0 << 0x8000;
    QTest::newRow("15 V") << 15.0 << 0xE000;
    QTest::newRow("-15 V") << -15.0 << 0x2000;
    QTest::newRow("5 V") << 5.0 << 0xA000;
    QTest::newRow("-5 V") << -5.0 << 0x6000;
    QTest::newRow("1.2 V rounds 2170.88 to 2171") << 1.2 << (2171 << 4);
    QTest::newRow("code 2048.5 rounds up to 2049") << halfStep << (2049 << 4);
    QTest::newRow("code 2047.5 rounds up to 2048") << -halfStep << (2048 << 4);
    QTest::newRow("code 2049.5 rounds up to 2050") << 3 * halfStep << (2050 << 4);
    QTest::newRow("code 3583.5 rounds up to 3584") << 15.0 - halfStep << 0xE000;
    QTest::newRow("code 0.5 rounds up to 1") << -20.0 + halfStep << 0x0010;
    QTest::newRow("code 4095.5 is held at 4095, not wrapped to 0") << 20.0 - halfStep << 0xFFF0;
    QTest::newRow("25 V is held at the top code") << 25.0 << 0xFFF0;
    QTest::newRow("-25 V is held at code 0") << -25.0 << 0x0000;
    QTest::newRow("infinity is held at the top code")
        << std::numeric_limits<double>::infinity() << 0xFFF0;
    QTest::newRow("not a number sends 0 V") << std::nan("") << 0x8000;
}

void DeviceProtocolTest::voltageFieldHoldsTheRoundedDacCode()
{
    QFETCH(double, volts);
    QFETCH(int, field);
    QCOMPARE(int(DeviceProtocol::voltageField(volts)), field);
    QCOMPARE(field & 0x000F, 0); // the lower 4 bits stay clear
}

void DeviceProtocolTest::rangeByteIsTheLowByteOfWholeNanoamperes_data()
{
    QTest::addColumn<double>("range");
    QTest::addColumn<int>("expected");
    QTest::newRow("800 nA") << 800.0 << 0x20;
    QTest::newRow("100 nA") << 100.0 << 0x64;
    QTest::newRow("10 nA") << 10.0 << 0x0A;
    QTest::newRow("1 nA") << 1.0 << 0x01;
    QTest::newRow("200 nA") << 200.0 << 0xC8;
    QTest::newRow("fraction is cut, not rounded") << 255.9 << 0xFF;
    QTest::newRow("256 nA wraps to 0") << 256.0 << 0x00;
    QTest::newRow("799.99 nA gives 799's low byte") << 799.99 << 0x1F;
    QTest::newRow("not a number gives 0") << std::nan("") << 0x00;
}

void DeviceProtocolTest::rangeByteIsTheLowByteOfWholeNanoamperes()
{
    QFETCH(double, range);
    QFETCH(int, expected);
    QCOMPARE(int(DeviceProtocol::rangeByte(range)), expected);
}

void DeviceProtocolTest::parameterCommandIsEighteenBytes_data()
{
    QTest::addColumn<double>("von");
    QTest::addColumn<double>("voff");
    QTest::addColumn<double>("vbias1");
    QTest::addColumn<double>("vbias2");
    QTest::addColumn<int>("candidate");
    QTest::addColumn<double>("range");
    QTest::addColumn<uint>("count");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("all zero volts, candidate 3, 800 nA, count 7180")
        << 0.0 << 0.0 << 0.0 << 0.0 << 3 << 800.0 << 7180u
        << hex("AE AA 01 80 00 80 00 80 00 80 00 03 20 00 1C 0C A4 0A");
    QTest::newRow("fields in the order Von, Voff, Vbias1, Vbias2")
        << 5.0 << -5.0 << 15.0 << -15.0 << 1 << 100.0 << 0x123456u
        << hex("AE AA 01 A0 00 60 00 E0 00 20 00 01 64 12 34 56 5A 0A");
    QTest::newRow("count beyond 24 bits is held at the largest")
        << 0.0 << 0.0 << 0.0 << 0.0 << 0 << 1.0 << 0x1000000u
        << hex("AE AA 01 80 00 80 00 80 00 80 00 00 01 FF FF FF 57 0A");
    QTest::newRow("candidate index beyond 3 is held at 3")
        << 0.0 << 0.0 << 0.0 << 0.0 << 7 << 800.0 << 7180u
        << hex("AE AA 01 80 00 80 00 80 00 80 00 03 20 00 1C 0C A4 0A");
}

void DeviceProtocolTest::parameterCommandIsEighteenBytes()
{
    QFETCH(double, von);
    QFETCH(double, voff);
    QFETCH(double, vbias1);
    QFETCH(double, vbias2);
    QFETCH(int, candidate);
    QFETCH(double, range);
    QFETCH(uint, count);
    QFETCH(QByteArray, expected);

    DeviceProtocol::Parameters parameters;
    parameters.vonVolts = von;
    parameters.voffVolts = voff;
    parameters.vbias1Volts = vbias1;
    parameters.vbias2Volts = vbias2;
    parameters.candidateIndex = candidate;
    parameters.currentRangeNa = range;
    parameters.integrationCount = count;
    const QByteArray frame = bytes(DeviceProtocol::parameterCommand(parameters));
    QCOMPARE(frame.size(), 18);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
}

void DeviceProtocolTest::batteryReadingTakesBytesThreeAndFour_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("reading"); // -1: no reading
    // The device's answer AE CC 04 0A 10 98 0A, whole, cut after some bytes,
    // garbled, or behind another answer that was still queued. A cut answer
    // must never read as a (lower) voltage.
    QTest::newRow("complete") << QByteArray::fromHex("aecc040a10980a") << 0x0A10;
    QTest::newRow("1 byte") << QByteArray::fromHex("ae") << -1;
    QTest::newRow("4 bytes") << QByteArray::fromHex("aecc040a") << -1;
    QTest::newRow("6 bytes: no terminator") << QByteArray::fromHex("aecc040a1098") << -1;
    QTest::newRow("wrong checksum") << QByteArray::fromHex("aecc040a10990a") << -1;
    QTest::newRow("a stale stop answer is no reading") << QByteArray::fromHex("aecc037d0a") << -1;
    QTest::newRow("a stale stop answer before the battery answer")
        << QByteArray::fromHex("aecc037d0aaecc040a10980a") << 0x0A10;
    QTest::newRow("stray bytes") << QByteArray::fromHex("0a10ffff") << -1;
}

void DeviceProtocolTest::batteryReadingTakesBytesThreeAndFour()
{
    QFETCH(QByteArray, received);
    QFETCH(int, reading);
    const std::optional<std::uint16_t> read = DeviceProtocol::batteryReading(
        reinterpret_cast<const std::uint8_t *>(received.constData()), std::size_t(received.size()));
    QCOMPARE(read ? int(*read) : -1, reading);
}

void DeviceProtocolTest::batteryGaugeWidth_data()
{
    QTest::addColumn<int>("reading");
    QTest::addColumn<int>("width");
    QTest::newRow("no charge") << 0 << 0;
    QTest::newRow("2048 is 1.65 V, empty") << 2048 << 0;
    QTest::newRow("2111 still rounds down to 1") << 2111 << 1;
    QTest::newRow("2200") << 2200 << 4;
    QTest::newRow("2312 just past half") << 2312 << 8;
    QTest::newRow("2400") << 2400 << 10;
    QTest::newRow("2575 one short of full") << 2575 << 15;
    QTest::newRow("2576 is full") << 2576 << 16;
    QTest::newRow("4095 is held at full") << 4095 << 16;
    QTest::newRow("65535 is held at full") << 65535 << 16;
}

void DeviceProtocolTest::batteryGaugeWidth()
{
    QFETCH(int, reading);
    QFETCH(int, width);
    QCOMPARE(DeviceProtocol::batteryGaugeWidth(std::uint16_t(reading)), width);
}

QTEST_GUILESS_MAIN(DeviceProtocolTest)
#include "tst_device_protocol.moc"
