#include "acquisition/TemplatePicture.h"

#include "acquisition/FrameRendering.h"
#include "acquisition/PictureRunSink.h"

#include <QDir>
#include <QFileInfo>

#include <opencv2/imgcodecs.hpp>

TemplatePicture::TemplatePicture(const FrameRendering &rendering, QString path)
    : m_rendering(rendering)
    , m_path(std::move(path))
{
}

void TemplatePicture::consume(const FramePtr &frame)
{
    if (!m_requested.load(std::memory_order_acquire))
        return;
    const QImage image = m_rendering.renderSaved(*frame, nullptr);
    const cv::Mat picture = SavedPicture::matOf(image);
    if (!picture.empty() && QDir().mkpath(QFileInfo(m_path).absolutePath())) {
        try {
            cv::imwrite(m_path.toStdString(), picture);
        } catch (const cv::Exception &) {
        }
    }
    m_requested.store(false); // also when writing it failed: one attempt per request
}
