#include "acquisition/FrameRenderer.h"

#include "acquisition/DisplayLevels.h"

#include "acquisition/PixelDecoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

double FrameRenderer::normalise(double current, double off, double on, bool calibrated, int currentRange)
{
    if (calibrated) {
        const double d = on - off;
        if (d == 0.0)
            return 0.0;
        return (current - off) / d;
    }
    return current / double(currentRange); // range 0 gives 0/0: not a number
}

double FrameRenderer::level(double normalised)
{
    // Written with comparisons so that a NaN passes through unchanged.
    double clamped = normalised < 0.0 ? 0.0 : normalised;
    clamped = clamped > 1.0 ? 1.0 : clamped;
    return clamped * 255.0;
}

std::uint8_t FrameRenderer::grayLevel(double level)
{
    return std::isnan(level) ? 0 : std::uint8_t(level);
}

void FrameRenderer::paint(int displayMode, double v, uchar *pixel)
{
    const bool nan = std::isnan(v);
    switch (displayMode) {
    case 0:
        pixel[0] = nan ? 0 : uchar(v);
        return;
    case 1:
        if (nan) {
            pixel[0] = 255;
            pixel[1] = 0;
        } else if (v <= 127.0) {
            pixel[0] = uchar(2.0 * v);
            pixel[1] = 255;
        } else {
            pixel[0] = 255;
            pixel[1] = uchar(std::min(255.0, std::trunc(255.0 - 2.0 * (v - 128.0))));
        }
        pixel[2] = 0;
        return;
    default: // heat
        pixel[0] = nan ? 0 : uchar(v);
        pixel[1] = 0;
        pixel[2] = 0;
        return;
    }
}

namespace {

// A row of levels without NaN (the usual case): the same colours as paint,
// without its per-pixel checks.
template <int Mode>
void paintRow(const double *levels, uchar *line)
{
    for (int column = 0; column < Zk128::Side; ++column) {
        const double v = levels[column];
        if (Mode == 0) {
            line[column] = uchar(int(v));
        } else if (Mode == 1) {
            const bool low = v <= 127.0;
            const int fall = int(255.0 - 2.0 * (v - 128.0)); // above 127 this is positive, so int() truncates
            line[3 * column] = low ? uchar(int(2.0 * v)) : uchar(255);
            line[3 * column + 1] = low ? uchar(255) : uchar(fall > 255 ? 255 : fall);
            line[3 * column + 2] = 0;
        } else {
            line[3 * column] = uchar(int(v));
            line[3 * column + 1] = 0;
            line[3 * column + 2] = 0;
        }
    }
}

// The frame row by row: currents first (a plain loop the compiler vectorises),
// then the levels, then the pixels of one display mode; the mode is a template
// argument so the per-pixel switch folds away.
template <int Mode>
void renderPixels(const unsigned char *pixels, const RenderSettings &s, bool calibrated, double *currents,
                  std::uint8_t *gray, QImage &image)
{
    constexpr int bytesPerPixel = Mode == 0 ? 1 : 3;
    const double range = double(s.currentRange);
    const double *off = calibrated ? s.fullOffReference->data() : nullptr;
    const double *on = calibrated ? s.fullOnReference->data() : nullptr;
    double levels[Zk128::Side];
    for (int row = 0; row < Zk128::Side; ++row) {
        const int first = row * Zk128::Side;
        const unsigned char *p = pixels + 3 * first;
        double *current = currents + first;
        for (int column = 0; column < Zk128::Side; ++column) {
            const std::uint32_t raw = (std::uint32_t(p[3 * column]) << 16) | (std::uint32_t(p[3 * column + 1]) << 8)
                                      | std::uint32_t(p[3 * column + 2]);
            current[column] = double(raw) * range * 0.000001; // as PixelDecoder::current
        }
        if (calibrated) {
            for (int column = 0; column < Zk128::Side; ++column)
                levels[column] = FrameRenderer::level(
                    FrameRenderer::normalise(current[column], off[first + column], on[first + column], true, 0));
        } else {
            for (int column = 0; column < Zk128::Side; ++column)
                levels[column] = FrameRenderer::level(current[column] / range);
        }
        bool anyNan = false;
        for (int column = 0; column < Zk128::Side; ++column)
            anyNan |= std::isnan(levels[column]);
        uchar *line = image.scanLine(row);
        if (anyNan) {
            for (int column = 0; column < Zk128::Side; ++column)
                FrameRenderer::paint(Mode, levels[column], line + column * bytesPerPixel);
            if (gray)
                for (int column = 0; column < Zk128::Side; ++column)
                    gray[first + column] = FrameRenderer::grayLevel(levels[column]);
        } else {
            paintRow<Mode>(levels, line);
            if (gray)
                for (int column = 0; column < Zk128::Side; ++column)
                    gray[first + column] = std::uint8_t(int(levels[column]));
        }
    }
}

bool hasReference(const std::vector<double> *reference)
{
    return reference && reference->size() >= std::size_t(Zk128::PixelCount);
}

} // namespace

QImage FrameRenderer::render(const RawFrame &raw, const RenderSettings &settings, std::vector<double> &currents,
                             std::vector<std::uint8_t> *grayLevels)
{
    const int mode = settings.displayMode == 1 || settings.displayMode == 2 ? settings.displayMode : 0;
    QImage image(Zk128::Side, Zk128::Side, mode == 0 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    currents.resize(Zk128::PixelCount);
    if (grayLevels)
        grayLevels->resize(Zk128::PixelCount);
    std::uint8_t *gray = grayLevels ? grayLevels->data() : nullptr;

    if (raw.size() < std::size_t(Zk128::PixelBytes)) {
        // Not a frame: show black rather than read past the buffer.
        std::fill(currents.begin(), currents.end(), 0.0);
        if (gray)
            std::fill(grayLevels->begin(), grayLevels->end(), 0);
        image.fill(Qt::black);
        return image;
    }

    const bool calibrated = settings.calibrationEnabled && hasReference(settings.fullOffReference)
                            && hasReference(settings.fullOnReference);
    switch (mode) {
    case 1:
        renderPixels<1>(raw.data(), settings, calibrated, currents.data(), gray, image);
        break;
    case 2:
        renderPixels<2>(raw.data(), settings, calibrated, currents.data(), gray, image);
        break;
    default:
        renderPixels<0>(raw.data(), settings, calibrated, currents.data(), gray, image);
        break;
    }
    return image;
}

QImage FrameRenderer::renderWithLevels(const std::vector<double> &currents, int displayMode, double low, double high)
{
    const int mode = displayMode == 1 || displayMode == 2 ? displayMode : 0;
    const int bytesPerPixel = mode == 0 ? 1 : 3;
    QImage image(Zk128::Side, Zk128::Side, mode == 0 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (currents.size() < std::size_t(Zk128::PixelCount)) {
        image.fill(Qt::black);
        return image;
    }
    for (int row = 0; row < Zk128::Side; ++row) {
        uchar *line = image.scanLine(row);
        const double *current = currents.data() + row * Zk128::Side;
        for (int column = 0; column < Zk128::Side; ++column)
            paint(mode, LevelMapping::level(current[column], low, high), line + column * bytesPerPixel);
    }
    return image;
}
