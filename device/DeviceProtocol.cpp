#include "device/DeviceProtocol.h"

#include <algorithm>
#include <iterator>
#include <cmath>

std::uint8_t DeviceProtocol::checksum(const std::uint8_t *bytes, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

DeviceProtocol::Frame DeviceProtocol::command(Code code)
{
    Frame frame{Header, HostMarker, static_cast<std::uint8_t>(code)};
    frame.push_back(checksum(frame.data(), frame.size()));
    frame.push_back(Terminator);
    return frame;
}

std::uint16_t DeviceProtocol::dacCode(double volts)
{
    if (std::isnan(volts))
        volts = 0.0;
    const double exact = (volts + 20.0) / 5.0 * 512.0;
    // Clamping before rounding keeps infinities and wild inputs away from
    // lround; the DAC has 12 bits, and a code of 4096 would wrap the field to 0.
    const double held = std::clamp(exact, 0.0, 4095.0);
    return static_cast<std::uint16_t>(std::lround(held)); // halves away from zero
}

std::uint16_t DeviceProtocol::voltageField(double volts)
{
    return static_cast<std::uint16_t>(dacCode(volts) << 4);
}

std::uint8_t DeviceProtocol::rangeByte(double currentRangeNa)
{
    if (!std::isfinite(currentRangeNa))
        return 0;
    // Held to a span the integer conversion can take; the accepted ranges are 1..800.
    const double whole = std::trunc(std::clamp(currentRangeNa, -1e9, 1e9));
    return static_cast<std::uint8_t>(static_cast<long long>(whole) & 0xFF);
}

DeviceProtocol::Frame DeviceProtocol::parameterCommand(const Parameters &p)
{
    Frame frame{Header, HostMarker, static_cast<std::uint8_t>(Code::Parameters)};
    frame.reserve(ParameterCommandLength);
    for (double volts : {p.vonVolts, p.voffVolts, p.vbias1Volts, p.vbias2Volts}) {
        const std::uint16_t field = voltageField(volts);
        frame.push_back(static_cast<std::uint8_t>(field >> 8));
        frame.push_back(static_cast<std::uint8_t>(field & 0xFF));
    }
    frame.push_back(static_cast<std::uint8_t>(std::clamp(p.candidateIndex, 0, 3)));
    frame.push_back(rangeByte(p.currentRangeNa));
    // A count beyond 24 bits is held at the largest one rather than wrapped to a
    // short integration.
    const std::uint32_t count = std::min<std::uint32_t>(p.integrationCount, 0xFFFFFF);
    frame.push_back(static_cast<std::uint8_t>(count >> 16));
    frame.push_back(static_cast<std::uint8_t>((count >> 8) & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(count & 0xFF));
    frame.push_back(checksum(frame.data(), frame.size()));
    frame.push_back(Terminator);
    return frame;
}

DeviceProtocol::Acknowledgement DeviceProtocol::acknowledgement(Code code)
{
    Acknowledgement reply{Header, DeviceMarker, static_cast<std::uint8_t>(code), 0, Terminator};
    reply[3] = checksum(reply.data(), 3);
    return reply;
}

std::optional<std::uint16_t> DeviceProtocol::batteryReading(const std::uint8_t *answer, std::size_t received)
{
    if (!answer || received == 0)
        return std::nullopt;
    const std::uint8_t header[] = {Header, DeviceMarker, std::uint8_t(Code::BatteryQuery)};
    const std::uint8_t *end = answer + received;
    const std::uint8_t *found = std::search(answer, end, std::begin(header), std::end(header));
    if (end - found < std::ptrdiff_t(BatteryAnswerLength))
        return std::nullopt;
    if (found[5] != checksum(found, 5) || found[6] != Terminator)
        return std::nullopt;
    return static_cast<std::uint16_t>(found[3] << 8 | found[4]);
}

double DeviceProtocol::batteryVolts(std::uint16_t reading)
{
    return reading * 3.3 / 4096.0;
}

int DeviceProtocol::batteryGaugeWidth(std::uint16_t reading)
{
    return static_cast<int>(batteryCharge(batteryVolts(reading)) * GaugeFullWidth);
}

double DeviceProtocol::batteryCharge(double volts)
{
    constexpr double empty = 1.65;
    constexpr double full = 2.075;
    return (std::clamp(volts, empty, full) - empty) / (full - empty);
}
