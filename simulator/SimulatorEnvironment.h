#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class ZK128Device;

// Builds a simulated ZK128 from the TESSIVO_SIM_* settings (the list with one
// line each is in simulator/README.md). The settings come through a lookup
// function, so tests can hand in a map instead of changing the process
// environment. A value that cannot be understood keeps the default and
// yields one warning sentence naming the variable.
class SimulatorEnvironment
{
public:
    using Lookup = std::function<QString(const char *name)>; // empty = unset

    static Lookup processEnvironment();
    static std::shared_ptr<ZK128Device> createDevice(const Lookup &lookup, QStringList *warnings);
    // Everything except the seed, which only a new device can take.
    static QStringList configure(ZK128Device &device, const Lookup &lookup);

private:
    static void applyScene(ZK128Device &device, const QString &value, QStringList &warnings);
    static void applyFault(ZK128Device &device, const QString &fault, QStringList &warnings);
};
