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
    , m_ui(widgets)
    , m_state(state)
    , m_worker(worker)
    , m_session(session)
    , m_gate(gate)
    , m_summary(summary)
    , m_message(std::move(message))
{
    if (m_ui.gear)
        connect(m_ui.gear, &QLineEdit::textChanged, this, &ParameterPanel::showRangeTiming);
}

std::optional<double> ParameterPanel::selectedRange() const
{
    if (m_ui.typedRange->isChecked())
        return parseTypedRange(m_ui.gear->text());
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
    IntegrationSearch::State next = m_search;
    IntegrationSearch::run(m_table, *range, next);
    return FrameTiming::summary(*range, std::uint32_t(next.integrationCount));
}

void ParameterPanel::showRangeTiming()
{
    if (m_ui.rangeTiming)
        m_ui.rangeTiming->setText(selectedRangeTiming());
}

void ParameterPanel::selectRange(QObject *sender, bool checked)
{
    if (!checked)
        return;
    showRangeTiming();
    if (sender == m_ui.typedRange) {
        // The typed range takes effect when Setting is pressed.
        m_ui.typedRangeField->show();
        return;
    }
    for (const auto &[button, range] : fixedRanges()) {
        if (sender == button) {
            m_ui.typedRangeField->hide();
            chooseRange(range);
        }
    }
}

std::vector<ParameterPanel::FixedRange> ParameterPanel::fixedRanges() const
{
    return {{m_ui.range800, 800.0}, {m_ui.range100, 100.0}, {m_ui.range10, 10.0}, {m_ui.range1, 1.0}};
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
    for (const QLineEdit *edit : {m_ui.vbias1, m_ui.voff, m_ui.vbias2, m_ui.von}) {
        if (edit->text().isEmpty())
            return false;
    }
    return true;
}

void ParameterPanel::applySettings()
{
    if (m_state.running) {
        m_message(QStringLiteral("Setting is not available during data collection."));
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
            m_message(sentence);
    };
    if (!fieldsComplete()) {
        refuse(QStringLiteral("input fields are empty"));
        return;
    }
    // The fields' validators do not guard values restored from the settings
    // store, nor half-typed ones ("-"): nothing is sent unless all four parse.
    QString refusal;
    const std::optional<BiasVoltages> voltages =
        BiasVoltages::parse(m_ui.vbias1->text(), m_ui.vbias2->text(), m_ui.von->text(), m_ui.voff->text(), &refusal);
    if (!voltages) {
        refuse(refusal);
        return;
    }
    double range = chosenRange();
    if (m_ui.typedRange->isChecked()) {
        // An empty or zero range would make the search divide by zero.
        const std::optional<double> typed = parseTypedRange(m_ui.gear->text());
        if (!typed) {
            refuse(QStringLiteral("Please enter a current range from 1 to 800 nA."));
            return;
        }
        range = *typed;
    }

    const ParameterSet chosen = ParameterSet::choose(range, *voltages, m_search, m_table);
    if (!chosen.integrationFound)
        m_log.line("No suitable integration time found within the specified range.");
    m_command = chosen.command;
    m_log.hexBytes(m_command.data(), int(m_command.size()));

    // The worker may still be finishing the frame of the last stop.
    m_gate.whenParked(WorkerGate::Job::Parameters, [this, chosen, quiet] { send(chosen, quiet); });
}

void ParameterPanel::send(const ParameterSet &chosen, bool quiet)
{
    m_answer = m_session.sendParameters(chosen.command);
    if (!m_answer.acknowledged) {
        // The device kept its parameters, so the console keeps its own.
        if (!quiet)
            m_message(QStringLiteral("Parameter setting failed."));
        m_log.line("Parameter setting failed.");
        if (m_answer.corrupt)
            m_log.line(DeviceSession::corruptAnswer(m_session.serial(), QStringLiteral("parameter command"), m_answer)
                        .toUtf8());
        return;
    }
    m_state.configured = true;
    m_search = chosen.integration;
    m_sent = chosen.voltages;
    chooseRange(chosen.rangeNa);
    chosen.applyTo(m_worker, m_table);
    m_summary = chosen.summary();
    m_log.line("Parameter setting successful.");
    emit configured();
    if (!quiet)
        m_message(QStringLiteral("Parameter setting successful."));
}

RunMetadata ParameterPanel::runMetadata(double currentRangeNa, const QString &backend) const
{
    const BiasVoltages &sent = m_sent;
    RunMetadata metadata;
    metadata.vbias1Volts = sent.vbias1;
    metadata.vbias2Volts = sent.vbias2;
    metadata.vonVolts = sent.von;
    metadata.voffVolts = sent.voff;
    metadata.currentRangeNa = currentRangeNa;
    metadata.integrationCount = std::uint32_t(m_search.integrationCount);
    metadata.deviceSerial = QString::fromLatin1(DeviceSession::kSerialNumber);
    metadata.backend = backend;
    metadata.consoleVersion = QStringLiteral(TESSIVO_VERSION);
    metadata.startTime = std::chrono::system_clock::now();
    return metadata;
}
