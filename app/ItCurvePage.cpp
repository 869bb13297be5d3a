#include "ItCurvePage.h"

#include "CurrentDialog.h"
#include "CurrentRange.h"
#include "ReceiverThread.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

ItCurvePage::ItCurvePage(const ItCurveWidgets &widgets, const ConsoleState &state, ReceiverThread &worker,
                         OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , message(std::move(message))
{
}

ItCurvePage::~ItCurvePage()
{
    // The plot window has no parent; it must not stay on screen (and keep
    // the application alive) once the main window is gone.
    delete curveDialog.data();
}

CurrentDialog *ItCurvePage::window() const
{
    return curveDialog.data();
}

void ItCurvePage::pickChannel(int k)
{
    if (k < 1 || k > Channels)
        return;
    coordinateTargetArmed = true;
    coordinateTarget = k;
    writeClickedCell(k);
}

void ItCurvePage::cellDoubleClicked(int column, int row)
{
    clickedRow = row;
    clickedColumn = column;
    if (coordinateTargetArmed && coordinateTarget != -1)
        writeClickedCell(coordinateTarget);
}

void ItCurvePage::writeClickedCell(int k)
{
    ui.xEdits[k - 1]->setText(QString::number(clickedRow));
    ui.yEdits[k - 1]->setText(QString::number(clickedColumn));
}

CurrentDialog *ItCurvePage::openWindow()
{
    if (curveDialog) {
        curveDialog->activateWindow();
        curveDialog->raise();
        return nullptr;
    }
    ui.openCurve->setText(QStringLiteral("It-Curve"));
    curveDialog = new CurrentDialog(nullptr, int(CurrentRange::value()));
    curveDialog->setWindowTitle(QStringLiteral("It"));
    // Closing the main window ends the application even while the plot is open.
    curveDialog->setAttribute(Qt::WA_QuitOnClose, false);
    curveDialog->show();
    ui.seriesStart->setEnabled(true);
    ui.seriesStop->setEnabled(true);
    return curveDialog.data();
}

void ItCurvePage::startSeries()
{
    if (!state.running) {
        message(QStringLiteral("Please Start capture first!"));
        return;
    }
    std::vector<int> cells;
    for (int k = 0; k < Channels; ++k) {
        if (!ui.channelCheckBoxes[k]->isChecked())
            continue;
        const std::optional<int> row = coordinate(ui.xEdits[k]->text());
        const std::optional<int> column = coordinate(ui.yEdits[k]->text());
        if (!row || !column) {
            // A cell off the matrix would plot nothing, or the wrong cell.
            message(QStringLiteral("CH%1: x and y must be whole numbers from 0 to 127.").arg(k + 1));
            return;
        }
        cells.push_back(cellIndex(*row, *column));
    }
    if (cells.empty()) {
        message(QStringLiteral("NO channel selected."));
        return;
    }
    seriesCells = cells;
    worker.startSeries(std::move(cells));
    ui.seriesStart->setEnabled(false);
}

void ItCurvePage::stopSeries()
{
    // A later start continues the time axis where this one stopped.
    worker.stopSeries();
    ui.seriesStart->setEnabled(true);
}

std::optional<int> ItCurvePage::coordinate(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < 0 || value >= MatrixSide)
        return std::nullopt;
    return value;
}

void ItCurvePage::windowClosed()
{
    if (curveDialog) {
        curveDialog->deleteLater();
        curveDialog.clear();
    }
    ui.openCurve->setText(QStringLiteral("Open It-Curve"));
    worker.seriesEnabled.store(false, std::memory_order_release);
    ui.seriesStart->setEnabled(false);
    ui.seriesStop->setEnabled(false);
}

void ItCurvePage::seriesArrived(std::shared_ptr<std::vector<std::vector<double>>> data, double time)
{
    if (curveDialog)
        curveDialog->appendSeries(std::move(data), time);
}
