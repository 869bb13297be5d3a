#pragma once

#include "acquisition/RunSink.h"

#include <QString>

#include <opencv2/videoio.hpp>

// The video of a save run (kind "video"): <name>_output_video.mp4, MPEG-4
// part 2 ("mp4v") at the plan's rate, 128 x 128, colour. It is written as
// <name>_output_video.part.mp4 (FFmpeg picks the container from the
// extension) and renamed into place at finish.
//
// The encoder reports no write errors, so finish reads the file back: it must
// open and hold every frame handed over. A file that holds only some is kept
// with those; one that cannot be read is removed. Either fails the sink, with
// "No space left on device" when the file system is full.
//
// Thread contract: used by the save-run writer's thread only.
class VideoRunSink : public RunSink
{
public:
    QString kind() const override { return QStringLiteral("video"); }
    bool open(const SaveRunPlan &plan, QString *error) override;
    bool write(const RecordedFrame &frame, QString *error) override;
    bool finish(const RunReferences &references, bool complete, QString *error) override;
    int framesWritten() const override { return m_framesWritten; }

private:
    int framesReadBack() const;
    QString shortfallReason(int readBack) const;

    QString m_folder;
    QString m_path;            // the final name
    QString m_partPath;        // the name while it is written
    cv::VideoWriter m_writer;  // open from open() to finish()
    int m_framesWritten = 0;   // handed to the encoder; after finish, read back from the file
    QString m_failure;         // the first failure; empty while all is well
};
