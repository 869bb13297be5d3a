#include "app/DeviceStatusStrip.h"

#include "device/BatteryReport.h"
#include "operation/FrameTiming.h"

#include <QHBoxLayout>
#include <QLabel>

namespace {

// The window's palette: the navigation's gray, the play button's gold and
// red, the form's dark text.
const char *const kStripSheet =
    "QWidget#statusStrip { background-color: rgb(240, 243, 246); border-radius: 5px; }"
    "QLabel { color: #333333; font-family: Arial; font-size: 8pt; background: transparent; }";

QString stateSheet(DeviceStatus::State state)
{
    const char *colour = "#888888";
    switch (state) {
    case DeviceStatus::State::Capturing: colour = "rgb(208, 61, 79)"; break;
    case DeviceStatus::State::Connected: colour = "#9A7741"; break;
    case DeviceStatus::State::NotConfigured: colour = "#D9822B"; break;
    case DeviceStatus::State::Disconnected: break;
    }
    return QStringLiteral("QLabel { background-color: %1; color: white; font-family: Arial; font-size: 8pt;"
                          " font-weight: bold; border-radius: 4px; padding: 1px 4px; }")
        .arg(QLatin1String(colour));
}

} // namespace

bool DeviceStatus::operator==(const DeviceStatus &other) const
{
    return state == other.state && backend == other.backend && serial == other.serial && rangeNa == other.rangeNa
           && integrationCount == other.integrationCount && batteryVolts == other.batteryVolts;
}

DeviceStatusStrip::DeviceStatusStrip(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusStrip"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QString::fromLatin1(kStripSheet));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->setSpacing(4);
    m_device = addLabel("label_status_device");
    m_state = addLabel("label_status_state");
    m_timing = addLabel("label_status_timing");
    m_battery = addLabel("label_status_battery");
    layout->addStretch(1);
    m_status.state = DeviceStatus::State::Connected; // anything but the first status, so it is drawn
    showStatus(DeviceStatus());
}

QLabel *DeviceStatusStrip::addLabel(const char *name)
{
    auto *label = new QLabel(this);
    label->setObjectName(QString::fromLatin1(name));
    layout()->addWidget(label);
    return label;
}

QString DeviceStatusStrip::stateText(DeviceStatus::State state)
{
    switch (state) {
    case DeviceStatus::State::Capturing: return QStringLiteral("capturing");
    case DeviceStatus::State::Connected: return QStringLiteral("connected");
    case DeviceStatus::State::NotConfigured: return QStringLiteral("not configured");
    case DeviceStatus::State::Disconnected: break;
    }
    return QStringLiteral("disconnected");
}

QString DeviceStatusStrip::deviceText() const
{
    const QString backend = m_status.backend == QLatin1String("d2xx") ? QStringLiteral("D2XX")
                                                                       : QStringLiteral("Simulator");
    return m_status.serial.isEmpty() ? backend : QStringLiteral("%1 %2").arg(backend, m_status.serial);
}

QString DeviceStatusStrip::timingText() const
{
    if (!m_status.rangeNa)
        return QStringLiteral("range not set");
    const double fps = FrameTiming::expectedFramesPerSecond(m_status.integrationCount);
    return QStringLiteral("%1 nA, %2 ms, %3 fps")
        .arg(*m_status.rangeNa, 0, 'g', 6)
        .arg(FrameTiming::integrationMs(m_status.integrationCount), 0, 'f', 1)
        .arg(fps, 0, 'f', fps < 10 ? 2 : 1);
}

QString DeviceStatusStrip::batteryText() const
{
    if (m_status.state == DeviceStatus::State::Disconnected)
        return QStringLiteral("battery -");
    return QStringLiteral("battery %1").arg(BatteryReport::text(m_status.batteryVolts));
}

QString DeviceStatusStrip::stateShown() const
{
    return m_state->text();
}

void DeviceStatusStrip::showStatus(const DeviceStatus &status)
{
    if (status == m_status)
        return;
    m_status = status;
    m_device->setText(deviceText());
    m_state->setText(stateText(status.state));
    m_state->setStyleSheet(stateSheet(status.state));
    m_timing->setText(timingText());
    m_timing->setToolTip(status.rangeNa ? FrameTiming::summary(*status.rangeNa, status.integrationCount)
                                        : QStringLiteral("No parameters acknowledged on this connection"));
    m_battery->setText(batteryText());
}
