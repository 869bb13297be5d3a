#include "DisplayPipeline.h"

#include "KeepRatioWidget.h"
#include "ReceiverThread.h"

#include <QLabel>
#include <QRadioButton>

DisplayPipeline::DisplayPipeline(const DisplayWidgets &widgets, KeepRatioWidget *display,
                                 ReceiverThread &worker, QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , display(display)
    , worker(worker)
{
    drawTimer.setSingleShot(true);
    drawTimer.setInterval(0);
    connect(&drawTimer, &QTimer::timeout, this, &DisplayPipeline::drawPending);
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
    if (testPictureRequested) {
        const TestPictureWriter::Outcome outcome = testPictureWriter.write(shown);
        if (outcome == TestPictureWriter::Outcome::FolderMissing)
            return; // not shown; the request stays for the next frame
        testPictureRequested = false;
        if (outcome == TestPictureWriter::Outcome::Written)
            emit testPictureWritten(testPictureWriter.filePath());
    }
    newestFrame = QImage();
    display->setImage(shown);
    ++drawnCount;
    emit frameShown(shown);
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
    ui.clickedLocate->setText(QStringLiteral("Coordinate: ( %1 , %2 ) ").arg(x).arg(y));
    worker.setSelectedPixel(x + 128 * y);
}

void DisplayPipeline::showCellCurrent(double current)
{
    ui.clickedCurrent->setText(QStringLiteral(" Current: %1 nA ").arg(QString::number(current, 'f', 4), 0));
}
