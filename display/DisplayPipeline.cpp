#include "DisplayPipeline.h"

#include "FrameTypes.h"
#include "KeepRatioWidget.h"
#include "ReceiverThread.h"

#include <QDir>
#include <QLabel>
#include <QRadioButton>

DisplayPipeline::DisplayPipeline(const DisplayWidgets &widgets, KeepRatioWidget *display,
                                 ReceiverThread &worker, const QString &testPictureFolder, QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , display(display)
    , worker(worker)
    , testPictureWriter(testPictureFolder)
{
    drawTimer.setSingleShot(true);
    drawTimer.setInterval(0);
    connect(&drawTimer, &QTimer::timeout, this, &DisplayPipeline::drawPending);
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
    m_live = false;
    m_notLiveBadge->show();
    m_notLiveBadge->raise();
    for (QLabel *figure : {ui.fps, ui.clickedCurrent}) {
        figure->setStyleSheet(notLiveFigureSheet());
        figure->setToolTip(QStringLiteral("The last figure of the capture; not live"));
    }
}

QString DisplayPipeline::notLiveFigureSheet()
{
    return QStringLiteral("QLabel { color: #A0A0A0; font-style: italic; }");
}

void DisplayPipeline::receiveImage(const QImage &image)
{
    if (!meter.frameArrived()) {
        // The first frame of the run only starts the clock.
        ui.fps->setText(FrameRateMeter::firstFrameText());
        return;
    }
    ++receivedCount;
    newestFrame = image;
    if (!drawTimer.isActive())
        drawTimer.start();
}

void DisplayPipeline::drawPending()
{
    drawTimer.stop();
    if (newestFrame.isNull())
        return;
    const QImage shown = transform.apply(newestFrame);
    if (testPictureRequested)
        writeTestPicture(shown);
    newestFrame = QImage();
    m_shownTransform = transform;
    display->setRegionOverlay(m_shownTransform.displayedRect(m_region));
    display->setImage(shown);
    ++drawnCount;
    if (!m_live) {
        m_live = true;
        m_notLiveBadge->hide();
        for (QLabel *figure : {ui.fps, ui.clickedCurrent}) {
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
    testPictureRequested = false;
    if (testPictureWriter.write(shown) == TestPictureWriter::Outcome::Written) {
        m_testPictureFailureTold = false;
        emit testPictureWritten(testPictureWriter.filePath());
        return;
    }
    if (m_testPictureFailureTold)
        return;
    m_testPictureFailureTold = true;
    emit testPictureFailed(QStringLiteral("The test picture cannot be written to %1; recognition has stopped.")
                               .arg(QDir::toNativeSeparators(testPictureWriter.folder())));
}

void DisplayPipeline::updateFps()
{
    ui.fps->setText(meter.takeReading());
}

void DisplayPipeline::showMode(QObject *sender, bool checked)
{
    if (checked) {
        if (sender == ui.gray)
            mode = 0;
        else if (sender == ui.rgb)
            mode = 1;
        else if (sender == ui.heat)
            mode = 2;
    }
    worker.setDisplayMode(mode);
}

void DisplayPipeline::selectCell(int x, int y)
{
    const QPoint cell = sensorCell(x, y);
    ui.clickedLocate->setText(QStringLiteral("Coordinate: ( %1 , %2 ) ").arg(cell.x()).arg(cell.y()));
    worker.setSelectedPixel(cell.x() + Zk128::Side * cell.y());
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
    display->setRegionOverlay(m_shownTransform.displayedRect(m_region));
    display->rescale();
    emit regionSelected(m_region);
}

void DisplayPipeline::showCellCurrent(double current)
{
    ui.clickedCurrent->setText(QStringLiteral(" Current: %1 nA ").arg(QString::number(current, 'f', 4), 0));
}
