#include "ParameterPanel.h"

#include "AcknowledgementWait.h"
#include "CurrentRange.h"
#include "Log.h"
#include "ReceiverThread.h"
#include "WorkerParking.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QThread>
#include <QWidget>

ParameterPanel::ParameterPanel(const ParameterWidgets &widgets, ConsoleState &state, ReceiverThread &worker,
                               const QThread &workerThread, D2xxBackend &backend, QString &summary,
                               OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , workerThread(workerThread)
    , backend(backend)
    , summary(summary)
    , message(std::move(message))
{
}

void ParameterPanel::rangeToggled(QObject *sender, bool checked)
{
    if (!checked)
        return;
    if (sender == ui.typedRange) {
        // The typed range takes effect when Setting is pressed.
        ui.typedRangeField->show();
        return;
    }
    const std::pair<QRadioButton *, double> fixed[] = {
        {ui.range800, 800.0}, {ui.range100, 100.0}, {ui.range10, 10.0}, {ui.range1, 1.0}};
    for (const auto &[button, range] : fixed) {
        if (sender == button) {
            ui.typedRangeField->hide();
            CurrentRange::set(range);
        }
    }
}

std::optional<double> ParameterPanel::parseTypedRange(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < 1 || value > 800)
        return std::nullopt;
    return double(value);
}

QString ParameterPanel::summaryText(double rangeNa, const QString &vbias1, const QString &vbias2,
                                    const QString &von, const QString &voff)
{
    return QStringLiteral("Current:") + QString::number(rangeNa, 'g', 6) + '\n' + QStringLiteral("Vbias1:")
           + vbias1 + '\n' + QStringLiteral("Vbias2:") + vbias2 + '\n' + QStringLiteral("Von:") + von + '\n'
           + QStringLiteral("Voff:") + voff + '\n';
}

bool ParameterPanel::fieldsComplete() const
{
    for (const QLineEdit *edit : {ui.vbias1, ui.voff, ui.vbias2, ui.von}) {
        if (edit->text().isEmpty())
            return false;
    }
    return true;
}

void ParameterPanel::applySettings()
{
    if (state.running) {
        message(QStringLiteral("Setting is not available during data collection."));
        return;
    }
    if (!fieldsComplete()) {
        message(QStringLiteral("input fields are empty"));
        return;
    }
    if (ui.typedRange->isChecked()) {
        // An empty or zero range would make the search divide by zero.
        const std::optional<double> typed = parseTypedRange(ui.gear->text());
        if (!typed) {
            message(QStringLiteral("Please enter a current range from 1 to 800 nA."));
            return;
        }
        CurrentRange::set(*typed);
    }
    const double range = CurrentRange::value();

    if (!IntegrationSearch::run(table, range, search))
        logLine("No suitable integration time found within the specified range.");

    worker.setCurrentRange(int(range));

    DeviceProtocol::Parameters parameters;
    parameters.vonVolts = ui.von->text().toDouble();
    parameters.voffVolts = ui.voff->text().toDouble();
    parameters.vbias1Volts = ui.vbias1->text().toDouble();
    parameters.vbias2Volts = ui.vbias2->text().toDouble();
    parameters.candidateIndex = search.candidateIndex;
    parameters.currentRangeNa = range;
    parameters.integrationCount = std::uint32_t(search.integrationCount);
    command = DeviceProtocol::parameterCommand(parameters);

    summary = summaryText(range, ui.vbias1->text(), ui.vbias2->text(), ui.von->text(), ui.voff->text());
    worker.setVideoFps(18);
    logHexBytes(command.data(), int(command.size()));

    if (sendAndConfirm()) {
        logLine("Parameter setting successful.");
        message(QStringLiteral("Parameter setting successful."));
        worker.setIntegralCurrent(IntegrationSearch::integralCurrent(table, search));
        worker.setIntegralTime(IntegrationSearch::integralTime(search));
    } else {
        message(QStringLiteral("Parameter setting failed."));
        logLine("Parameter setting failed.");
    }
}

bool ParameterPanel::sendAndConfirm()
{
    // The worker may still be finishing the frame of the last stop.
    if (!WorkerParking::ensureParked(worker, workerThread)) {
        logLine("The capture did not finish in time; the parameters were not sent.");
        return false;
    }
    const AcknowledgementWait::Result result = AcknowledgementWait(backend, state.deviceHandle).sendParameterCommand(command);
    state.deviceStatus = result.lastStatus;
    return result.acknowledged;
}
