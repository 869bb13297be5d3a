#include "acquisition/SharedFramePublisher.h"

#include "services/SharedFrameView.h"

void SharedFramePublisher::consume(const FramePtr &frame)
{
    // A failed publish has warned already and must not hold up the frame.
    m_view.publish(frame->currents.data(), frame->currents.size());
}
