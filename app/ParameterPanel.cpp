#include "ParameterPanel.h"

#include "BiasVoltages.h"
#include "DeviceSession.h"
#include "Log.h"
#include "ParameterSet.h"
#include "ReceiverThread.h"
#include "WorkerGate.h"

#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>

ParameterPanel::ParameterPanel(const ParameterWidgets &widgets, ConsoleState &state, ReceiverThread &worker,
                               DeviceSession &session, WorkerGate &gate, QString &summary,
                               OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , session(session)
    , gate(gate)
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
    for (const auto &[button, range] : fixedRanges()) {
        if (sender == button) {
            ui.typedRangeField->hide();
            selectRange(range);
        }
    }
}

std::vector<ParameterPanel::FixedRange> ParameterPanel::fixedRanges() const
{
    return {{ui.range800, 800.0}, {ui.range100, 100.0}, {ui.range10, 10.0}, {ui.range1, 1.0}};
}

std::optional<double> ParameterPanel::parseTypedRange(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < 1 || value > 800)
        return std::nullopt;
    return double(value);
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
    // The fields' validators do not guard values restored from the settings
    // store, nor half-typed ones ("-"): nothing is sent unless all four parse.
    QString refusal;
    const std::optional<BiasVoltages> voltages =
        BiasVoltages::parse(ui.vbias1->text(), ui.vbias2->text(), ui.von->text(), ui.voff->text(), &refusal);
    if (!voltages) {
        message(refusal);
        return;
    }
    double range = selectedRange();
    if (ui.typedRange->isChecked()) {
        // An empty or zero range would make the search divide by zero.
        const std::optional<double> typed = parseTypedRange(ui.gear->text());
        if (!typed) {
            message(QStringLiteral("Please enter a current range from 1 to 800 nA."));
            return;
        }
        range = *typed;
    }

    const ParameterSet chosen = ParameterSet::choose(range, *voltages, search, table);
    if (!chosen.integrationFound)
        logLine("No suitable integration time found within the specified range.");
    command = chosen.command;
    logHexBytes(command.data(), int(command.size()));

    // The worker may still be finishing the frame of the last stop.
    gate.whenParked(WorkerGate::Job::Parameters, [this, chosen] { send(chosen); });
}

void ParameterPanel::send(const ParameterSet &chosen)
{
    answer = session.sendParameters(chosen.command);
    if (!answer.acknowledged) {
        // The device kept its parameters, so the console keeps its own.
        message(QStringLiteral("Parameter setting failed."));
        logLine("Parameter setting failed.");
        return;
    }
    search = chosen.integration;
    sent = chosen.voltages;
    selectRange(chosen.rangeNa);
    chosen.applyTo(worker, table);
    summary = chosen.summary();
    logLine("Parameter setting successful.");
    message(QStringLiteral("Parameter setting successful."));
}
