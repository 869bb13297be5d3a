#pragma once

#include "acquisition/RunSink.h"

#include <QImage>
#include <QString>

#include <opencv2/core/mat.hpp>

#include <vector>

// The pictures of a save run (kind "pictures"): <folder>/pic/<name>_<k>.png,
// k the frame's 1-based index, the pic folder created as needed. Gray frames
// are saved single-channel, colour frames in colour. Each file is complete or
// absent: the PNG is encoded in memory and written through QSaveFile. A
// picture that cannot be written fails the sink.
//
// Thread contract: used by the save-run writer's thread only.
class PictureRunSink : public RunSink
{
public:
    QString kind() const override { return QStringLiteral("pictures"); }
    bool open(const SaveRunPlan &plan, QString *error) override;
    bool write(const RecordedFrame &frame, QString *error) override;
    bool finish(const RunReferences &references, bool complete, QString *error) override;
    int framesWritten() const override { return m_framesWritten; }

private:
    bool savePng(const QString &path, QString *reason);

    QString m_prefix;              // <folder>/pic/<name>_
    std::vector<uchar> m_encoded;  // the PNG of the current frame, reused
    int m_framesWritten = 0;
    QString m_failure;             // the first failure; empty while all is well
};

namespace SavedPicture {
// The frame as OpenCV saves it: Grayscale8 stays single-channel, anything
// else becomes 3-channel BGR. A gray result may share the image's pixels, so
// use it while the image lives. Empty for a null image.
cv::Mat matOf(const QImage &image);
} // namespace SavedPicture
