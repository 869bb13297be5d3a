#include "acquisition/VideoRunSink.h"

#include "acquisition/FrameTypes.h"
#include "acquisition/PictureRunSink.h"
#include "acquisition/RunFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio/registry.hpp>

#include <algorithm>

namespace {

constexpr int kSide = Zk128::Side;
// Below this much free space a file that does not read back was cut short
// by the full disk: the encoder writes in blocks far smaller than this.
constexpr qint64 kFullDiskBytes = 256 * 1024;

// FFmpeg writes and reads MP4 directly; only a library built without it
// falls back to whatever backend it has (trying that one after FFmpeg failed
// would only add its own complaints).
int videoBackend()
{
    return cv::videoio_registry::hasBackend(cv::CAP_FFMPEG) ? int(cv::CAP_FFMPEG) : int(cv::CAP_ANY);
}

} // namespace

bool VideoRunSink::open(const SaveRunPlan &plan, QString *error)
{
    m_folder = plan.folder;
    m_path = plan.folder + QLatin1Char('/') + plan.name + QStringLiteral("_output_video.mp4");
    m_partPath = plan.folder + QLatin1Char('/') + plan.name + QStringLiteral("_output_video.part.mp4");
    const int fourcc = cv::VideoWriter::fourcc('m', 'p', '4', 'v');
    try {
        if (m_writer.open(m_partPath.toStdString(), videoBackend(), fourcc, double(plan.videoFps),
                          cv::Size(kSide, kSide), true))
            return true;
    } catch (const cv::Exception &) {
        // the writer stays closed: reported below
    }
    QFile::remove(m_partPath); // the encoder may have created it before giving up
    *error = QStringLiteral("the MP4 encoder could not open %1").arg(QFileInfo(m_partPath).fileName());
    return false;
}

bool VideoRunSink::write(const RecordedFrame &frame, QString *error)
{
    if (m_failure.isEmpty()) {
        const cv::Mat picture = SavedPicture::matOf(frame.picture);
        if (picture.cols != kSide || picture.rows != kSide) {
            // The encoder would drop a frame of another size without a word.
            m_failure = QStringLiteral("the picture of frame %1 is not %2 x %2 pixels").arg(frame.index).arg(kSide);
        } else {
            try {
                if (picture.channels() == 1) {
                    cv::Mat bgr;
                    cv::cvtColor(picture, bgr, cv::COLOR_GRAY2BGR);
                    m_writer.write(bgr);
                } else {
                    m_writer.write(picture);
                }
                ++m_framesWritten;
            } catch (const cv::Exception &exception) {
                m_failure = QStringLiteral("the encoder stopped at frame %1 (%2)")
                                .arg(frame.index)
                                .arg(QString::fromStdString(exception.msg));
            }
        }
    }
    *error = m_failure;
    return m_failure.isEmpty();
}

int VideoRunSink::framesReadBack() const
{
    try {
        cv::VideoCapture capture(m_partPath.toStdString(), videoBackend());
        if (!capture.isOpened())
            return -1;
        int frames = 0;
        while (capture.grab())
            ++frames;
        return frames;
    } catch (const cv::Exception &) {
        return -1;
    }
}

QString VideoRunSink::shortfallReason(int readBack) const
{
    if (QStorageInfo(m_folder).bytesAvailable() < kFullDiskBytes)
        return QStringLiteral("No space left on device");
    if (readBack < 0)
        return QStringLiteral("the finished file could not be read back");
    return QStringLiteral("the finished file holds %1 of %2 frames").arg(readBack).arg(m_framesWritten);
}

bool VideoRunSink::finish(const RunReferences & /*references*/, bool /*complete*/, QString *error)
{
    m_writer.release(); // writes the index: the file is complete only from here on
    const int handed = m_framesWritten;
    const int readBack = handed > 0 ? framesReadBack() : 0;
    if (readBack != handed && m_failure.isEmpty())
        m_failure = shortfallReason(readBack);
    m_framesWritten = std::max(readBack, 0);

    QString reason;
    if (m_framesWritten == 0)
        QFile::remove(m_partPath); // nothing readable in it
    else if (!RunFiles::syncFile(m_partPath, &reason) || !RunFiles::renameOver(m_partPath, m_path, &reason)) {
        m_framesWritten = 0; // kept under its .part name, not where the run's files are
        if (m_failure.isEmpty())
            m_failure = reason;
    }
    *error = m_failure;
    return m_failure.isEmpty();
}
