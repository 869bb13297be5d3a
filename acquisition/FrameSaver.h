#pragma once

#include <QImage>
#include <QString>

#include <opencv2/videoio.hpp>

struct SaveRun
{
    QString folder;          // savePath + "/" + saveName
    QString saveName;
    int framesToSave = 1;
    bool pictures = false;
    bool video = false;
    int videoFps = 18;
};

struct SaveStepResult
{
    bool runFinished = false;        // the counter reached framesToSave: the worker clears savePictures/saveVideo
    bool modePictureHandled = false;
    QString error;                   // non-empty: one English sentence; the run was abandoned (writer released, counter 0)
};

// The per-frame picture / video / template save step. A run of framesToSave
// frames writes folder/pic/<name>_<k>.png (k = 1..framesToSave) and
// folder/<name>_output_video.mp4 (mp4v, 128 x 128, colour); colour display
// frames are saved in colour, gray ones as single-channel PNGs. The counter
// counts the frames of a run (pictures or video); a template request alone
// writes the template and leaves the counter as it is, so the next run still
// opens its video and numbers its pictures from 1. A run that cannot be
// written (folder, video writer, framesToSave < 1) is abandoned with one
// English sentence in SaveStepResult::error.
//
// Thread contract: owned and used by the acquisition thread only.
class FrameSaver
{
public:
    FrameSaver() = default;
    ~FrameSaver(); // releases an open writer, so the file is finalised

    // One frame of the save step with the display image (Grayscale8 or RGB888).
    SaveStepResult saveFrame(const QImage &image, const SaveRun &run, bool modePicture,
                             const QString &modePicturePath);

    void abandon(); // release the writer (file finalised) and reset the counter
    int counter() const { return m_counter; }
    bool videoOpen() const { return m_writer.isOpened(); }

private:
    SaveStepResult fail(const QString &sentence);
    bool openVideo(const SaveRun &run, SaveStepResult &result);
    static void writeModePicture(const cv::Mat &picture, const QString &path);

    int m_counter = 0;          // frames of the current run that passed the step
    cv::VideoWriter m_writer;   // open from the first video frame of a run to its last
};
