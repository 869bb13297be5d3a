#include "app/ParameterPanel.h"

#include "acquisition/AcquisitionSettings.h"
#include "app/WorkerGate.h"
#include "device/DeviceSession.h"
#include "operation/BiasVoltages.h"
#include "operation/FrameTiming.h"
#include "operation/ParameterSet.h"
#include "services/EventLog.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>

ParameterPanel::ParameterPanel(const ParameterWidgets &widgets, ConsoleState &state, AcquisitionSettings &worker,
                               DeviceSession &session, WorkerGate &gate, QString &summary,
                               EventLog &log, OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , m_log(log)
    , ui(widgets)
    , state(state)
    , worker(worker)
    , session(session)
    , gate(gate)
    , summary(summary)
    , message(std::move(message))
{
    if (ui.gear)
        connect(ui.gear, &QLineEdit::textChanged, this, &ParameterPanel::showRangeTiming);
}

std::optional<double> ParameterPanel::selectedRange() const
{
    if (ui.typedRange->isChecked())
        return parseTypedRange(ui.gear->text());
    for (const auto &[button, range] : fixedRanges()) {
        if (button->isChecked())
            return range;
    }
    return std::nullopt;
}

QString ParameterPanel::selectedRangeTiming() const
{
    const std::optional<double> range = selectedRange();
    if (!range)
        return QString();
    // The search Setting would run, from where the last one left it.
    IntegrationSearch::State next = search;
    IntegrationSearch::run(table, *range, next);
    return FrameTiming::summary(*range, std::uint32_t(next.integrationCount));
}

void ParameterPanel::showRangeTiming()
{
    if (ui.rangeTiming)
        ui.rangeTiming->setText(selectedRangeTiming());
}

void ParameterPanel::selectRange(QObject *sender, bool checked)
{
    if (!checked)
        return;
    showRangeTiming();
    if (sender == ui.typedRange) {
        // The typed range takes effect when Setting is pressed.
        ui.typedRangeField->show();
        return;
    }
    for (const auto &[button, range] : fixedRanges()) {
        if (sender == button) {
            ui.typedRangeField->hide();
            chooseRange(range);
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
    apply(false);
}

void ParameterPanel::applyStored()
{
    apply(true);
}

void ParameterPanel::apply(bool quiet)
{
    // On connect nothing is shown; the reason goes to the log instead.
    const auto refuse = [this, quiet](const QString &sentence) {
        if (quiet)
            m_log.line(QStringLiteral("The stored parameters were not sent: %1").arg(sentence).toUtf8());
        else
            message(sentence);
    };
    if (!fieldsComplete()) {
        refuse(QStringLiteral("input fields are empty"));
        return;
    }
    // The fields' validators do not guard values restored from the settings
    // store, nor half-typed ones ("-"): nothing is sent unless all four parse.
    QString refusal;
    const std::optional<BiasVoltages> voltages =
        BiasVoltages::parse(ui.vbias1->text(), ui.vbias2->text(), ui.von->text(), ui.voff->text(), &refusal);
    if (!voltages) {
        refuse(refusal);
        return;
    }
    double range = chosenRange();
    if (ui.typedRange->isChecked()) {
        // An empty or zero range would make the search divide by zero.
        const std::optional<double> typed = parseTypedRange(ui.gear->text());
        if (!typed) {
            refuse(QStringLiteral("Please enter a current range from 1 to 800 nA."));
            return;
        }
        range = *typed;
    }

    const ParameterSet chosen = ParameterSet::choose(range, *voltages, search, table);
    if (!chosen.integrationFound)
        m_log.line("No suitable integration time found within the specified range.");
    command = chosen.command;
    m_log.hexBytes(command.data(), int(command.size()));

    // The worker may still be finishing the frame of the last stop.
    gate.whenParked(WorkerGate::Job::Parameters, [this, chosen, quiet] { send(chosen, quiet); });
}

void ParameterPanel::send(const ParameterSet &chosen, bool quiet)
{
    answer = session.sendParameters(chosen.command);
    if (!answer.acknowledged) {
        // The device kept its parameters, so the console keeps its own.
        if (!quiet)
            message(QStringLiteral("Parameter setting failed."));
        m_log.line("Parameter setting failed.");
        if (answer.corrupt)
            m_log.line(DeviceSession::corruptAnswer(session.serial(), QStringLiteral("parameter command"), answer)
                        .toUtf8());
        return;
    }
    state.configured = true;
    search = chosen.integration;
    sent = chosen.voltages;
    chooseRange(chosen.rangeNa);
    chosen.applyTo(worker, table);
    summary = chosen.summary();
    m_log.line("Parameter setting successful.");
    emit configured();
    if (!quiet)
        message(QStringLiteral("Parameter setting successful."));
}
