#include "ZK128Device.h"

#include "CommandParser.h"
#include "DigitScene.h"
#include "ParameterCommand.h"
#include "ReceiveQueue.h"
#include "SensorModel.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

using Clock = std::chrono::steady_clock;

namespace {
constexpr std::uint8_t kHandshake = 0x00;
constexpr std::uint8_t kParameters = 0x01;
constexpr std::uint8_t kStart = 0x02;
constexpr std::uint8_t kStop = 0x03;
constexpr std::uint8_t kBattery = 0x04;
constexpr std::uint8_t kFrame = 0x05;

constexpr std::uint8_t kPowerOnRangeByte = 0x20;
constexpr double kPowerOnRangeNa = 800.0;
constexpr std::uint8_t kPowerOnCandidate = 3;
constexpr std::uint32_t kPowerOnCount = 7180;
constexpr double kCountSeconds = 12.5e-9;
constexpr int kRowsPerFrame = 128;
constexpr std::size_t kBatteryAnswerBytes = 7;
} // namespace

struct ZK128Device::State {
    State(std::uint32_t seed, std::optional<std::uint32_t> noiseSeed) : sensor(seed, noiseSeed) {}

    mutable std::mutex mutex;
    std::condition_variable changed; // more bytes may be visible, or the link changed

    // Physics. Guarded by mutex.
    SensorModel sensor;
    DigitScene digits;
    bool lampOn = true;
    double lampNa = -1.0;            // < 0: follow the range
    double lampFraction = 0.6;
    double noiseNa = -1.0;           // < 0: follow the range
    double noiseFraction = 0.002;
    Scene scene = Scene::CyclingDigits;
    int fixedDigit = 0;
    int fixedSample = 0;
    std::chrono::milliseconds digitPeriod{3000};
    Clock::time_point sceneEpoch = Clock::now();
    std::uint16_t battery = 2400;

    // Link. Guarded by mutex, except hotplug which is only copied under it.
    bool plugged = true;
    std::uint64_t generation = 0;
    Clock::time_point pluggedAt = Clock::now();
    std::chrono::milliseconds serialDelay{0};
    std::function<void(bool)> hotplug;
    CommandParser parser;
    ReceiveQueue queue;
    std::chrono::microseconds replyDelay{1000};
    Clock::time_point integrationFreeAt = Clock::now();

    // Device registers, reset by a replug. Guarded by mutex.
    std::uint8_t rangeByte = kPowerOnRangeByte;
    double rangeNa = kPowerOnRangeNa;
    std::uint32_t count = kPowerOnCount;
    std::uint8_t frameCounter = 0;
    std::optional<std::uint32_t> countOverride; // not a register: a replug keeps it
    std::uint64_t framesSent = 0;

    // Faults and the host's record. Guarded by mutex.
    int readFailures = 0;
    std::vector<std::uint8_t> stray;
    std::size_t cut = 0;
    bool answering = true;
    bool handshakeAnswered = true;
    bool corruptAcks = false;
    std::size_t batteryLength = kBatteryAnswerBytes;
    std::deque<std::vector<std::uint8_t>> commands; // the last kCommandHistory
    std::uint64_t malformed = 0;

    // ---- helpers, called with mutex held ----
    double effectiveLampNa() const { return lampOn ? (lampNa >= 0 ? lampNa : lampFraction * rangeNa) : 0.0; }
    double effectiveNoiseNa() const { return noiseNa >= 0 ? noiseNa : noiseFraction * rangeNa; }
    std::uint32_t countInEffect() const { return countOverride.value_or(count); }
    double periodSeconds() const { return double(countInEffect()) * kCountSeconds * kRowsPerFrame; }
    int cycleStep(Clock::time_point at) const;
    int digitAt(Clock::time_point at) const;
    const std::vector<float> &lightAt(Clock::time_point at);
    void powerOn(Clock::time_point now);
    void handle(const std::vector<std::uint8_t> &command, Clock::time_point now);
    void reply(std::vector<std::uint8_t> bytes, Clock::time_point now);
    void acknowledge(std::uint8_t code, Clock::time_point now);
    void answerBattery(Clock::time_point now);
    void applyParameters(const std::vector<std::uint8_t> &command);
    void queueFrame(Clock::time_point now);
    std::vector<std::uint8_t> buildFrame(Clock::time_point integrationEnd);
};

