#pragma once

#include "app/ConsoleState.h"
#include "acquisition/SaveRunPlan.h"
#include "app/OperatorMessage.h"
#include "device/AcknowledgementWait.h"
#include "device/DeviceProtocol.h"
#include "operation/BiasVoltages.h"
#include "operation/IntegrationSearch.h"

#include <QObject>
#include <QString>

#include <optional>
#include <vector>

class EventLog;
class AcquisitionSettings;
class DeviceSession;
class QLabel;
class QLineEdit;
class QRadioButton;
class QWidget;
class AcquisitionSettings;
class WorkerGate;
struct ParameterSet;

// The widgets of the settings page.
struct ParameterWidgets
{
    QRadioButton *range800 = nullptr;   // radioButton_800
    QRadioButton *range100 = nullptr;   // radioButton_100
    QRadioButton *range10 = nullptr;    // radioButton_10
    QRadioButton *range1 = nullptr;     // radioButton_1
    QRadioButton *typedRange = nullptr; // radioButton_optional_gear
    QWidget *typedRangeField = nullptr; // widget_range
    QLineEdit *gear = nullptr;          // lineEdit_gear
    QLineEdit *vbias1 = nullptr;        // lineEdit_vc
    QLineEdit *vbias2 = nullptr;        // lineEdit_vd
    QLineEdit *von = nullptr;           // lineEdit_von
    QLineEdit *voff = nullptr;          // lineEdit_voff
    QLabel *rangeTiming = nullptr;      // beside the range: its integration time and frame rate, or null
};

// The settings page: the range buttons and the Setting flow, which checks the
// four voltages, chooses the integration parameters, sends the 18-byte
// parameter command, waits for the device's acknowledgement and only then
// hands the values to the worker and rewrites the parameter summary stored
// with saved data: a refused command changes nothing.
//
// Thread contract: GUI thread only; the command is sent through the
// WorkerGate, so only while the worker is parked.
class ParameterPanel : public QObject
{
    Q_OBJECT

public:
    // summary is the window's parameter summary, rewritten by each Setting.
    ParameterPanel(const ParameterWidgets &widgets, ConsoleState &state, AcquisitionSettings &worker,
                   DeviceSession &session, WorkerGate &gate, QString &summary,
                   EventLog &log, OperatorMessage::Sink message = OperatorMessage::modalBox(), QObject *parent = nullptr);

    // The four fixed range buttons with their ranges, 800, 100, 10, 1 nA.
    struct FixedRange {
        QRadioButton *button;
        double nanoAmperes;
    };
    std::vector<FixedRange> fixedRanges() const;

    // A range radio button toggled; sender is that button.
    void selectRange(QObject *sender, bool checked);
    // The range the operator chose: the last fixed button checked, or the
    // typed range once a Setting carried it (200 nA before either). The
    // device converts with the range it acknowledged last, which the capture
    // loop holds (AcquisitionSettings::currentRangeValue).
    double chosenRange() const { return m_chosenRange; }
    void chooseRange(double nanoAmperes) { m_chosenRange = nanoAmperes; }
    // The Setting button.
    void applySettings();
    // Connect: sends the parameters the fields hold when they are valid, and
    // waits for the acknowledgement, logged as Setting logs it but without a
    // message box. Invalid fields or a refusal leave the device unconfigured.
    void applyStored();

    const IntegrationSearch::State &searchState() const { return m_search; }
    const std::vector<double> &integralCurrentTable() const { return m_table; }
    // The command of the last Setting that got as far as sending (empty before).
    const DeviceProtocol::Frame &lastCommand() const { return m_command; }
    // The voltages the device acknowledged last (all zero before).
    const BiasVoltages &sentVoltages() const { return m_sent; }
    // What a save run records of the instrument now: the acknowledged
    // voltages and integration count, with the range frames are converted on.
    RunMetadata runMetadata(double currentRangeNa, const QString &backend) const;
    // How the last exchange of the parameter command went.
    const AcknowledgementWait::Result &lastAnswer() const { return m_answer; }

    // The typed range when it is a whole number from 1 to 800.
    static std::optional<double> parseTypedRange(const QString &text);
    // The range the form selects (the typed one when it is chosen and valid).
    std::optional<double> selectedRange() const;
    // What the selected range means: "100 nA: integration 91.9 ms, about
    // 10.7 frames/s"; empty while the typed range is not valid.
    QString selectedRangeTiming() const;
    // Rewrites the label beside the range.
    void showRangeTiming();

signals:
    // The device acknowledged a parameter set: range, integration and
    // voltages above are now the ones it runs with.
    void configured();

private:
    EventLog &m_log; // safe from any thread
    bool fieldsComplete() const;
    void apply(bool quiet);
    void send(const ParameterSet &chosen, bool quiet);

    ParameterWidgets m_ui;
    ConsoleState &m_state;
    AcquisitionSettings &m_worker; // the capture loop's settings
    DeviceSession &m_session;
    WorkerGate &m_gate;
    QString &m_summary;
    OperatorMessage::Sink m_message;

    std::vector<double> m_table = IntegrationSearch::defaultTable(); // integral-current candidates
    IntegrationSearch::State m_search;
    DeviceProtocol::Frame m_command;
    AcknowledgementWait::Result m_answer;
    BiasVoltages m_sent;
    double m_chosenRange = 200.0; // nA
};
