#include "FrameSaver.h"

#include <QDir>
#include <QFileInfo>

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <iostream>

namespace {

// The display image as the picture to save: gray stays single-channel,
// colour becomes OpenCV's BGR order. The matrix owns its pixels.
cv::Mat pictureOf(const QImage &image)
{
    if (image.isNull())
        return {};
    if (image.format() == QImage::Format_Grayscale8) {
        const cv::Mat view(image.height(), image.width(), CV_8UC1, const_cast<uchar *>(image.constBits()),
                           std::size_t(image.bytesPerLine()));
        return view.clone();
    }
    const QImage rgb = image.format() == QImage::Format_RGB888 ? image : image.convertToFormat(QImage::Format_RGB888);
    const cv::Mat view(rgb.height(), rgb.width(), CV_8UC3, const_cast<uchar *>(rgb.constBits()),
                       std::size_t(rgb.bytesPerLine()));
    cv::Mat bgr;
    cv::cvtColor(view, bgr, cv::COLOR_RGB2BGR);
    return bgr;
}

bool writePicture(const std::string &path, const cv::Mat &picture)
{
    try {
        return cv::imwrite(path, picture);
    } catch (const cv::Exception &) {
        return false;
    }
}

void errorLine(const char *text)
{
    std::cerr << text << std::endl;
}

} // namespace

FrameSaver::~FrameSaver()
{
    m_writer.release();
}

SaveStepResult FrameSaver::fail(const QString &sentence)
{
    abandon();
    SaveStepResult result;
    result.error = sentence;
    return result;
}

void FrameSaver::abandon()
{
    m_writer.release(); // a video file written so far is finalised and stays readable
    m_counter = 0;
}

bool FrameSaver::openVideo(const SaveRun &run, SaveStepResult &result)
{
    if (!QDir().mkpath(run.folder)) {
        errorLine("Error: Failed to create directory.");
        result = fail(QStringLiteral("The save folder could not be created: %1.").arg(run.folder));
        return false;
    }
    const QString path = run.folder + "/" + run.saveName + "_output_video.mp4";
    const int fourcc = cv::VideoWriter::fourcc('m', 'p', '4', 'v');
    // FFmpeg writes MP4 directly; any other backend the library has is the fallback.
    for (const int backend : {int(cv::CAP_FFMPEG), int(cv::CAP_ANY)}) {
        try {
            if (m_writer.open(path.toStdString(), backend, fourcc, double(run.videoFps), cv::Size(128, 128), true))
                break;
        } catch (const cv::Exception &) {
            // the writer stays closed; reported below
        }
    }
    if (!m_writer.isOpened()) {
        errorLine("Error: Could not create video writer.");
        std::cerr << "Ticks: " << cv::getTickCount() << std::endl;
        result = fail(QStringLiteral("The video file could not be opened for writing: %1.").arg(path));
        return false;
    }
    return true;
}

void FrameSaver::writeModePicture(const cv::Mat &picture, const QString &path)
{
    // The template is best effort: a folder or file that cannot be written
    // leaves the previous template in place.
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return;
    writePicture(path.toStdString(), picture);
}

SaveStepResult FrameSaver::saveFrame(const QImage &image, const SaveRun &run, bool modePicture,
                                     const QString &modePicturePath)
{
    SaveStepResult result;
    const bool runRequested = run.pictures || run.video;
    if (runRequested && run.framesToSave < 1) {
        // Such a run would never end and never close its video.
        result = fail(QStringLiteral("The number of frames to save must be at least 1."));
        if (modePicture) {
            const cv::Mat picture = pictureOf(image);
            if (!picture.empty()) {
                writeModePicture(picture, modePicturePath);
                result.modePictureHandled = true;
            }
        }
        return result;
    }

    if (run.video && !m_writer.isOpened() && !openVideo(run, result))
        return result;

    // A template request alone is not a run: it leaves the counter alone, so
    // the next run still starts at picture 1 with its video opened.
    if (runRequested)
        ++m_counter;

    const cv::Mat picture = pictureOf(image);
    if (picture.empty()) {
        errorLine("Error: Source image is empty.");
    } else {
        if (run.video && m_writer.isOpened()) {
            if (picture.channels() == 1) {
                cv::Mat bgr;
                cv::cvtColor(picture, bgr, cv::COLOR_GRAY2BGR);
                m_writer.write(bgr);
            } else {
                m_writer.write(picture);
            }
        }
        if (run.pictures) {
            const QString folder = run.folder + "/pic";
            if (!QDir().mkpath(folder)) {
                errorLine("Error: Failed to create directory.");
                return fail(QStringLiteral("The picture folder could not be created: %1.").arg(folder));
            }
            const QString path = folder + "/" + run.saveName + "_" + QString::number(m_counter) + ".png";
            if (!writePicture(path.toStdString(), picture))
                errorLine("Error: Failed to save the image.");
        }
        if (modePicture) {
            writeModePicture(picture, modePicturePath);
            result.modePictureHandled = true;
        }
    }

    if (runRequested && m_counter >= run.framesToSave) {
        if (m_writer.isOpened()) {
            m_writer.release();
            std::cout << "video saved successfully." << std::endl;
        }
        if (run.pictures)
            std::cout << "picture saved successfully." << std::endl;
        m_counter = 0;
        result.runFinished = true;
    }
    return result;
}
