#pragma once

#include "acquisition/FrameTypes.h"
#include "app/ConsoleState.h"
#include "app/OperatorMessage.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CurrentDialog;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;
class PixelReadout;

// The widgets of the It-curve page (built inside widget_9): three channel rows
// and the three buttons.
struct ItCurveWidgets
{
    std::vector<QCheckBox *> channelCheckBoxes; // "CH1" .. "CH3"
    std::vector<QRadioButton *> channelRadios;  // picks the channel that takes double-clicked cells
    std::vector<QLineEdit *> xEdits;            // "x:" = row
    std::vector<QLineEdit *> yEdits;            // "y:" = column
    QPushButton *openCurve = nullptr;           // "Open It-Curve" / "It-Curve"
    QPushButton *seriesStart = nullptr;         // "Start Capture"
    QPushButton *seriesStop = nullptr;          // "Stop Capture"
};

// The It-curve page: picking cells by typing or double-clicking the live
// picture, the plot window, and starting and stopping the worker's pixel
// series. The plot window is a top-level window of its own; it is created on
// request, deleted once closed, and never outlives the page.
//
// Thread contract: GUI thread only. The worker is driven through
// setSeriesPixels, its atomic seriesEnabled flag and holdSeriesClock; its
// series arrive through a queued signal.
class ItCurvePage : public QObject
{
    Q_OBJECT

public:
    static constexpr int kChannels = 3;
    static constexpr int kMatrixSide = Zk128::Side;

    // Builds the page's widgets inside `container` (widget_9): "Open
    // It-Curve", the three channel rows (CH1 checked with 0, 0) and "Start
    // Capture" / "Stop Capture" (disabled).
    // range: the chosen current range in nA, which scales the plot.
    ItCurvePage(QWidget *container, const ConsoleState &state, PixelReadout &worker, std::function<double()> range,
                OperatorMessage::Sink message = OperatorMessage::modalBox(), QObject *parent = nullptr);
    const ItCurveWidgets &widgets() const { return m_ui; }
    ~ItCurvePage() override;

    // Channel k (1 to 3) takes the double-clicked cells from now on, and at
    // once the last one (0, 0 before any double-click).
    void pickChannel(int k);
    // A double-click on the live picture at (column, row).
    void pickCell(int column, int row);
    // Raises the open plot window, or opens a new, empty one (its closing is
    // wired to forgetWindow); returns the new window, or null when an open
    // one was raised.
    CurrentDialog *openWindow();
    void startSeries();
    void stopSeries();
    // The plot window reported closed.
    void forgetWindow();
    // While a recording is open: the chosen cells' currents over the whole
    // run (index x + 128 y), with the frames' times in s after the first.
    using RunSeries = std::function<void(const std::vector<int> &cells, std::vector<double> &seconds,
                                         std::vector<std::vector<double>> &currents)>;
    // "Start Capture" then plots the whole run at once; empty: live again.
    void setRunSeries(RunSeries source) { m_runSeries = std::move(source); }

    // One frame's series from the worker; dropped while no window is open.
    void addSeriesStep(std::shared_ptr<std::vector<std::vector<double>>> data, double time);

    CurrentDialog *window() const;
    const std::vector<int> &cells() const { return m_seriesCells; }
    int pickedChannel() const { return m_coordinateTargetArmed ? m_coordinateTarget : -1; }

    // A typed row or column: a whole number from 0 to 127, or nothing.
    static std::optional<int> coordinate(const QString &text);

private:
    static int cellIndex(int row, int column) { return column + kMatrixSide * row; }
    void writeClickedCell(int k);

    ItCurveWidgets m_ui;
    const ConsoleState &m_state;
    PixelReadout &m_worker; // the capture loop's pixel readout
    std::function<double()> m_range;
    OperatorMessage::Sink m_message;

    int m_clickedRow = 0;     // the cell of the last double-click
    int m_clickedColumn = 0;
    bool m_coordinateTargetArmed = false;
    int m_coordinateTarget = -1; // 1 to 3 once a channel was picked
    std::vector<int> m_seriesCells; // gathered by the last start
    QPointer<CurrentDialog> m_curveDialog;
    RunSeries m_runSeries;
};
