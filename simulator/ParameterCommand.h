#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// The 18-byte parameter command as the device decodes it:
//   AE AA 01 | Von Voff Vbias1 Vbias2 (16-bit fields, big-endian, DAC code << 4)
//   | candidate index | range byte | integration count (24 bits, big-endian)
//   | checksum | 0A
class ParameterCommand
{
public:
    static constexpr std::size_t Length = 18;
    static constexpr std::uint8_t Code = 0x01;

    // Empty unless bytes is exactly one well-formed parameter command.
    static std::optional<ParameterCommand> parse(const std::uint8_t *bytes, std::size_t length);

    // The range byte carries only the low 8 bits of the range in nA, so several
    // ranges share a byte (0x20: 32, 288, 544 and 800 nA). The device settles it
    // with the integration count, which the host derives from the range by
    //     count = trunc(0.9574142156862745 x current[candidate] / range x 1e6 / 25)
    // with current = 12.5, 50, 100, 150: the range that shares the byte and lies
    // within 1 % of the one implied by the count wins. When the count does not
    // settle it (count 0, an unknown candidate, no such range), 0x20 means
    // 800 nA, 0x00 means 256 nA and any other byte is the range itself.
    static double rangeFromByte(std::uint8_t rangeByte, std::uint8_t candidateIndex, std::uint32_t count);
    // Volts of a voltage field: the DAC code (upper 12 bits) maps 0..4096 to -20..+20 V.
    static double voltsFromField(std::uint16_t field);

    std::uint16_t vonField = 0;
    std::uint16_t voffField = 0;
    std::uint16_t vbias1Field = 0;
    std::uint16_t vbias2Field = 0;
    std::uint8_t candidateIndex = 0;
    std::uint8_t rangeByte = 0;
    std::uint32_t integrationCount = 0;

    double rangeNa() const;
};
