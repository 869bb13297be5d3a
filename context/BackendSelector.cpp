#include "context/BackendSelector.h"

#include "device/VendorLibraryBackend.h"
#include "simulator/SimulatorBackend.h"

#include <QStringList>

namespace {

// The simulator's own complaints about its TESSIVO_SIM_* settings travel in
// the same log message, so none of them goes unseen.
BackendSelector::Choice simulator(const QString &message)
{
    std::shared_ptr<SimulatorBackend> backend = SimulatorBackend::fromEnvironment();
    QStringList parts{message};
    parts += backend->environmentWarnings();
    std::shared_ptr<ZK128Device> device = backend->device();
    return {std::move(backend), std::move(device), parts.join(QLatin1Char(' '))};
}

BackendSelector::Choice automatic(const QString &libraryPath)
{
    QString reason;
    bool libraryLoaded = false;
    if (auto vendor = VendorLibraryBackend::load(libraryPath, &reason, &libraryLoaded)) {
        const QString message = QStringLiteral("Using the D2XX library %1.").arg(vendor->libraryPath());
        return {std::move(vendor), nullptr, message};
    }
    if (!libraryLoaded)
        return simulator(QStringLiteral("D2XX library not found; using the built-in ZK128 simulator."));
    return simulator(QStringLiteral("D2XX library could not be used (%1); using the built-in ZK128 simulator.")
                         .arg(reason));
}

} // namespace

namespace BackendSelector {

Choice choose(const QString &deviceSetting, const QString &libraryPath)
{
    const QString setting = deviceSetting.trimmed().toLower();
    if (setting.isEmpty() || setting == QLatin1String("auto"))
        return automatic(libraryPath);
    if (setting == QLatin1String("simulator"))
        return simulator(QStringLiteral("Using the built-in ZK128 simulator."));
    if (setting == QLatin1String("d2xx")) {
        QString reason;
        if (auto vendor = VendorLibraryBackend::load(libraryPath, &reason)) {
            const QString message = QStringLiteral("Using the D2XX library %1.").arg(vendor->libraryPath());
            return {std::move(vendor), nullptr, message};
        }
        return {nullptr, nullptr,
                QStringLiteral("TESSIVO_DEVICE=d2xx but the D2XX library could not be loaded: %1.").arg(reason)};
    }
    Choice choice = automatic(libraryPath);
    choice.logMessage = QStringLiteral("TESSIVO_DEVICE=%1 is not auto, simulator or d2xx, so it is taken as auto. %2")
                            .arg(deviceSetting.trimmed(), choice.logMessage);
    return choice;
}

Choice chooseFromEnvironment()
{
    return choose(qEnvironmentVariable("TESSIVO_DEVICE"), qEnvironmentVariable("TESSIVO_D2XX_LIBRARY"));
}

} // namespace BackendSelector
