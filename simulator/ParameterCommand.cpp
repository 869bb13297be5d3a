#include "simulator/ParameterCommand.h"

#include "simulator/CommandParser.h"

#include <cmath>

namespace {
constexpr double kIntegralCurrents[4] = {12.5, 50.0, 100.0, 150.0};
constexpr double kIntegrationScale = 0.9574142156862745;
constexpr int kLargestRangeNa = 800;

std::uint16_t field16(const std::uint8_t *p)
{
    return std::uint16_t((p[0] << 8) | p[1]);
}
} // namespace

std::optional<ParameterCommand> ParameterCommand::parse(const std::uint8_t *bytes, std::size_t length)
{
    if (!bytes || length != Length || bytes[2] != Code
        || !CommandParser::isValidFrame(bytes, length, CommandParser::FromHost))
        return std::nullopt;
    ParameterCommand command;
    command.vonField = field16(bytes + 3);
    command.voffField = field16(bytes + 5);
    command.vbias1Field = field16(bytes + 7);
    command.vbias2Field = field16(bytes + 9);
    command.candidateIndex = bytes[11];
    command.rangeByte = bytes[12];
    command.integrationCount = (std::uint32_t(bytes[13]) << 16) | (std::uint32_t(bytes[14]) << 8) | bytes[15];
    return command;
}

double ParameterCommand::rangeFromByte(std::uint8_t rangeByte, std::uint8_t candidateIndex, std::uint32_t count)
{
    if (count > 0 && candidateIndex < 4) {
        const double implied = kIntegrationScale * kIntegralCurrents[candidateIndex] * 1e6 / (25.0 * count);
        int best = 0;
        for (int range = rangeByte; range <= kLargestRangeNa; range += 256) {
            if (range == 0)
                continue;
            if (best == 0 || std::abs(range - implied) < std::abs(best - implied))
                best = range;
        }
        if (best > 0 && std::abs(best - implied) <= 0.01 * best)
            return best;
    }
    if (rangeByte == 0x20)
        return 800.0;
    if (rangeByte == 0x00)
        return 256.0;
    return rangeByte;
}

double ParameterCommand::voltsFromField(std::uint16_t field)
{
    return double(field >> 4) / 512.0 * 5.0 - 20.0;
}

double ParameterCommand::rangeNa() const
{
    return rangeFromByte(rangeByte, candidateIndex, integrationCount);
}
