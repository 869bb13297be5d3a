#include "simulator/ZK128Device.h"

#include "simulator/ZK128DeviceState.h"

#include <algorithm>

using namespace ZK128Registers;
using Clock = std::chrono::steady_clock;

// ---- construction -------------------------------------------------------------

ZK128Device::ZK128Device(std::uint32_t seed, std::optional<std::uint32_t> noiseSeed)
    : d(std::make_unique<State>(seed, noiseSeed))
{
}

ZK128Device::~ZK128Device() = default;

// ---- scene and physics --------------------------------------------------------

void ZK128Device::setLampOn(bool on)
{
    std::lock_guard lock(d->mutex);
    d->lampOn = on;
}

bool ZK128Device::lampOn() const
{
    std::lock_guard lock(d->mutex);
    return d->lampOn;
}

void ZK128Device::setScene(Scene scene)
{
    std::lock_guard lock(d->mutex);
    d->scene = scene;
    d->sceneEpoch = Clock::now();
}

ZK128Device::Scene ZK128Device::scene() const
{
    std::lock_guard lock(d->mutex);
    return d->scene;
}

void ZK128Device::setFixedDigit(int digit, int sample)
{
    std::lock_guard lock(d->mutex);
    d->fixedDigit = std::clamp(digit, 0, 9);
    d->fixedSample = std::clamp(sample, 0, DigitScene::SamplesPerDigit - 1);
}

void ZK128Device::setDigitPeriod(std::chrono::milliseconds period)
{
    std::lock_guard lock(d->mutex);
    d->digitPeriod = std::max(std::chrono::milliseconds(1), period);
}

int ZK128Device::digitShown() const
{
    std::lock_guard lock(d->mutex);
    return d->digitAt(Clock::now());
}

void ZK128Device::setLampCurrentNa(double na)
{
    std::lock_guard lock(d->mutex);
    d->lampNa = std::max(0.0, na);
}

void ZK128Device::setLampFractionOfRange(double fraction)
{
    std::lock_guard lock(d->mutex);
    d->lampNa = -1.0;
    d->lampFraction = std::max(0.0, fraction);
}

double ZK128Device::lampCurrentNa() const
{
    std::lock_guard lock(d->mutex);
    return d->effectiveLampNa();
}

void ZK128Device::setNoiseNa(double sigmaNa)
{
    std::lock_guard lock(d->mutex);
    d->noiseNa = std::max(0.0, sigmaNa);
}

void ZK128Device::setNoiseFractionOfRange(double fraction)
{
    std::lock_guard lock(d->mutex);
    d->noiseNa = -1.0;
    d->noiseFraction = std::max(0.0, fraction);
}

double ZK128Device::noiseNa() const
{
    std::lock_guard lock(d->mutex);
    return d->effectiveNoiseNa();
}

void ZK128Device::setBatteryReading(std::uint16_t reading)
{
    std::lock_guard lock(d->mutex);
    d->battery = reading;
}

// ---- enumeration and hot plug -------------------------------------------------

void ZK128Device::unplug()
{
    std::function<void(bool)> callback;
    {
        std::lock_guard lock(d->mutex);
        if (!d->plugged)
            return;
        d->plugged = false;
        ++d->generation;
        d->queue.clear();
        d->parser.clear();
        callback = d->hotplug;
    }
    d->changed.notify_all(); // waiting reads fail at once
    if (callback)
        callback(false);
}

void ZK128Device::replug()
{
    std::function<void(bool)> callback;
    {
        std::lock_guard lock(d->mutex);
        if (d->plugged)
            return;
        d->plugged = true;
        d->powerOn(Clock::now());
        callback = d->hotplug;
    }
    if (callback)
        callback(true);
}

bool ZK128Device::isPlugged() const
{
    std::lock_guard lock(d->mutex);
    return d->plugged;
}

std::uint64_t ZK128Device::plugGeneration() const
{
    std::lock_guard lock(d->mutex);
    return d->generation;
}

