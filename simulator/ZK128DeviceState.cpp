#include "simulator/ZK128DeviceState.h"

#include "simulator/ParameterCommand.h"

#include <algorithm>

using namespace ZK128Registers;
using Clock = std::chrono::steady_clock;

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

