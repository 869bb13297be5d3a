#pragma once

#include "device/D2xxBackend.h"

#include <QString>

#include <memory>

class ZK128Device;

// Chooses the D2XX backend at start-up from TESSIVO_DEVICE (trimmed, any case):
//   auto (default, also when empty)  the vendor library when it loads, else the
//                                    built-in simulator;
//   simulator                        the built-in ZK128 simulator;
//   d2xx                             the vendor library, or no backend and an error.
// Any other value is named as unknown in the log message and handled as auto,
// so a typing mistake still starts a working console. The vendor library is
// libftd2xx.so (FTD2XX.dll on Windows), or exactly the file in
// TESSIVO_D2XX_LIBRARY.
namespace BackendSelector {

struct Choice {
    std::shared_ptr<D2xxBackend> backend;   // null only when the choice failed
    std::shared_ptr<ZK128Device> simulator; // the simulated device when the backend is the simulator
    QString logMessage;                     // for the log, success or failure
};

// deviceSetting and libraryPath as the two variables would hold them (empty = unset).
Choice choose(const QString &deviceSetting, const QString &libraryPath);
Choice chooseFromEnvironment();

} // namespace BackendSelector
