#include "acquisition/PictureRunSink.h"

#include "acquisition/RunFiles.h"

#include <QFileInfo>
#include <QSaveFile>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace SavedPicture {

cv::Mat matOf(const QImage &image)
{
    if (image.isNull())
        return {};
    if (image.format() == QImage::Format_Grayscale8)
        return cv::Mat(image.height(), image.width(), CV_8UC1, const_cast<uchar *>(image.constBits()),
                       std::size_t(image.bytesPerLine()));
    const QImage rgb = image.format() == QImage::Format_RGB888 ? image : image.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                       std::size_t(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(view, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

} // namespace SavedPicture

bool PictureRunSink::open(const SaveRunPlan &plan, QString *error)
{
    const QString folder = plan.folder + QStringLiteral("/pic");
    m_prefix = folder + QLatin1Char('/') + plan.name + QLatin1Char('_');
    return RunFiles::makeFolder(folder, error);
}

bool PictureRunSink::savePng(const QString &path, QString *reason)
{
    QSaveFile file(path);
    // Unbuffered, so that a write that falls short is seen here and not
    // hidden in the buffer until commit.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        *reason = QStringLiteral("%1 could not be created (%2)").arg(QFileInfo(path).fileName(), file.errorString());
        return false;
    }
    if (!RunFiles::writeAll(file, reinterpret_cast<const char *>(m_encoded.data()), qint64(m_encoded.size()), reason)) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

bool PictureRunSink::write(const RecordedFrame &frame, QString *error)
{
    if (m_failure.isEmpty()) {
        const cv::Mat picture = SavedPicture::matOf(frame.picture);
        bool encoded = false;
        try {
            encoded = !picture.empty() && cv::imencode(".png", picture, m_encoded);
        } catch (const cv::Exception &) {
            // reported below
        }
        QString reason;
        if (!encoded)
            m_failure = QStringLiteral("the picture of frame %1 could not be encoded").arg(frame.index);
        else if (!savePng(m_prefix + QString::number(frame.index) + QStringLiteral(".png"), &reason))
            m_failure = reason;
        else
            ++m_framesWritten;
    }
    *error = m_failure;
    return m_failure.isEmpty();
}

bool PictureRunSink::finish(const RunReferences & /*references*/, bool /*complete*/, QString *error)
{
    *error = m_failure; // every picture was already complete or absent
    return m_failure.isEmpty();
}
