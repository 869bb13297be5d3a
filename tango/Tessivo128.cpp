#include "tango/Tessivo128.h"

#include "context/ConsoleContext.h"

#include <cstdlib>

namespace {

Tango::DevState tangoState(DetectorControl::State state)
{
    switch (state) {
    case DetectorControl::State::Off: return Tango::OFF;
    case DetectorControl::State::On: return Tango::ON;
    case DetectorControl::State::Running: return Tango::RUNNING;
    case DetectorControl::State::Fault: return Tango::FAULT;
    }
    return Tango::UNKNOWN;
}

// Attributes whose events the server pushes itself, without Tango's checks.
const char *const kPushedAttributes[] = {"State",          "Status",         "Battery",         "SaveProgress",
                                         "LastRunOutcome", "FramesReceived", "FramesTimedOut", "FramesDiscarded",
                                         "FrameRate",      "Current",        "Gray"};

} // namespace

Tessivo128::Tessivo128(Tango::DeviceClass *cl, const char *name, const ConsoleContext &context)
    : TANGO_BASE_CLASS(cl, name)
    , m_context(context)
{
    init_device();
}

Tessivo128::~Tessivo128()
{
    delete_device();
}

void Tessivo128::init_device()
{
    QString serial;
    if (Tango::Util::_UseDb) {
        Tango::DbData data;
        data.push_back(Tango::DbDatum("SerialNumber"));
        get_db_device()->get_property(data);
        std::string value;
        if (!data[0].is_empty() && (data[0] >> value))
            serial = QString::fromStdString(value).trimmed();
    }
    for (const char *name : kPushedAttributes)
        set_change_event(name, true, false);
    set_data_ready_event("Current", true);
    set_data_ready_event("Gray", true);
    m_currentAttribute = &get_device_attr()->get_attr_by_name("Current");
    m_grayAttribute = &get_device_attr()->get_attr_by_name("Gray");
    m_rateClock.start();
    m_pump = std::make_unique<FrameEventPump>([this](const FrameEventPump::Frame &frame) { publishFrame(frame); },
                                              [this] { publishReadings(); });
    m_control = std::make_unique<DetectorControl>(
        m_context, serial,
        [pump = m_pump.get()](const CurrentFrame &currents, const std::vector<std::uint8_t> &gray) {
            pump->offer(currents, gray);
        });
    set_state(Tango::OFF);
}

void Tessivo128::delete_device()
{
    if (!m_pump)
        return;
    const bool pumpEnded = m_pump->finish(); // no more pushes or watches
    if (!pumpEnded)
        m_context.log().line("Image events are held by a client that stopped reading; the device closes without them.");
    m_control.reset(); // ends a save run as partial, stops the capture, closes the device
    if (pumpEnded) {
        m_pump.reset();
        return;
    }
    // The pump's thread still runs inside Tango's event call, so neither it nor
    // Tango's own teardown may go on: a server that is ending ends here (the
    // device is closed and the run on disk), otherwise the pump stays alive.
    if (Tango::Util::instance()->is_svr_shutting_down())
        std::_Exit(0);
    (void)m_pump.release();
}

Tango::DevState Tessivo128::dev_state()
{
    const Tango::DevState state = tangoState(m_control->state());
    set_state(state);
    return state;
}

Tango::ConstDevString Tessivo128::dev_status()
{
    m_statusText = m_control->status().toStdString();
    set_status(m_statusText);
    return TANGO_BASE_CLASS::dev_status();
}

void Tessivo128::refuseIf(const QString &sentence, const char *origin) const
{
    if (sentence.isEmpty())
        return;
    m_context.log().line(sentence.toUtf8());
    Tango::Except::throw_exception("Tessivo128_Refused", sentence.toStdString(), origin);
}

void Tessivo128::setText(Tango::Attribute &attribute, int index, const QString &text)
{
    m_buffers.texts[std::size_t(index)] = text.toStdString();
    m_buffers.textPointers[std::size_t(index)] = const_cast<char *>(m_buffers.texts[std::size_t(index)].c_str());
    attribute.set_value(&m_buffers.textPointers[std::size_t(index)]);
}

