#include "ItCurvePage.h"

#include "CurrentDialog.h"
#include "PixelReadout.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

// An outer vertical layout on the container: "Open It-Curve", then an inner
// one with the channel box (three rows: check box, "x:", edit, "y:", edit,
// radio button) and the start and stop buttons.
ItCurveWidgets buildWidgets(QWidget *container)
{
    static const char *const channelColours[] = {"blue", "red", "green"};
    ItCurveWidgets widgets;
    auto *outer = new QVBoxLayout(container);
    widgets.openCurve = new QPushButton(QStringLiteral("Open It-Curve"), container);
    outer->addWidget(widgets.openCurve);
    auto *inner = new QVBoxLayout;
    outer->addLayout(inner);

    auto *channels = new QWidget(container);
    auto *channelLayout = new QVBoxLayout(channels);
    channelLayout->setSpacing(5);
    channelLayout->setContentsMargins(0, 0, 0, 0);
    for (int k = 1; k <= ItCurvePage::Channels; ++k) {
        auto *row = new QHBoxLayout;
        auto *check = new QCheckBox(QStringLiteral("CH%1").arg(k), channels);
        check->setStyleSheet(QStringLiteral("QCheckBox { color: %1; }").arg(QLatin1String(channelColours[k - 1])));
        auto *xEdit = new QLineEdit(channels);
        xEdit->setFixedSize(50, 20);
        auto *yEdit = new QLineEdit(channels);
        yEdit->setFixedSize(50, 20);
        auto *radio = new QRadioButton(channels);
        radio->setFixedSize(20, 20);
        // The edits and the radio show no text of their own.
        xEdit->setAccessibleName(QStringLiteral("CH%1 x").arg(k));
        yEdit->setAccessibleName(QStringLiteral("CH%1 y").arg(k));
        radio->setAccessibleName(QStringLiteral("CH%1 takes double-clicked cells").arg(k));
        if (k == 1) {
            check->setChecked(true);
            xEdit->setText(QStringLiteral("0"));
            yEdit->setText(QStringLiteral("0"));
        }
        row->addWidget(check);
        row->addWidget(new QLabel(QStringLiteral("x:"), channels));
        row->addWidget(xEdit);
        row->addWidget(new QLabel(QStringLiteral("y:"), channels));
        row->addWidget(yEdit);
        row->addWidget(radio);
        channelLayout->addLayout(row);
        widgets.channelCheckBoxes.push_back(check);
        widgets.channelRadios.push_back(radio);
        widgets.xEdits.push_back(xEdit);
        widgets.yEdits.push_back(yEdit);
    }
    inner->addWidget(channels);

    auto *buttons = new QHBoxLayout;
    widgets.seriesStart = new QPushButton(QStringLiteral("Start Capture"), container);
    widgets.seriesStop = new QPushButton(QStringLiteral("Stop Capture"), container);
    widgets.seriesStart->setEnabled(false);
    widgets.seriesStop->setEnabled(false);
    buttons->addWidget(widgets.seriesStart);
    buttons->addWidget(widgets.seriesStop);
    inner->addLayout(buttons);
    return widgets;
}

} // namespace

ItCurvePage::ItCurvePage(QWidget *container, const ConsoleState &state, PixelReadout &worker,
                         std::function<double()> range, OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , ui(buildWidgets(container))
    , state(state)
    , worker(worker)
    , range(std::move(range))
    , message(std::move(message))
{
    for (int k = 1; k <= Channels; ++k)
        connect(ui.channelRadios[std::size_t(k - 1)], &QRadioButton::clicked, this, [this, k] { pickChannel(k); });
    connect(ui.openCurve, &QPushButton::clicked, this, &ItCurvePage::openWindow);
    connect(ui.seriesStart, &QPushButton::clicked, this, &ItCurvePage::startSeries);
    connect(ui.seriesStop, &QPushButton::clicked, this, &ItCurvePage::stopSeries);
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
    curveDialog = new CurrentDialog(nullptr, int(range()));
    curveDialog->setWindowTitle(QStringLiteral("It"));
    // Closing the main window ends the application even while the plot is open.
    curveDialog->setAttribute(Qt::WA_QuitOnClose, false);
    connect(curveDialog.data(), &CurrentDialog::closed, this, &ItCurvePage::windowClosed);
    curveDialog->show();
    ui.seriesStart->setEnabled(true);
    ui.seriesStop->setEnabled(true);
    return curveDialog.data();
}

void ItCurvePage::startSeries()
{
    if (!state.running && !m_runSeries) {
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
    if (m_runSeries) {
        std::vector<double> seconds;
        std::vector<std::vector<double>> currents;
        m_runSeries(cells, seconds, currents);
        if (curveDialog)
            curveDialog->showWholeRun(seconds, currents);
        return;
    }
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
    worker.endSeries();
    ui.seriesStart->setEnabled(false);
    ui.seriesStop->setEnabled(false);
}

void ItCurvePage::seriesArrived(std::shared_ptr<std::vector<std::vector<double>>> data, double time)
{
    if (curveDialog)
        curveDialog->appendSeries(std::move(data), time);
}
