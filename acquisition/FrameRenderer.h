#pragma once

#include "acquisition/FrameTypes.h"

#include <QImage>

#include <cstdint>
#include <vector>

struct RenderSettings
{
    int displayMode = 0;              // 0 gray (QImage::Format_Grayscale8), 1 rgb, 2 heat (QImage::Format_RGB888)
    int currentRange = 0;             // nA
    bool calibrationEnabled = false;
    const std::vector<double> *fullOffReference = nullptr; // 16384 each; required when calibrationEnabled
    const std::vector<double> *fullOnReference = nullptr;
};

// Turns one frame into the 128 x 128 display image and its current matrix.
// Stateless; called on the acquisition thread.
class FrameRenderer
{
public:
    // Fills `currents` (resized to 16384, capacity kept) always and
    // `grayLevels` (16384 bytes: trunc(v), 0 for not-a-number) when non-null;
    // returns a new 128 x 128 image with pixel n at row n/128, column n%128.
    // With calibration enabled but a missing or short reference, the frame is
    // normalised by the current range instead.
    static QImage render(const RawFrame &raw, const RenderSettings &settings,
                         std::vector<double> &currents, std::vector<std::uint8_t> *grayLevels);

    // The pixel's place on its scale: between its own full-off and full-on
    // currents when calibrated (0 when they are equal), else on 0..range.
    static double normalise(double current, double off, double on, bool calibrated, int currentRange);

    // The display level v = clamp(m, 0, 1) x 255 of a normalised value, or NaN.
    static double level(double normalised);

    // Writes one pixel of the given mode: gray writes one byte, rgb and heat
    // write R, G, B. A NaN level is shown as gray 0, rgb (255, 0, 0), heat black.
    static void paint(int displayMode, double level, uchar *pixel);

    // The recorded gray level of a display level: trunc(v), 0 for NaN.
    static std::uint8_t grayLevel(double level);

    // The picture of a frame's currents with display levels: `low` shown as
    // level 0 and `high` as 255, in the given colour mode.
    static QImage renderWithLevels(const std::vector<double> &currents, int displayMode, double low, double high);
};
