#pragma once

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// What the instrument was doing while a run was recorded; the HDF5 file
// carries it as root attributes.
struct RunMetadata
{
    double vbias1Volts = 0.0; // the voltages the device acknowledged
    double vbias2Volts = 0.0;
    double vonVolts = 0.0;
    double voffVolts = 0.0;
    double currentRangeNa = 0.0;
    std::uint32_t integrationCount = 0;
    QString deviceSerial;      // "ZK128"
    QString backend;           // "simulator" or "d2xx"
    QString consoleVersion;    // the console's version, e.g. "0.1.0"
    std::chrono::system_clock::time_point startTime; // when the run was armed
};

// One save run: where it goes and which kinds it writes.
struct SaveRunPlan
{
    QString folder;            // the run folder, absolute; it exists when the run begins
    QString name;              // the folder's name: prefix of every file of the run
    int frames = 1;            // frames requested, 1..1000
    bool data = false;         // the four CSV files
    bool pictures = false;     // pic/<name>_<k>.png
    bool video = false;        // <name>_output_video.mp4
    bool hdf5 = false;         // <name>.h5
    int videoFps = 18;
    RunMetadata metadata;
    // A file already in the folder when the run begins (the parameter file),
    // put on the disk with the run's own files when it ends; empty for none.
    QString syncedBeside;
};

// The calibration references as they are when a run ends. A reference the
// operator never took holds the worker's defaults and has no time.
struct RunReferences
{
    std::vector<double> fullOff; // 16384 values, nA
    std::vector<double> fullOn;  // 16384 values, nA
    std::optional<std::chrono::system_clock::time_point> fullOffTaken;
    std::optional<std::chrono::system_clock::time_point> fullOnTaken;
};
