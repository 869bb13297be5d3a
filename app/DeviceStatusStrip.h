#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>

class QLabel;

// What the status strip shows about the device.
struct DeviceStatus
{
    enum class State { Disconnected, NotConfigured, Connected, Capturing };

    State state = State::Disconnected;
    QString backend;                       // "simulator" or "d2xx"
    QString serial;                        // of the open device; empty when none
    std::optional<double> rangeNa;         // the range the device acknowledged on this connection
    std::uint32_t integrationCount = 0;    // with it
    std::optional<double> batteryVolts;    // empty: unknown

    bool operator==(const DeviceStatus &other) const;
};

// A strip along the live picture that says what the device is doing: backend
// and serial, state, the applied range with its integration time and the
// frame rate to expect, and the battery in volts.
//
// Thread contract: GUI thread only.
class DeviceStatusStrip : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceStatusStrip(QWidget *parent = nullptr);

    void showStatus(const DeviceStatus &status);
    const DeviceStatus &status() const { return m_status; }

    static QString stateText(DeviceStatus::State state);
    QString deviceText() const;
    QString timingText() const;
    QString batteryText() const;
    QString stateShown() const;

private:
    QLabel *addLabel(const char *name);

    DeviceStatus m_status;
    QLabel *m_device = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_timing = nullptr;
    QLabel *m_battery = nullptr;
};
