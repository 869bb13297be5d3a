#pragma once

#include <QImage>
#include <QString>

#include <chrono>
#include <cstdint>
#include <vector>

// One frame of a save run as the acquisition loop hands it to the save-run
// writer. The loop builds it once per recorded frame and never touches it
// again, so the writer thread may read it without a lock.
struct RecordedFrame
{
    int index = 0;                                 // 1-based position in the run
    std::chrono::system_clock::time_point time;    // when the frame arrived
    QString timestamp;                             // the same moment as "yyyy/MM/dd HH:mm:ss.zzz", local time
    std::vector<double> currents;                  // 16384 currents in nA, row-major (x + 128 y)
    std::vector<std::uint8_t> gray;                // 16384 gray levels 0..255, as the CSV export writes them
    QImage picture;                                // the frame as rendered for saving (Grayscale8 or RGB888)
    bool calibrated = false;                       // gray and picture were rendered between the references
};
