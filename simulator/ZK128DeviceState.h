#pragma once

#include "simulator/ZK128Device.h"

#include "simulator/CommandParser.h"
#include "simulator/DigitScene.h"
#include "simulator/ReceiveQueue.h"
#include "simulator/SensorModel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

// The device's command codes and power-on registers.
namespace ZK128Registers {
inline constexpr std::uint8_t kHandshake = 0x00;
inline constexpr std::uint8_t kParameters = 0x01;
inline constexpr std::uint8_t kStart = 0x02;
inline constexpr std::uint8_t kStop = 0x03;
inline constexpr std::uint8_t kBattery = 0x04;
inline constexpr std::uint8_t kFrame = 0x05;

inline constexpr std::uint8_t kPowerOnRangeByte = 0x20;
inline constexpr double kPowerOnRangeNa = 800.0;
inline constexpr std::uint8_t kPowerOnCandidate = 3;
inline constexpr std::uint32_t kPowerOnCount = 7180;
inline constexpr double kCountSeconds = 12.5e-9;
inline constexpr int kRowsPerFrame = 128;
inline constexpr std::size_t kBatteryAnswerBytes = 7;
} // namespace ZK128Registers

// The simulated device's state behind ZK128Device: physics, link, registers,
// faults and the record of what the host sent, with the handling of each
// command. Private to the simulator.
struct ZK128Device::State {
    using Clock = std::chrono::steady_clock;

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
    std::uint8_t rangeByte = ZK128Registers::kPowerOnRangeByte;
    double rangeNa = ZK128Registers::kPowerOnRangeNa;
    std::uint32_t count = ZK128Registers::kPowerOnCount;
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
    std::size_t batteryLength = ZK128Registers::kBatteryAnswerBytes;
    std::deque<std::vector<std::uint8_t>> commands; // the last kCommandHistory
    std::uint64_t malformed = 0;

    // ---- helpers, called with mutex held ----
    double effectiveLampNa() const { return lampOn ? (lampNa >= 0 ? lampNa : lampFraction * rangeNa) : 0.0; }
    double effectiveNoiseNa() const { return noiseNa >= 0 ? noiseNa : noiseFraction * rangeNa; }
    std::uint32_t countInEffect() const { return countOverride.value_or(count); }
    double periodSeconds() const { return double(countInEffect()) * ZK128Registers::kCountSeconds * ZK128Registers::kRowsPerFrame; }
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