void Tessivo128::publishFrame(const FrameEventPump::Frame &frame)
{
    // The event's time is the frame's arrival, so clients see how old it is.
    timeval arrived = frame.arrived;
    try {
        // Each image under its attribute's own mutex, which a client's read
        // holds too (serialisation by kernel), not the device monitor: a push
        // held up by a slow client must not hold up the other clients' calls.
        {
            omni_mutex_lock lock(*m_currentAttribute->get_attr_mutex());
            push_change_event("Current", const_cast<Tango::DevDouble *>(frame.currents.data()), arrived,
                              Tango::ATTR_VALID, kSide, kSide, false);
            push_data_ready_event("Current", Tango::DevLong(frame.number));
        }
        omni_mutex_lock lock(*m_grayAttribute->get_attr_mutex());
        push_change_event("Gray", const_cast<Tango::DevUChar *>(frame.gray.data()), arrived, Tango::ATTR_VALID, kSide,
                          kSide, false);
        push_data_ready_event("Gray", Tango::DevLong(frame.number));
    } catch (const Tango::DevFailed &failure) {
        // A busy monitor (a long command) or a client gone: the next frame tries again.
        Q_UNUSED(failure);
    }
}

void Tessivo128::pushIfChanged(const char *name, Tango::DevLong64 value, Tango::DevLong64 &pushed)
{
    if (value == pushed)
        return;
    omni_mutex_lock lock(attributeMutex(name));
    push_change_event(name, &value);
    pushed = value;
}

void Tessivo128::pushTextIfChanged(const char *name, const QString &value, QString &pushed)
{
    if (value == pushed)
        return;
    std::string text = value.toStdString();
    Tango::DevString pointer = const_cast<char *>(text.c_str());
    omni_mutex_lock lock(attributeMutex(name));
    push_change_event(name, &pointer);
    pushed = value;
}

omni_mutex &Tessivo128::attributeMutex(const char *name)
{
    return *get_device_attr()->get_attr_by_name(name).get_attr_mutex();
}

void Tessivo128::publishState(Tango::DevState state, const QString &status)
{
    if (state == m_pushedState && status == m_pushedStatus)
        return;
    // The device's state and status texts are the monitor's to guard.
    Tango::AutoTangoMonitor sync(this);
    if (state != m_pushedState) {
        set_state(state);
        push_change_event("State");
        m_pushedState = state;
    }
    if (status != m_pushedStatus) {
        m_statusText = status.toStdString();
        set_status(m_statusText);
        push_change_event("Status");
        m_pushedStatus = status;
    }
}

void Tessivo128::publishReadings()
{
    m_control->watch();
    const FrameHealth health = m_control->health();
    const std::optional<int> battery = m_control->batteryPercent();
    const Tango::DevState state = tangoState(m_control->state());
    // Each reading under its attribute's mutex (which Tango holds while it
    // answers a read), not the device monitor: events held up by a slow
    // client then never hold up the other clients' calls.
    try {
        publishState(state, m_control->status());
        if (battery.value_or(-1) != m_pushedBattery) {
            Tango::DevShort percent = Tango::DevShort(battery.value_or(0));
            timeval now{};
            gettimeofday(&now, nullptr);
            omni_mutex_lock lock(attributeMutex("Battery"));
            push_change_event("Battery", &percent, now, battery ? Tango::ATTR_VALID : Tango::ATTR_INVALID);
            m_pushedBattery = battery.value_or(-1);
        }
        pushIfChanged("SaveProgress", m_control->saveProgress(), m_pushedProgress);
        pushTextIfChanged("LastRunOutcome", m_control->lastOutcome().sentence, m_pushedOutcome);
        pushIfChanged("FramesReceived", Tango::DevLong64(health.received), m_pushedReceived);
        pushIfChanged("FramesTimedOut", Tango::DevLong64(health.timedOut), m_pushedTimedOut);
        pushIfChanged("FramesDiscarded", Tango::DevLong64(health.discarded), m_pushedDiscarded);
        if (m_rateClock.elapsed() >= 1000) {
            const std::uint64_t frames = m_pump->frames();
            const std::uint64_t counted = frames >= m_rateFrames ? frames - m_rateFrames : frames;
            const qint64 elapsedMs = m_rateClock.restart();
            Tango::DevDouble rate = state == Tango::RUNNING ? double(counted) * 1000.0 / double(elapsedMs) : 0.0;
            m_rateFrames = frames;
            m_frameRate.store(rate);
            omni_mutex_lock lock(attributeMutex("FrameRate"));
            push_change_event("FrameRate", &rate);
        }
    } catch (const Tango::DevFailed &failure) {
        // The monitor stayed busy: the next tick compares again.
        Q_UNUSED(failure);
    }
}
