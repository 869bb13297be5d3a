#pragma once

#include "acquisition/FrameRendering.h"
#include "display/DisplayTransform.h"
#include "display/FrameRateMeter.h"
#include "display/TestPictureWriter.h"

#include <QImage>
#include <QObject>
#include <QRect>

#include <chrono>
#include <cstdint>

class KeepRatioWidget;
class QLabel;
class PixelReadout;
class QRadioButton;

// The widgets of the live display the pipeline writes or reads.
struct DisplayWidgets
{
    QLabel *fps = nullptr;             // label_fps
    QLabel *clickedLocate = nullptr;   // label_clicked_locate
    QLabel *clickedCurrent = nullptr;  // label_clicked_current
    QRadioButton *gray = nullptr;      // radioButton_gray
    QRadioButton *rgb = nullptr;       // radioButton_rgb
    QRadioButton *heat = nullptr;      // radioButton_heat
};

// The window's handling of live frames and of clicks on the live picture:
// frame-rate counting, rotation then mirroring, the recognition test picture,
// the display mode sent to the worker, the selected cell and its current, and
// the region of sensor cells the live analysis measures.
//
// Clicks and the region's corners arrive as displayed cells; they are mapped
// back through the rotation and mirroring of the picture on screen (which a
// rotate or mirror changes only with the next drawn frame), so they name the
// sensor cell drawn under the pointer. The region is drawn over every picture
// where its sensor cells are shown.
//
// The window calls refresh at the screen's pace: it takes the newest rendered
// picture and the selected cell's current from the capture loop's consumers.
// Every frame is counted for the rate (by the frames' numbers and arrival
// times), but only the newest is drawn; nothing queues up when the device
// delivers faster than the screen shows.
//
// Thread contract: GUI thread only; the consumers guard what they share.
class DisplayPipeline : public QObject
{
    Q_OBJECT

public:
    // testPictureFolder: where the recognition test picture goes (the detect folder).
    DisplayPipeline(const DisplayWidgets &widgets, KeepRatioWidget *display, FrameRendering &rendering,
                    PixelReadout &readout, const QString &testPictureFolder, QObject *parent = nullptr);

    // Takes and shows what arrived since the last call: the newest picture
    // and the selected cell's current.
    void refresh();
    // Counts the frames up to this picture's and draws it.
    void showPicture(const FrameRendering::Picture &picture);
    // Frames of another source follow (a recording, or the capture again
    // after one): the next picture and cell current numbered above `index`
    // are shown at once, whatever the numbers shown before.
    void restartFrom(std::uint64_t index);
    // Empties the live view (a source ended that leaves no picture behind).
    void clearPicture();
    // The frame-rate readout, every 2 s while a capture runs.
    void updateFps();
    void rotate() { m_transform.rotate(); }
    void mirrorHorizontal() { m_transform.toggleHorizontal(); }
    void mirrorVertical() { m_transform.toggleVertical(); }
    // A display-mode radio button toggled; sender is that button.
    void showMode(QObject *sender, bool checked);
    // A left click on the live picture at (column, row) as displayed: the
    // label and the worker get the sensor cell drawn there.
    void selectCell(int x, int y);
    // The sensor cell drawn at (column, row) of the picture on screen.
    QPoint sensorCell(int x, int y) const { return m_shownTransform.sensorCell(QPoint(x, y)); }
    // The region in sensor cells; null for the whole matrix.
    QRect region() const { return m_region; }
    // The selected cell's current.
    void showCellCurrent(double current);
    // The capture ended (stop, unplug, error): the picture and the figures on
    // screen are the last ones, not live; marked so until the next frame.
    void markNotLive();
    bool isLive() const { return m_live; }
    static QString notLiveText();
    // The look of the frame rate and the current while they are not live.
    static QString notLiveFigureSheet();

    // Recognition asks for the next drawn frame as its test picture.
    void requestTestPicture() { m_testPictureRequested = true; }
    bool testPicturePending() const { return m_testPictureRequested; }
    void setTestPictureWriter(const TestPictureWriter &writer) { m_testPictureWriter = writer; }
    const TestPictureWriter &testPicture() const { return m_testPictureWriter; }

    int displayMode() const { return m_mode; }
    const DisplayTransform &currentTransform() const { return m_transform; }
    int framesDrawn() const { return m_drawnCount; }
    int framesCounted() const { return m_receivedCount; }
    // When the frame on screen arrived (steady clock); for latency figures.
    std::chrono::steady_clock::time_point shownArrival() const { return m_shownArrival; }

signals:
    // A frame was handed to the live view (after rotation and mirroring).
    void frameShown(const QImage &shown);
    void testPictureWritten(const QString &path);
    // The test picture could not be written; sent once until one is written again.
    void testPictureFailed(const QString &sentence);
    // The operator marked a region (right-button drag) or cleared it (right
    // click): the sensor cells it covers, null for the whole matrix.
    void regionSelected(const QRect &sensorCells);

private:
    void writeTestPicture(const QImage &shown);
    void regionDragged(const QRect &displayedCells);
    void regionCleared();
    void showRegion();

    void countFrames(const FrameRendering::Picture &picture);
    void draw(const QImage &image);

    DisplayWidgets m_ui;
    KeepRatioWidget *m_display;
    FrameRendering &m_rendering;
    PixelReadout &m_readout;

    DisplayTransform m_transform;        // applied to the next drawn frame
    DisplayTransform m_shownTransform; // the one the picture on screen was drawn with
    QRect m_region;                    // sensor cells; null for the whole matrix
    FrameRateMeter m_meter;
    TestPictureWriter m_testPictureWriter;
    bool m_testPictureRequested = false;
    bool m_testPictureFailureTold = false;
    int m_mode = 0;                 // 0 gray, 1 rgb, 2 heat: the value last sent to the worker

    std::uint64_t m_pictureIndex = 0; // number of the newest frame taken
    bool m_clockStarted = false;      // a picture was taken: the frame-rate clock runs
    std::uint64_t m_currentIndex = 0; // frame of the cell current shown
    std::chrono::steady_clock::time_point m_lastArrival;
    std::chrono::steady_clock::time_point m_shownArrival;
    int m_drawnCount = 0;
    int m_receivedCount = 0;
    bool m_live = false;            // a frame was drawn since the last markNotLive
    QLabel *m_notLiveBadge = nullptr; // child of the live view
};
