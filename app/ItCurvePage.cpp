#include "app/ItCurvePage.h"

#include "acquisition/PixelReadout.h"
#include "analysis/CurrentDialog.h"

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
    for (int k = 1; k <= ItCurvePage::kChannels; ++k) {
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
    , m_ui(buildWidgets(container))
    , m_state(state)
    , m_worker(worker)
    , m_range(std::move(range))
    , m_message(std::move(message))
{
    for (int k = 1; k <= kChannels; ++k)
        connect(m_ui.channelRadios[std::size_t(k - 1)], &QRadioButton::clicked, this, [this, k] { pickChannel(k); });
    connect(m_ui.openCurve, &QPushButton::clicked, this, &ItCurvePage::openWindow);
    connect(m_ui.seriesStart, &QPushButton::clicked, this, &ItCurvePage::startSeries);
    connect(m_ui.seriesStop, &QPushButton::clicked, this, &ItCurvePage::stopSeries);
}

ItCurvePage::~ItCurvePage()
{
    // The plot window has no parent; it must not stay on screen (and keep
    // the application alive) once the main window is gone.
    delete m_curveDialog.data();
}

CurrentDialog *ItCurvePage::window() const
{
    return m_curveDialog.data();
}

void ItCurvePage::pickChannel(int k)
{
    if (k < 1 || k > kChannels)
        return;
    m_coordinateTargetArmed = true;
    m_coordinateTarget = k;
    writeClickedCell(k);
}

void ItCurvePage::pickCell(int column, int row)
{
    m_clickedRow = row;
    m_clickedColumn = column;
    if (m_coordinateTargetArmed && m_coordinateTarget != -1)
        writeClickedCell(m_coordinateTarget);
}

void ItCurvePage::writeClickedCell(int k)
{
    m_ui.xEdits[k - 1]->setText(QString::number(m_clickedRow));
    m_ui.yEdits[k - 1]->setText(QString::number(m_clickedColumn));
}

CurrentDialog *ItCurvePage::openWindow()
{
    if (m_curveDialog) {
        m_curveDialog->activateWindow();
        m_curveDialog->raise();
        return nullptr;
    }
    m_ui.openCurve->setText(QStringLiteral("It-Curve"));
    m_curveDialog = new CurrentDialog(nullptr, int(m_range()));
    m_curveDialog->setWindowTitle(QStringLiteral("It"));
    // Closing the main window ends the application even while the plot is open.
    m_curveDialog->setAttribute(Qt::WA_QuitOnClose, false);
    connect(m_curveDialog.data(), &CurrentDialog::closed, this, &ItCurvePage::forgetWindow);
    m_curveDialog->show();
    m_ui.seriesStart->setEnabled(true);
    m_ui.seriesStop->setEnabled(true);
    return m_curveDialog.data();
}

void ItCurvePage::startSeries()
{
    if (!m_state.running && !m_runSeries) {
        m_message(QStringLiteral("Please Start capture first!"));
        return;
    }
    std::vector<int> cells;
    for (int k = 0; k < kChannels; ++k) {
        if (!m_ui.channelCheckBoxes[k]->isChecked())
            continue;
        const std::optional<int> row = coordinate(m_ui.xEdits[k]->text());
        const std::optional<int> column = coordinate(m_ui.yEdits[k]->text());
        if (!row || !column) {
            // A cell off the matrix would plot nothing, or the wrong cell.
            m_message(QStringLiteral("CH%1: x and y must be whole numbers from 0 to 127.").arg(k + 1));
            return;
        }
        cells.push_back(cellIndex(*row, *column));
    }
    if (cells.empty()) {
        m_message(QStringLiteral("NO channel selected."));
        return;
    }
    m_seriesCells = cells;
    if (m_runSeries) {
        std::vector<double> seconds;
        std::vector<std::vector<double>> currents;
        m_runSeries(cells, seconds, currents);
        if (m_curveDialog)
            m_curveDialog->showWholeRun(seconds, currents);
        return;
    }
    m_worker.startSeries(std::move(cells));
    m_ui.seriesStart->setEnabled(false);
}

void ItCurvePage::stopSeries()
{
    // A later start continues the time axis where this one stopped.
    m_worker.stopSeries();
    m_ui.seriesStart->setEnabled(true);
}

std::optional<int> ItCurvePage::coordinate(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < 0 || value >= kMatrixSide)
        return std::nullopt;
    return value;
}

void ItCurvePage::forgetWindow()
{
    if (m_curveDialog) {
        m_curveDialog->deleteLater();
        m_curveDialog.clear();
    }
    m_ui.openCurve->setText(QStringLiteral("Open It-Curve"));
    m_worker.endSeries();
    m_ui.seriesStart->setEnabled(false);
    m_ui.seriesStop->setEnabled(false);
}

void ItCurvePage::addSeriesStep(std::shared_ptr<std::vector<std::vector<double>>> data, double time)
{
    if (m_curveDialog)
        m_curveDialog->appendSeries(std::move(data), time);
}
