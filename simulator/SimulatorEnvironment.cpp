#include "simulator/SimulatorEnvironment.h"

#include "simulator/ZK128Device.h"

#include <QByteArray>

#include <cstdlib>

namespace {

QString invalid(const char *name, const QString &value)
{
    return QStringLiteral("The simulator setting %1=\"%2\" is not understood and was ignored.")
        .arg(QLatin1String(name), value);
}

// A whole number within [low, high], or nothing.
bool parseInteger(const QString &text, qint64 low, qint64 high, qint64 *value)
{
    bool ok = false;
    const qint64 parsed = text.trimmed().toLongLong(&ok);
    if (!ok || parsed < low || parsed > high)
        return false;
    *value = parsed;
    return true;
}

bool parseNumber(const QString &text, double low, double high, double *value)
{
    bool ok = false;
    const double parsed = text.trimmed().toDouble(&ok);
    if (!ok || !(parsed >= low && parsed <= high))
        return false;
    *value = parsed;
    return true;
}

} // namespace

SimulatorEnvironment::Lookup SimulatorEnvironment::processEnvironment()
{
    return [](const char *name) { return QString::fromLocal8Bit(qgetenv(name)); };
}

std::shared_ptr<ZK128Device> SimulatorEnvironment::createDevice(const Lookup &lookup, QStringList *warnings)
{
    QStringList notes;
    const auto readSeed = [&](const char *name) -> std::optional<std::uint32_t> {
        const QString text = lookup(name);
        qint64 parsed = 0;
        if (text.isEmpty())
            return std::nullopt;
        if (parseInteger(text, 0, 0xFFFFFFFFLL, &parsed))
            return std::uint32_t(parsed);
        notes << invalid(name, text);
        return std::nullopt;
    };
    const std::uint32_t seed = readSeed("TESSIVO_SIM_SEED").value_or(128);
    auto device = std::make_shared<ZK128Device>(seed, readSeed("TESSIVO_SIM_NOISE_SEED"));
    notes << configure(*device, lookup);
    if (warnings)
        *warnings = notes;
    return device;
}

void SimulatorEnvironment::applyScene(ZK128Device &device, const QString &value, QStringList &warnings)
{
    const QString scene = value.trimmed().toLower();
    qint64 digit = 0;
    if (scene == QLatin1String("cycle")) {
        device.setScene(ZK128Device::Scene::CyclingDigits);
    } else if (scene == QLatin1String("uniform")) {
        device.setScene(ZK128Device::Scene::Uniform);
    } else if (scene.startsWith(QLatin1String("digit:")) && parseInteger(scene.mid(6), 0, 9, &digit)) {
        device.setFixedDigit(int(digit));
        device.setScene(ZK128Device::Scene::FixedDigit);
    } else {
        warnings << invalid("TESSIVO_SIM_SCENE", value);
    }
}

void SimulatorEnvironment::applyFault(ZK128Device &device, const QString &fault, QStringList &warnings)
{
    const QString name = fault.section(QLatin1Char(':'), 0, 0).trimmed().toLower();
    const QString argument = fault.section(QLatin1Char(':'), 1);
    const bool hasArgument = fault.contains(QLatin1Char(':'));
    qint64 n = 0;
    if (name == QLatin1String("no-handshake") && !hasArgument)
        device.setHandshakeAnswered(false);
    else if (name == QLatin1String("stop-answering") && !hasArgument)
        device.setAnswering(false);
    else if (name == QLatin1String("bad-checksum") && !hasArgument)
        device.setCorruptAcknowledgements(true);
    else if (name == QLatin1String("stray-bytes") && !hasArgument)
        device.setStrayBytesBeforeNextFrame({0xAE, 0xCC, 0x01, 0x7B, 0x0A});
    else if (name == QLatin1String("battery-bytes") && parseInteger(argument, 1, 7, &n))
        device.setBatteryAnswerLength(std::size_t(n));
    else if (name == QLatin1String("read-failures") && parseInteger(argument, 0, 1000000, &n))
        device.failNextReads(int(n));
    else if (name == QLatin1String("cut-frame") && parseInteger(argument, 1, qint64(ZK128Device::FrameBytes), &n))
        device.cutNextFrame(std::size_t(n));
    else
        warnings << QStringLiteral("The simulator fault \"%1\" in TESSIVO_SIM_FAULTS is not understood and was ignored.")
                        .arg(fault.trimmed());
}

QStringList SimulatorEnvironment::configure(ZK128Device &device, const Lookup &lookup)
{
    QStringList warnings;
    qint64 n = 0;
    double x = 0.0;

    if (const QString v = lookup("TESSIVO_SIM_SCENE"); !v.isEmpty())
        applyScene(device, v, warnings);
    if (const QString v = lookup("TESSIVO_SIM_DIGIT_PERIOD_MS"); !v.isEmpty()) {
        if (parseInteger(v, 1, 3600000, &n))
            device.setDigitPeriod(std::chrono::milliseconds(n));
        else
            warnings << invalid("TESSIVO_SIM_DIGIT_PERIOD_MS", v);
    }
    if (const QString v = lookup("TESSIVO_SIM_LAMP"); !v.isEmpty()) {
        const QString lamp = v.trimmed().toLower();
        if (lamp == QLatin1String("on") || lamp == QLatin1String("off"))
            device.setLampOn(lamp == QLatin1String("on"));
        else
            warnings << invalid("TESSIVO_SIM_LAMP", v);
    }
    if (const QString v = lookup("TESSIVO_SIM_SERIAL_DELAY_MS"); !v.isEmpty()) {
        if (parseInteger(v, 0, 3600000, &n))
            device.setSerialUnreadableFor(std::chrono::milliseconds(n));
        else
            warnings << invalid("TESSIVO_SIM_SERIAL_DELAY_MS", v);
    }
    if (const QString v = lookup("TESSIVO_SIM_BATTERY"); !v.isEmpty()) {
        if (parseInteger(v, 0, 65535, &n))
            device.setBatteryReading(std::uint16_t(n));
        else
            warnings << invalid("TESSIVO_SIM_BATTERY", v);
    }
    if (const QString v = lookup("TESSIVO_SIM_NOISE_NA"); !v.isEmpty()) {
        if (parseNumber(v, 0.0, 1e6, &x))
            device.setNoiseNa(x);
        else
            warnings << invalid("TESSIVO_SIM_NOISE_NA", v);
    }
    if (const QString v = lookup("TESSIVO_SIM_USB_RATE"); !v.isEmpty()) {
        if (parseNumber(v, 1e3, 1e12, &x))
            device.setUsbBytesPerSecond(x);
        else
            warnings << invalid("TESSIVO_SIM_USB_RATE", v);
    }
    if (const QString v = lookup("TESSIVO_SIM_INTEGRATION_COUNT"); !v.isEmpty()) {
        // 24 bits, as the parameter command carries it.
        if (parseInteger(v, 0, 0xFFFFFF, &n))
            device.setIntegrationCountOverride(std::uint32_t(n));
        else
            warnings << invalid("TESSIVO_SIM_INTEGRATION_COUNT", v);
    }
    if (const QString v = lookup("TESSIVO_SIM_FAULTS"); !v.isEmpty()) {
        for (const QString &fault : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
            applyFault(device, fault, warnings);
    }
    return warnings;
}