void ZK128Device::setSerialUnreadableFor(std::chrono::milliseconds duration)
{
    std::lock_guard lock(d->mutex);
    d->serialDelay = std::max(std::chrono::milliseconds(0), duration);
}

std::string ZK128Device::serialNumber() const
{
    std::lock_guard lock(d->mutex);
    if (!d->plugged || Clock::now() < d->pluggedAt + d->serialDelay)
        return {};
    return SerialNumber;
}

void ZK128Device::setHotplugCallback(std::function<void(bool arrived)> callback)
{
    std::lock_guard lock(d->mutex);
    d->hotplug = std::move(callback);
}

// ---- timing -------------------------------------------------------------------

void ZK128Device::setUsbBytesPerSecond(double rate)
{
    std::lock_guard lock(d->mutex);
    d->queue.setBytesPerSecond(rate);
}

void ZK128Device::setChunkBytes(std::size_t bytes)
{
    std::lock_guard lock(d->mutex);
    d->queue.setChunkBytes(bytes);
}

void ZK128Device::setReplyDelay(std::chrono::microseconds delay)
{
    std::lock_guard lock(d->mutex);
    d->replyDelay = std::max(std::chrono::microseconds(0), delay);
}

void ZK128Device::setIntegrationCountOverride(std::optional<std::uint32_t> count)
{
    std::lock_guard lock(d->mutex);
    d->countOverride = count;
}

// ---- faults -------------------------------------------------------------------

void ZK128Device::failNextReads(int count)
{
    std::lock_guard lock(d->mutex);
    d->readFailures = std::max(0, count);
}

void ZK128Device::setStrayBytesBeforeNextFrame(std::vector<std::uint8_t> bytes)
{
    std::lock_guard lock(d->mutex);
    d->stray = std::move(bytes);
}

void ZK128Device::cutNextFrame(std::size_t bytesDropped)
{
    std::lock_guard lock(d->mutex);
    d->cut = bytesDropped;
}

void ZK128Device::setAnswering(bool answering)
{
    std::lock_guard lock(d->mutex);
    d->answering = answering;
}

void ZK128Device::setHandshakeAnswered(bool answered)
{
    std::lock_guard lock(d->mutex);
    d->handshakeAnswered = answered;
}

void ZK128Device::setCorruptAcknowledgements(bool corrupt)
{
    std::lock_guard lock(d->mutex);
    d->corruptAcks = corrupt;
}

void ZK128Device::setBatteryAnswerLength(std::size_t bytes)
{
    std::lock_guard lock(d->mutex);
    d->batteryLength = std::clamp<std::size_t>(bytes, 1, kBatteryAnswerBytes);
}

// ---- what the host did --------------------------------------------------------

std::vector<std::vector<std::uint8_t>> ZK128Device::receivedCommands() const
{
    std::lock_guard lock(d->mutex);
    return {d->commands.begin(), d->commands.end()};
}

std::vector<std::vector<std::uint8_t>> ZK128Device::takeReceivedCommands()
{
    std::lock_guard lock(d->mutex);
    std::vector<std::vector<std::uint8_t>> taken(std::make_move_iterator(d->commands.begin()),
                                                 std::make_move_iterator(d->commands.end()));
    d->commands.clear();
    return taken;
}

void ZK128Device::clearReceivedCommands()
{
    std::lock_guard lock(d->mutex);
    d->commands.clear();
}

std::uint64_t ZK128Device::malformedCommands() const
{
    std::lock_guard lock(d->mutex);
    return d->malformed;
}

std::uint8_t ZK128Device::rangeByte() const
{
    std::lock_guard lock(d->mutex);
    return d->rangeByte;
}

double ZK128Device::rangeNa() const
{
    std::lock_guard lock(d->mutex);
    return d->rangeNa;
}

std::uint32_t ZK128Device::integrationCount() const
{
    std::lock_guard lock(d->mutex);
    return d->countInEffect();
}

double ZK128Device::framePeriodSeconds() const
{
    std::lock_guard lock(d->mutex);
    return d->periodSeconds();
}

