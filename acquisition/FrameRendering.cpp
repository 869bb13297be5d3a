#include "acquisition/FrameRendering.h"

#include "acquisition/FrameRenderer.h"
#include "acquisition/ReferenceCalibration.h"

#include <tuple>

FrameRendering::FrameRendering(const ReferenceCalibration &references)
    : m_references(references)
{
}

void FrameRendering::consume(const FramePtr &frame)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_newest = frame;
}

void FrameRendering::setDisplayMode(int mode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.mode = mode;
}

int FrameRendering::displayMode() const
{
    return settings().mode;
}

void FrameRendering::setCalibrationEnabled(bool enabled)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.calibrated = enabled;
}

bool FrameRendering::calibrationEnabled() const
{
    return settings().calibrated;
}

void FrameRendering::setDisplayLevels(const DisplayLevels &levels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.levels = levels;
}

FrameRendering::Settings FrameRendering::settings() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

FramePtr FrameRendering::newestFrame() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_newest;
}

DisplayScale FrameRendering::shownScale() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shownScale;
}

QImage FrameRendering::renderSaved(const Frame &frame, std::vector<std::uint8_t> *gray, bool *calibrated) const
{
    const Settings now = settings();
    if (calibrated)
        *calibrated = now.calibrated;
    const ReferenceCalibration::Pair references = m_references.pair();
    RenderSettings render;
    render.displayMode = now.mode;
    render.currentRange = frame.range;
    render.calibrationEnabled = now.calibrated;
    render.fullOffReference = references.fullOff.get();
    render.fullOnReference = references.fullOn.get();
    std::vector<double> currents;
    return FrameRenderer::render(frame.raw, render, currents, gray);
}

bool FrameRendering::newestPicture(std::uint64_t after, Picture &picture)
{
    FramePtr frame;
    Settings now;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        frame = m_newest;
        now = m_settings;
    }
    if (!frame || frame->index <= after)
        return false;
    picture.index = frame->index;
    picture.arrived = frame->arrivedSteady;
    DisplayLevels levels = now.levels;
    if (!levels.enabled) {
        bool calibrated = false;
        picture.image = renderSaved(*frame, nullptr, &calibrated);
        picture.scale = calibrated ? DisplayScale::ofReferences() : DisplayScale::ofRange(frame->range);
    } else {
        // The operator's levels shape only what is shown: the saved picture
        // keeps the frame as rendered on its range.
        if (levels.automatic)
            std::tie(levels.low, levels.high) =
                LevelMapping::automaticLevels(frame->currents.data(), frame->currents.size());
        picture.image = FrameRenderer::renderWithLevels(frame->currents, now.mode, levels.low, levels.high);
        picture.scale = DisplayScale::ofLevels(levels.low, levels.high);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shownScale = picture.scale;
    return true;
}
