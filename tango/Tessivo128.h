#pragma once

#include <tango.h>

#include "tango/DetectorControl.h"
#include "tango/FrameEventPump.h"

#include <QElapsedTimer>

#include <array>
#include <memory>
#include <string>

class ConsoleContext;

// The Tango device of one ZK128 (class Tessivo128): its state machine, the
// commands and attributes over DetectorControl, and the events. Frames reach
// the clients through the FrameEventPump's thread; the slower readings are
// compared every tick and pushed when they changed, the frame rate once a
// second.
//
// Thread contract: the command and attribute callbacks come on omniORB
// threads, serialised by Tango's device monitor, and only they touch the
// read buffers. The pump's thread pushes every reading under that
// attribute's mutex (which Tango holds while it answers a read), State and
// Status under the device monitor (AutoTangoMonitor); it alone touches
// `m_pushed*`.
class Tessivo128 : public TANGO_BASE_CLASS
{
public:
    static constexpr int kSide = 128;

    Tessivo128(Tango::DeviceClass *cl, const char *name, const ConsoleContext &context);
    ~Tessivo128() override;

    void init_device() override;
    void delete_device() override;
    Tango::DevState dev_state() override;
    Tango::ConstDevString dev_status() override;

    DetectorControl &control() { return *m_control; }
    FrameEventPump &pump() { return *m_pump; }
    double frameRate() const { return m_frameRate.load(); }

    // Logs the sentence and throws it as a DevFailed when it is not empty.
    void refuseIf(const QString &sentence, const char *origin) const;

    // Storage the attribute reads point Tango at until the reply is sent.
    struct ReadBuffers {
        std::array<Tango::DevLong, 4> longs{};
        std::array<Tango::DevLong64, 4> longs64{};
        std::array<Tango::DevDouble, 8> doubles{};
        Tango::DevBoolean boolean = false;
        Tango::DevShort battery = 0;
        std::array<std::string, 8> texts;
        std::array<Tango::DevString, 8> textPointers{};
        FrameEventPump::Frame frame;
    };
    ReadBuffers &buffers() { return m_buffers; }
    // Points slot `index` at a copy of the text and hands it to the attribute.
    void setText(Tango::Attribute &attribute, int index, const QString &text);

private:
    void publishFrame(const FrameEventPump::Frame &frame);
    void publishReadings();
    void publishState(Tango::DevState state, const QString &status);
    omni_mutex &attributeMutex(const char *name);
    void pushIfChanged(const char *name, Tango::DevLong64 value, Tango::DevLong64 &pushed);
    void pushTextIfChanged(const char *name, const QString &value, QString &pushed);

    const ConsoleContext &m_context;
    std::unique_ptr<DetectorControl> m_control;
    std::unique_ptr<FrameEventPump> m_pump;
    ReadBuffers m_buffers;
    Tango::Attribute *m_currentAttribute = nullptr; // set in init_device, before the pump runs
    Tango::Attribute *m_grayAttribute = nullptr;
    std::string m_statusText; // monitor held

    // The pump's thread only: what was pushed last.
    Tango::DevState m_pushedState = Tango::UNKNOWN;
    QString m_pushedStatus;
    Tango::DevLong64 m_pushedBattery = -1;
    Tango::DevLong64 m_pushedProgress = -1;
    Tango::DevLong64 m_pushedReceived = -1;
    Tango::DevLong64 m_pushedTimedOut = -1;
    Tango::DevLong64 m_pushedDiscarded = -1;
    QString m_pushedOutcome;
    QElapsedTimer m_rateClock;
    std::uint64_t m_rateFrames = 0;
    std::atomic<double> m_frameRate{0.0}; // written by the pump's thread, read by attribute reads
};