int ZK128Device::State::cycleStep(Clock::time_point at) const
{
    const auto period = std::max<std::chrono::milliseconds::rep>(1, digitPeriod.count());
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(at - sceneEpoch).count();
    return int((std::max<std::int64_t>(0, elapsed) / period) % (10 * DigitScene::SamplesPerDigit));
}

int ZK128Device::State::digitAt(Clock::time_point at) const
{
    switch (scene) {
    case Scene::Uniform: return -1;
    case Scene::FixedDigit: return fixedDigit;
    case Scene::CyclingDigits: return cycleStep(at) % 10;
    }
    return -1;
}

const std::vector<float> &ZK128Device::State::lightAt(Clock::time_point at)
{
    switch (scene) {
    case Scene::Uniform: return digits.uniform();
    case Scene::FixedDigit: return digits.transmission(fixedDigit, fixedSample);
    case Scene::CyclingDigits: {
        const int step = cycleStep(at);
        return digits.transmission(step % 10, step / 10);
    }
    }
    return digits.uniform();
}

void ZK128Device::State::powerOn(Clock::time_point now)
{
    pluggedAt = now;
    integrationFreeAt = now;
    rangeByte = kPowerOnRangeByte;
    rangeNa = kPowerOnRangeNa;
    count = kPowerOnCount;
    frameCounter = 0;
    queue.clear();
    parser.clear();
}

void ZK128Device::State::reply(std::vector<std::uint8_t> bytes, Clock::time_point now)
{
    queue.push(std::move(bytes), now + replyDelay);
}

void ZK128Device::State::acknowledge(std::uint8_t code, Clock::time_point now)
{
    std::vector<std::uint8_t> ack{CommandParser::Start, CommandParser::FromDevice, code, 0, CommandParser::End};
    ack[3] = std::uint8_t(CommandParser::checksum(ack.data(), 3) + (corruptAcks ? 1 : 0));
    reply(std::move(ack), now);
}

void ZK128Device::State::answerBattery(Clock::time_point now)
{
    std::vector<std::uint8_t> answer{CommandParser::Start, CommandParser::FromDevice, kBattery,
                                     std::uint8_t(battery >> 8), std::uint8_t(battery & 0xFF), 0,
                                     CommandParser::End};
    answer[5] = CommandParser::checksum(answer.data(), 5);
    answer.resize(batteryLength);
    reply(std::move(answer), now);
}

void ZK128Device::State::applyParameters(const std::vector<std::uint8_t> &command)
{
    const auto parameters = ParameterCommand::parse(command.data(), command.size());
    if (!parameters) {
        ++malformed;
        return;
    }
    rangeByte = parameters->rangeByte;
    rangeNa = parameters->rangeNa();
    count = parameters->integrationCount;
}

void ZK128Device::State::handle(const std::vector<std::uint8_t> &command, Clock::time_point now)
{
    switch (command[2]) {
    case kHandshake:
        if (handshakeAnswered)
            acknowledge(kHandshake, now);
        break;
    case kParameters: {
        const std::uint64_t before = malformed;
        applyParameters(command);
        if (malformed == before)
            acknowledge(kParameters, now);
        break;
    }
    case kStart:
    case kStop:
        acknowledge(command[2], now);
        break;
    case kBattery:
        answerBattery(now);
        break;
    case kFrame:
        if (answering)
            queueFrame(now);
        break;
    default:
        break; // the device ignores codes it does not know
    }
}

std::vector<std::uint8_t> ZK128Device::State::buildFrame(Clock::time_point integrationEnd)
{
    std::vector<std::uint8_t> frame(FrameBytes);
    frame[0] = CommandParser::Start;
    frame[1] = CommandParser::FromDevice;
    frame[2] = kFrame;
    sensor.sampleFrame(lightAt(integrationEnd), effectiveLampNa(), rangeNa, effectiveNoiseNa(), frame.data() + 3);
    frame[FrameBytes - 2] = frameCounter++;
    frame[FrameBytes - 1] = CommandParser::checksum(frame.data(), FrameBytes - 1);
    return frame;
}

void ZK128Device::State::queueFrame(Clock::time_point now)
{
    const Clock::time_point start = std::max(now, integrationFreeAt);
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(periodSeconds()));
    const Clock::time_point ready = start + period;
    integrationFreeAt = ready;

    std::vector<std::uint8_t> frame = buildFrame(ready);
    frame.resize(frame.size() - std::min(cut, frame.size()));
    cut = 0;
    if (!stray.empty()) {
        frame.insert(frame.begin(), stray.begin(), stray.end());
        stray.clear();
    }
    ++framesSent;
    queue.push(std::move(frame), ready);
}

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
