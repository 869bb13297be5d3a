#pragma once

#include "acquisition/DisplayLevels.h"
#include "acquisition/DisplayScale.h"
#include "acquisition/FrameConsumer.h"

#include <QImage>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

class ReferenceCalibration;

// How frames become pictures: the colour mode, calibration against the
// references, and the display levels of the live picture. It keeps only the
// newest frame; the live picture is rendered when the window asks for it (at
// the screen's pace, not the device's), and a saved picture when the save-run
// feeder or the recognition template asks for one.
//
// Thread contract: consume runs on the capture thread; the settings are
// written by the GUI thread. m_mutex guards the settings, the newest frame
// and the scale of the last live picture; rendering itself happens outside
// the lock, on the asking thread.
class FrameRendering : public FrameConsumer
{
public:
    // The live picture of one frame.
    struct Picture
    {
        QImage image;
        std::uint64_t index = 0; // the frame's number
        std::chrono::steady_clock::time_point arrived;
        DisplayScale scale;      // what its colours stand for
    };

    explicit FrameRendering(const ReferenceCalibration &references);

    void consume(const FramePtr &frame) override;

    // 0 gray, 1 rgb, 2 heat.
    void setDisplayMode(int mode);
    int displayMode() const;
    void setCalibrationEnabled(bool enabled);
    bool calibrationEnabled() const;
    // The live picture's levels (saved data never depends on them).
    void setDisplayLevels(const DisplayLevels &levels);

    // The newest frame's live picture when that frame is newer than `after`.
    bool newestPicture(std::uint64_t after, Picture &picture);
    // The newest frame (null before the first).
    FramePtr newestFrame() const;
    // What the colours of the last live picture rendered stand for.
    DisplayScale shownScale() const;
    // The frame as it is saved: rendered on its range (or between the
    // references) in the present mode, without display levels. `gray` (when
    // non-null) receives the 16384 recorded gray levels; `calibrated` (when
    // non-null) whether it was rendered between the references.
    QImage renderSaved(const Frame &frame, std::vector<std::uint8_t> *gray, bool *calibrated = nullptr) const;

private:
    struct Settings
    {
        int mode = 0;
        bool calibrated = false;
        DisplayLevels levels;
    };
    Settings settings() const;

    const ReferenceCalibration &m_references;
    mutable std::mutex m_mutex;
    Settings m_settings;
    FramePtr m_newest;
    DisplayScale m_shownScale; // written by the thread rendering the live picture
};
