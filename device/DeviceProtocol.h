#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The byte frames host and device exchange. A command frame is AE AA, a
// command code, an optional payload, a checksum (the low 8 bits of the sum of
// every byte before it) and 0A; the device's reply frames carry CC in place of
// AA. Pure functions: nothing here talks to the device.
class DeviceProtocol
{
public:
    using Frame = std::vector<std::uint8_t>;
    using Acknowledgement = std::array<std::uint8_t, 5>;

    static constexpr std::uint8_t Header = 0xAE;
    static constexpr std::uint8_t HostMarker = 0xAA;
    static constexpr std::uint8_t DeviceMarker = 0xCC;
    static constexpr std::uint8_t Terminator = 0x0A;

    enum class Code : std::uint8_t {
        Handshake = 0x00,
        Parameters = 0x01,
        Start = 0x02,
        Stop = 0x03,
        BatteryQuery = 0x04,
        FrameRequest = 0x05,
    };

    // What the parameter command carries, as the parameter panel chose it.
    struct Parameters {
        double vonVolts = 0.0;
        double voffVolts = 0.0;
        double vbias1Volts = 0.0;
        double vbias2Volts = 0.0;
        int candidateIndex = 0;          // 0..3, from the integration search
        double currentRangeNa = 200.0;   // 1..800
        std::uint32_t integrationCount = 0; // 24 bits on the wire
    };

    static std::uint8_t checksum(const std::uint8_t *bytes, std::size_t count);

    // AE AA code (0x58 + code) 0A.
    static Frame command(Code code);
    static Frame handshake() { return command(Code::Handshake); }
    static Frame start() { return command(Code::Start); }
    static Frame stop() { return command(Code::Stop); }
    static Frame batteryQuery() { return command(Code::BatteryQuery); }
    static Frame frameRequest() { return command(Code::FrameRequest); }

    // The 18-byte parameter command.
    static Frame parameterCommand(const Parameters &parameters);

    // The DAC code of a voltage: (V + 20) / 5 x 512, halves away from zero,
    // held to the 12 bits the DAC has (0..4095); a value that is not a number
    // gives the 0 V code.
    static std::uint16_t dacCode(double volts);
    // The 16-bit voltage field: the DAC code in the upper 12 bits.
    static std::uint16_t voltageField(double volts);
    // Byte 12: the low 8 bits of the whole nanoamperes of the range.
    static std::uint8_t rangeByte(double currentRangeNa);

    // The reply that acknowledges a command: AE CC code checksum 0A.
    static Acknowledgement acknowledgement(Code code);

    // The reading of the battery answer AE CC 04 hi lo checksum 0A found in
    // the bytes read: hi and lo. Only a whole answer with its checksum and
    // terminator gives a reading: a cut answer would read as a lower voltage
    // than the battery has. Bytes that hold no complete battery answer (a cut
    // one, another command's answer) give no reading. received is how many
    // bytes are valid.
    static std::optional<std::uint16_t> batteryReading(const std::uint8_t *answer, std::size_t received);
    static double batteryVolts(std::uint16_t reading);
    // Width in pixels (0..16) of the battery gauge: the voltage held to
    // 1.65..2.075 V and scaled to 16, truncated.
    static int batteryGaugeWidth(std::uint16_t reading);

    static constexpr int GaugeFullWidth = 16;
    static constexpr std::size_t ParameterCommandLength = 18;
    static constexpr std::size_t BatteryAnswerLength = 7;
};
