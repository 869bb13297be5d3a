#pragma once

#include "device/AcknowledgementWait.h"
#include "device/BatteryQuery.h"
#include "device/D2xxBackend.h"
#include "device/DeviceProtocol.h"

#include <QString>

#include <chrono>
#include <functional>
#include <vector>

// The console's own conversation with the ZK128 outside a capture, without
// any widget: listing the attached devices, opening by serial number, the
// connection set-up, the handshake, the parameter command, the battery query,
// the probe that tells whether the held device still answers, and closing.
// The window's controllers and tessivo128-capture both speak through it, so
// both send the same bytes in the same order with the same waits.
//
// Before the parameter command and the battery query it drops whatever the
// receive queue holds: an answer meant for someone else (the acquisition
// loop's late stop acknowledgement) must never be read as the answer to this
// exchange.
//
// Thread contract: one thread at a time uses a session (the GUI thread, the
// window's connect attempt thread while the GUI thread keeps off it, or the
// tool's main thread); enumerate() reads no session state. The caller makes
// sure the acquisition worker is parked while the session exchanges with the
// device.
class DeviceSession
{
public:
    static constexpr const char *kSerialNumber = "ZK128";
    // No more records are ever allocated for the device list, whatever count
    // the library reports.
    static constexpr DWORD kMaxDevices = 64;
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    struct Listing {
        enum class Outcome { Listed, NoDevices, ListFailed, InfoFailed };
        Outcome outcome = Outcome::NoDevices;
        std::vector<QString> serials; // in list order; empty text where not yet readable
        // Every listed device has a readable serial number.
        bool allReadable() const;
    };

    // sleeper defaults to a real sleep of the calling thread.
    explicit DeviceSession(D2xxBackend &backend, Sleeper sleeper = {});

    Listing enumerate();
    // FT_OpenEx by the serial number "ZK128" (the first ZK128 the library
    // finds); keeps the handle on success.
    FT_STATUS open();
    // FT_OpenEx by the given serial number, as enumerate() lists it.
    FT_STATUS open(const QString &serialNumber);
    // Reset, purge both queues, synchronous FIFO, 64 KiB transfers, RTS/CTS,
    // 2000 ms read and 1000 ms write time-outs. Only the reset's status is kept.
    void configure();
    // AE AA 00 58 0A, then up to 10 checks 100 ms apart.
    AcknowledgementWait::Result handshake();
    // The 18-byte parameter command, then up to 10 checks 50 ms apart.
    AcknowledgementWait::Result sendParameters(const DeviceProtocol::Frame &command);
    BatteryQuery::Result readBattery();
    // Asks the held handle for its queue status: not FT_OK once the device is gone.
    FT_STATUS probe();
    // Closes the held handle (if any) and forgets it.
    FT_STATUS close();

    // "The device ZK128 answered the handshake with a corrupt acknowledgement:
    // AE CC 00 00 0A." for an answer whose checksum or terminator was wrong.
    static QString corruptAnswer(const QString &serial, const QString &command,
                                 const AcknowledgementWait::Result &answer);

    FT_HANDLE handle() const { return m_handle; }
    bool isOpen() const { return m_handle != nullptr; }
    // The serial number the held device was opened by (the last one opened).
    const QString &serial() const { return m_serial; }
    // The status of the session's last D2XX call.
    FT_STATUS lastStatus() const { return m_lastStatus; }

private:
    void dropStaleAnswers();

    D2xxBackend &m_backend;
    Sleeper m_sleep;
    FT_HANDLE m_handle = nullptr;
    QString m_serial = QString::fromLatin1(kSerialNumber);
    FT_STATUS m_lastStatus = FT_OK;
};
