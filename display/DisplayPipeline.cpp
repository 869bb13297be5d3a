#include "display/DisplayPipeline.h"

#include "acquisition/FrameTypes.h"
#include "acquisition/PixelReadout.h"
#include "display/KeepRatioWidget.h"

#include <QDir>
#include <QLabel>
#include <QRadioButton>

DisplayPipeline::DisplayPipeline(const DisplayWidgets &widgets, KeepRatioWidget *display,
                                 FrameRendering &rendering, PixelReadout &readout, const QString &testPictureFolder,
                                 QObject *parent)
    : QObject(parent)
    , m_ui(widgets)
    , m_display(display)
    , m_rendering(rendering)
    , m_readout(readout)
    , m_testPictureWriter(testPictureFolder)
{
    connect(display, &KeepRatioWidget::regionDragged, this, &DisplayPipeline::regionDragged);
    connect(display, &KeepRatioWidget::regionCleared, this, &DisplayPipeline::regionCleared);

    // Over the picture's top-left corner.
    m_notLiveBadge = new QLabel(notLiveText(), display->pictureLabel());
    m_notLiveBadge->setObjectName(QStringLiteral("label_not_live"));
    m_notLiveBadge->setStyleSheet(QStringLiteral(
        "QLabel { background-color: rgba(208, 61, 79, 210); color: white; font-family: Arial; font-weight: bold;"
        " border-radius: 5px; padding: 3px 10px; }"));
    m_notLiveBadge->adjustSize();
    m_notLiveBadge->move(6, 6);
    m_notLiveBadge->hide();
}

QString DisplayPipeline::notLiveText()
{
    return QStringLiteral("Not live");
}

void DisplayPipeline::markNotLive()
{
    if (!m_live)
        return;
    refresh(); // what arrived before the capture ended is shown first
    m_live = false;
    m_notLiveBadge->show();
    m_notLiveBadge->raise();
    for (QLabel *figure : {m_ui.fps, m_ui.clickedCurrent}) {
        figure->setStyleSheet(notLiveFigureSheet());
        figure->setToolTip(QStringLiteral("The last figure of the capture; not live"));
    }
}

QString DisplayPipeline::notLiveFigureSheet()
{
    return QStringLiteral("QLabel { color: #A0A0A0; font-style: italic; }");
}

void DisplayPipeline::refresh()
{
    FrameRendering::Picture picture;
    if (m_rendering.newestPicture(m_pictureIndex, picture))
        showPicture(picture);
    double current = 0.0;
    if (m_readout.selectedCurrent(m_currentIndex, current, m_currentIndex))
        showCellCurrent(current);
}

void DisplayPipeline::showPicture(const FrameRendering::Picture &picture)
{
    const bool first = !m_clockStarted;
    countFrames(picture);
    m_clockStarted = true;
    if (first) {
        // The first frame of the run only starts the clock.
        m_ui.fps->setText(FrameRateMeter::firstFrameText());
        return;
    }
    m_shownArrival = picture.arrived;
    draw(picture.image);
}

void DisplayPipeline::restartFrom(std::uint64_t index)
{
    m_pictureIndex = index;
    m_currentIndex = index;
    m_clockStarted = true;
    m_lastArrival = std::chrono::steady_clock::now();
}

void DisplayPipeline::clearPicture()
{
    m_display->setRegionOverlay(QRect());
    m_display->setImage(QImage());
    m_ui.clickedCurrent->clear();
}

void DisplayPipeline::countFrames(const FrameRendering::Picture &picture)
{
    // The frames between the last picture taken and this one arrived too:
    // each counts, over the time they took together.
    if (m_pictureIndex > 0 && picture.index > m_pictureIndex) {
        const auto frames = picture.index - m_pictureIndex;
        const qint64 spanNs = std::chrono::duration_cast<std::chrono::nanoseconds>(picture.arrived - m_lastArrival).count();
        m_meter.addFrames(int(frames), spanNs);
        m_receivedCount += int(frames);
    }
    m_pictureIndex = picture.index;
    m_lastArrival = picture.arrived;
}

void DisplayPipeline::draw(const QImage &image)
{
    const QImage shown = m_transform.apply(image);
    if (m_testPictureRequested)
        writeTestPicture(shown);
    m_shownTransform = m_transform;
    m_display->setRegionOverlay(m_shownTransform.displayedRect(m_region));
    m_display->setImage(shown);
    ++m_drawnCount;
    if (!m_live) {
        m_live = true;
        m_notLiveBadge->hide();
        for (QLabel *figure : {m_ui.fps, m_ui.clickedCurrent}) {
            figure->setStyleSheet(QString());
            figure->setToolTip(QString());
        }
    }
    emit frameShown(shown);
}

void DisplayPipeline::writeTestPicture(const QImage &shown)
{
    // One attempt per request: a folder that cannot be written must not keep
    // the live view from drawing, frame after frame.
    m_testPictureRequested = false;
    if (m_testPictureWriter.write(shown) == TestPictureWriter::Outcome::Written) {
        m_testPictureFailureTold = false;
        emit testPictureWritten(m_testPictureWriter.filePath());
        return;
    }
    if (m_testPictureFailureTold)
        return;
    m_testPictureFailureTold = true;
    emit testPictureFailed(QStringLiteral("The test picture cannot be written to %1; recognition has stopped.")
                               .arg(QDir::toNativeSeparators(m_testPictureWriter.folder())));
}

void DisplayPipeline::updateFps()
{
    m_ui.fps->setText(m_meter.takeReading());
}

void DisplayPipeline::showMode(QObject *sender, bool checked)
{
    if (checked) {
        if (sender == m_ui.gray)
            m_mode = 0;
        else if (sender == m_ui.rgb)
            m_mode = 1;
        else if (sender == m_ui.heat)
            m_mode = 2;
    }
    m_rendering.setDisplayMode(m_mode);
}

void DisplayPipeline::selectCell(int x, int y)
{
    const QPoint cell = sensorCell(x, y);
    m_ui.clickedLocate->setText(QStringLiteral("Coordinate: ( %1 , %2 ) ").arg(cell.x()).arg(cell.y()));
    m_readout.setSelectedPixel(cell.x() + Zk128::Side * cell.y());
}

void DisplayPipeline::regionDragged(const QRect &displayedCells)
{
    m_region = m_shownTransform.sensorRect(displayedCells);
    showRegion();
}

void DisplayPipeline::regionCleared()
{
    m_region = QRect();
    showRegion();
}

// Shows the region on the picture on screen at once (no frame may come while
// the capture is stopped) and tells the live analysis.
void DisplayPipeline::showRegion()
{
    m_display->setRegionOverlay(m_shownTransform.displayedRect(m_region));
    m_display->rescale();
    emit regionSelected(m_region);
}

void DisplayPipeline::showCellCurrent(double current)
{
    m_ui.clickedCurrent->setText(QStringLiteral(" Current: %1 nA ").arg(QString::number(current, 'f', 4), 0));
}
