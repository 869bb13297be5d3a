#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The machine-readable account of one run of tessivo128-capture (--summary):
// what was asked, what the device ran with and how the run ended. The file
// is one JSON object with exactly these fields.
struct RunSummary
{
    QString runFolder;                  // empty: no run folder was made (null in the file)
    int framesRequested = 0;
    int framesSaved = 0;
    int exitCode = 0;
    double framesPerSecond = 0.0;       // frames gathered per second of capture
    std::optional<double> currentRangeNa; // empty until the device acknowledged the parameters
    double integrationMs = 0.0;
    double vbias1Volts = 0.0;
    double vbias2Volts = 0.0;
    double vonVolts = 0.0;
    double voffVolts = 0.0;
    std::optional<double> batteryVolts; // empty: unknown
    QString serial;
    QString backend;                    // "simulator" or "d2xx"
    bool calibrated = false;            // the run was calibrated with --references

    // "success", "partial", "interrupted", "device_failure", "save_failure"
    // or "bad_arguments", from the exit code and the frames saved.
    QString outcome() const;
    QJsonObject toJson() const;
    // Writes the file whole or not at all; false with the reason in *error.
    bool write(const QString &path, QString *error) const;
};
