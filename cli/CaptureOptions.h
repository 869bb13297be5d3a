#pragma once

#include "operation/BiasVoltages.h"
#include "operation/ParameterSet.h"
#include "operation/SaveRequest.h"

#include <QString>
#include <QStringList>

#include <optional>

// What tessivo128-capture was asked to do, parsed from its arguments and
// checked as the window checks its fields: the range a whole number from 1 to
// 800 nA, the voltages -15 to 15 V, 1 to 1000 frames, a run name the save
// page would take. A refusal is one sentence that names the argument.
struct CaptureOptions
{
    enum class Action { Capture, List, Help, Version };

    Action action = Action::Capture;
    QString device;  // auto, simulator or d2xx; empty: TESSIVO_DEVICE decides
    QString serial;  // empty: the first ZK128
    int rangeNa = ParameterSet::kMaxRangeNa;
    BiasVoltages voltages;
    SaveRequest save; // folder, name, frames and kinds (data when none is named)
    bool quiet = false;
    QString summaryPath;    // --summary: where the run's JSON summary goes; empty: none
    QString referencesPath; // --references: the reference file the run is calibrated with; empty: none

    // arguments as QCoreApplication::arguments() gives them (the program first).
    static std::optional<CaptureOptions> parse(const QStringList &arguments, QString *refusal);
    static QString helpText();
    // "tessivo128-capture 0.1.0"
    static QString versionText();
};
