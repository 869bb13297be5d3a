#pragma once

#include "acquisition/FrameConsumer.h"

#include <QString>

#include <atomic>

class FrameRendering;

// The recognition template: on request, the next frame as it is saved
// becomes the template picture ("mode.png" in the console's scratch folder). Best effort: a folder or file that
// cannot be written leaves the previous template in place, and the request is
// used up either way. Written on the capture thread (one small PNG per
// request, a millisecond or two).
//
// Thread contract: request from any thread (atomic flag); consume on the
// capture thread.
class TemplatePicture : public FrameConsumer
{
public:
    TemplatePicture(const FrameRendering &rendering, QString path);

    void request() { m_requested.store(true, std::memory_order_release); }
    bool pending() const { return m_requested.load(std::memory_order_acquire); }
    const QString &path() const { return m_path; }

    void consume(const FramePtr &frame) override;

private:
    const FrameRendering &m_rendering;
    const QString m_path;
    std::atomic<bool> m_requested{false};
};
