#include "simulator/SensorModel.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr std::size_t kNormalTableSize = 1u << 16; // a power of two, so any odd stride visits every entry
}

SensorModel::SensorModel(std::uint32_t seed, std::optional<std::uint32_t> noiseSeed)
    : m_offset(PixelCount)
    , m_gain(PixelCount)
    , m_normalTable(kNormalTableSize)
    , m_noise(noiseSeed ? *noiseSeed : std::random_device{}())
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (float &deviate : m_normalTable)
        deviate = float(normal(m_noise));
    // A tilt whose direction depends on the seed, so two devices look different.
    std::uniform_real_distribution<double> angle(0.0, 2.0 * M_PI);
    const double tilt = angle(rng);
    const double tx = std::cos(tilt), ty = std::sin(tilt);
    for (int y = 0; y < Side; ++y) {
        for (int x = 0; x < Side; ++x) {
            const int i = x + Side * y;
            const double u = x / double(Side - 1) - 0.5, v = y / double(Side - 1) - 0.5;
            const double gradient = 0.5 + (u * tx + v * ty); // 0 .. 1 across the matrix, roughly
            const double offset = 0.02 + 0.025 * gradient + 0.004 * normal(rng);
            m_offset[i] = float(std::max(0.0, offset));
            const double rim = -0.25 * (u * u + v * v);      // about -12 % in the corners
            const double gain = 1.04 + rim + 0.06 * normal(rng);
            m_gain[i] = float(std::clamp(gain, 0.6, 1.4));
        }
    }
}

double SensorModel::offsetFraction(int pixel) const
{
    return m_offset[std::size_t(pixel)];
}

double SensorModel::gain(int pixel) const
{
    return m_gain[std::size_t(pixel)];
}

double SensorModel::expectedNa(int pixel, double illuminationNa, double rangeNa) const
{
    return offsetFraction(pixel) * rangeNa + gain(pixel) * illuminationNa;
}

void SensorModel::sampleFrame(const std::vector<float> &light, double lampNa, double rangeNa, double noiseSigmaNa,
                              std::uint8_t *out)
{
    const std::size_t mask = kNormalTableSize - 1;
    std::size_t index = m_noise() & mask;
    const std::size_t stride = (m_noise() & mask) | 1;
    const double sigma = std::max(0.0, noiseSigmaNa);
    for (int i = 0; i < PixelCount; ++i, out += 3) {
        const double current = expectedNa(i, lampNa * light[std::size_t(i)], rangeNa) + sigma * m_normalTable[index];
        index = (index + stride) & mask;
        const std::uint32_t raw = rawFromCurrent(current, rangeNa);
        out[0] = std::uint8_t(raw >> 16);
        out[1] = std::uint8_t(raw >> 8);
        out[2] = std::uint8_t(raw);
    }
}

std::uint32_t SensorModel::rawFromCurrent(double currentNa, double rangeNa)
{
    if (!(rangeNa > 0.0) || !(currentNa > 0.0))
        return 0;
    const double raw = std::round(currentNa / rangeNa * 1e6);
    return raw >= double(LargestRaw) ? LargestRaw : std::uint32_t(raw);
}