std::uint64_t ZK128Device::framesSent() const
{
    std::lock_guard lock(d->mutex);
    return d->framesSent;
}

double ZK128Device::expectedCurrentNa(int pixelIndex) const
{
    if (pixelIndex < 0 || pixelIndex >= PixelCount)
        return 0.0;
    std::lock_guard lock(d->mutex);
    const double light = d->lightAt(Clock::now())[std::size_t(pixelIndex)];
    return d->sensor.expectedNa(pixelIndex, d->effectiveLampNa() * light, d->rangeNa);
}

double ZK128Device::pixelGain(int pixelIndex) const
{
    if (pixelIndex < 0 || pixelIndex >= PixelCount)
        return 0.0;
    std::lock_guard lock(d->mutex);
    return d->sensor.gain(pixelIndex);
}

double ZK128Device::pixelOffsetNa(int pixelIndex) const
{
    if (pixelIndex < 0 || pixelIndex >= PixelCount)
        return 0.0;
    std::lock_guard lock(d->mutex);
    return d->sensor.offsetFraction(pixelIndex) * d->rangeNa;
}

// ---- host side ----------------------------------------------------------------

void ZK128Device::reset()
{
    {
        std::lock_guard lock(d->mutex);
        d->queue.clear();
        d->parser.clear();
        d->integrationFreeAt = Clock::now();
    }
    d->changed.notify_all();
}

void ZK128Device::purge(bool rx, bool tx)
{
    {
        std::lock_guard lock(d->mutex);
        if (rx) {
            d->queue.clear();
            d->integrationFreeAt = Clock::now();
        }
        if (tx)
            d->parser.clear();
    }
    d->changed.notify_all();
}

void ZK128Device::hostWrite(const std::uint8_t *data, std::size_t length)
{
    if (!data || length == 0)
        return;
    {
        std::lock_guard lock(d->mutex);
        if (!d->plugged)
            return;
        const Clock::time_point now = Clock::now();
        CommandParser::Result parsed = d->parser.feed(data, length);
        d->malformed += parsed.malformed;
        for (auto &command : parsed.commands) {
            d->handle(command, now);
            d->commands.push_back(std::move(command));
            // A console left capturing for hours sends hundreds of requests a second.
            if (d->commands.size() > kCommandHistory)
                d->commands.pop_front();
        }
    }
    d->changed.notify_all(); // a reader may now have an earlier arrival to wait for
}

std::size_t ZK128Device::bytesAvailable() const
{
    std::lock_guard lock(d->mutex);
    return d->plugged ? d->queue.available(Clock::now()) : 0;
}

ZK128Device::ReadResult ZK128Device::hostRead(std::uint8_t *buffer, std::size_t length, std::size_t *returned,
                                              std::chrono::milliseconds timeout)
{
    if (returned)
        *returned = 0;
    std::unique_lock lock(d->mutex);
    if (!d->plugged)
        return ReadResult::Failed;
    if (d->readFailures > 0) {
        --d->readFailures;
        return ReadResult::Failed;
    }
    if (!buffer || length == 0)
        return ReadResult::Ok;

    const std::uint64_t generation = d->generation;
    const bool unlimited = timeout.count() < 0;
    const Clock::time_point deadline = unlimited ? Clock::time_point::max() : Clock::now() + timeout;
    std::size_t got = 0;
    for (;;) {
        const Clock::time_point now = Clock::now();
        got += d->queue.take(buffer + got, length - got, now);
        if (got == length || (!unlimited && now >= deadline))
            break;
        const auto next = d->queue.nextArrival(now);
        if (next && *next < deadline)
            d->changed.wait_until(lock, *next);
        else if (unlimited)
            d->changed.wait(lock);
        else
            d->changed.wait_until(lock, deadline);
        if (!d->plugged || d->generation != generation)
            return ReadResult::Failed;
    }
    if (returned)
        *returned = got;
    return ReadResult::Ok;
}
