#include "FrameSaver.h"

#include <QtTest>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <iostream>
#include <sstream>

namespace {
QImage displayImage(QImage::Format format, int seed)
{
    QImage image(128, 128, format);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            image.setPixelColor(x, y, QColor((x * 2 + seed) % 256, (y + seed * 40) % 256, (x ^ y) % 256));
    return image;
}

// The saved PNG, read as the operator's picture viewer would.
bool samePicture(const QString &path, const QImage &shown)
{
    const QImage png(path);
    return !png.isNull() && png.convertToFormat(QImage::Format_RGB888) == shown.convertToFormat(QImage::Format_RGB888);
}

// Captures what the save step writes to the error stream.
struct ErrorCapture
{
    std::ostringstream text;
    std::streambuf *old = std::cerr.rdbuf(text.rdbuf());
    ~ErrorCapture() { std::cerr.rdbuf(old); }
};
} // namespace

class TestFrameSaver : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    SaveRun run(const QString &name, int frames, bool pictures, bool video)
    {
        return SaveRun{m_dir.filePath(name), name, frames, pictures, video, 18};
    }

private slots:
    void pictureAndVideoOfOneFrame()
    {
        FrameSaver saver;
        const QImage image = displayImage(QImage::Format_Grayscale8, 1);
        const SaveStepResult result = saver.saveFrame(image, run("one", 1, true, true), false, {});
        QVERIFY(result.error.isEmpty());
        QVERIFY(result.runFinished);
        QCOMPARE(saver.counter(), 0);
        QVERIFY(!saver.videoOpen());
        QVERIFY(samePicture(m_dir.filePath("one/pic/one_1.png"), image));
        QCOMPARE(cv::imread(m_dir.filePath("one/pic/one_1.png").toStdString(), cv::IMREAD_UNCHANGED).channels(), 1);

        const QString probe = QStandardPaths::findExecutable("ffprobe");
        if (probe.isEmpty())
            QSKIP("ffprobe is not installed");
        QProcess ffprobe;
        ffprobe.start(probe, {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                              "stream=codec_name,width,height,nb_read_frames", "-of", "csv=p=0",
                              m_dir.filePath("one/one_output_video.mp4")});
        QVERIFY(ffprobe.waitForFinished(30000));
        QCOMPARE(ffprobe.readAllStandardOutput().trimmed(), QByteArray("mpeg4,128,128,1"));
    }

    void threePictures()
    {
        FrameSaver saver;
        const SaveRun three = run("three", 3, true, false);
        for (int k = 1; k <= 3; ++k) {
            const SaveStepResult result = saver.saveFrame(displayImage(QImage::Format_Grayscale8, k), three, false, {});
            QCOMPARE(result.runFinished, k == 3);
            QCOMPARE(saver.counter(), k % 3);
        }
        for (int k = 1; k <= 3; ++k)
            QVERIFY(samePicture(m_dir.filePath("three/pic/three_%1.png").arg(k), displayImage(QImage::Format_Grayscale8, k)));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("three/pic/three_4.png")));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("three/three_output_video.mp4")));
    }

    // The rgb and heat display is saved as the colour picture the operator sees,
    // and the video keeps its colours.
    void colourFramesSavedInColour()
    {
        FrameSaver saver;
        const QImage image = displayImage(QImage::Format_RGB888, 2);
        QVERIFY(saver.saveFrame(image, run("colour", 2, true, true), false, {}).error.isEmpty());
        QImage red(128, 128, QImage::Format_RGB888);
        red.fill(QColor(255, 0, 0));
        QVERIFY(saver.saveFrame(red, run("colour", 2, true, true), false, {}).runFinished);
        QVERIFY(samePicture(m_dir.filePath("colour/pic/colour_1.png"), image));

        cv::VideoCapture video(m_dir.filePath("colour/colour_output_video.mp4").toStdString());
        cv::Mat frame;
        QVERIFY(video.read(frame) && video.read(frame));
        const cv::Scalar mean = cv::mean(frame); // B, G, R
        QVERIFY2(mean[2] > 200 && mean[1] < 50 && mean[0] < 50, "the red frame did not stay red");
    }

    void failures_data()
    {
        QTest::addColumn<bool>("pictures");
        QTest::addColumn<bool>("video");
        QTest::addColumn<int>("frames");
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("errorLines");
        QTest::newRow("run folder under a file, video") << false << true << 2 << "The save folder could not be created" << "Error: Failed to create directory.\n";
        QTest::newRow("picture folder under a file") << true << false << 2 << "The picture folder could not be created" << "Error: Failed to create directory.\n";
        QTest::newRow("zero frames to save") << true << true << 0 << "The number of frames to save must be at least 1." << "";
    }
    void failures()
    {
        QFETCH(bool, pictures);
        QFETCH(bool, video);
        QFETCH(int, frames);
        QFETCH(QString, sentence);
        QFETCH(QString, errorLines);
        QFile blocker(m_dir.filePath("blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        FrameSaver saver;
        SaveRun bad{blocker.fileName() + "/run", "run", frames, pictures, video, 18};
        ErrorCapture capture;
        const SaveStepResult result = saver.saveFrame(displayImage(QImage::Format_Grayscale8, 0), bad, false, {});
        QVERIFY2(result.error.startsWith(sentence), qPrintable(result.error));
        QVERIFY(result.error.endsWith('.'));
        QCOMPARE(QString::fromStdString(capture.text.str()), errorLines);
        QCOMPARE(saver.counter(), 0);
        QVERIFY(!saver.videoOpen());
    }

    void videoWriterThatDoesNotOpen()
    {
        FrameSaver saver;
        QVERIFY(QDir().mkpath(m_dir.filePath("novideo/novideo_output_video.mp4"))); // a folder in the file's place
        ErrorCapture capture;
        const SaveStepResult result = saver.saveFrame(displayImage(QImage::Format_Grayscale8, 0), run("novideo", 2, true, true), false, {});
        QVERIFY2(result.error.startsWith("The video file could not be opened for writing: "), qPrintable(result.error));
        const QString lines = QString::fromStdString(capture.text.str());
        QVERIFY2(lines.contains(QRegularExpression("(^|\n)Error: Could not create video writer.\nTicks: -?\\d+\n$")), qPrintable(lines));
        QCOMPARE(saver.counter(), 0);
    }

    void templateOnly()
    {
        FrameSaver saver;
        const QString mode = m_dir.filePath("app/detect/mode.png");
        const QImage image = displayImage(QImage::Format_Grayscale8, 5);
        const SaveStepResult result = saver.saveFrame(image, run("tpl", 1, false, false), true, mode);
        QVERIFY(result.modePictureHandled && result.error.isEmpty());
        QCOMPARE(saver.counter(), 0);
        QVERIFY(samePicture(mode, image));
        QVERIFY(!QFileInfo::exists(m_dir.filePath("tpl")));
        // Unwritable template: still handled, so the request does not repeat forever.
        QVERIFY(saver.saveFrame(image, run("tpl", 1, false, false), true, m_dir.filePath("blocker/mode.png")).modePictureHandled);
    }
};

QTEST_MAIN(TestFrameSaver)
#include "tst_FrameSaver.moc"
