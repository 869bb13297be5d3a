#include "simulator/DigitScene.h"

#include <algorithm>
#include <cmath>

// Generated at configure time from simulator/digits/mnist_digits.bin.
extern const unsigned char tessivoMnistDigits[];
extern const std::size_t tessivoMnistDigitsSize;

namespace {
constexpr std::size_t kDigitBytes = DigitScene::DigitSide * DigitScene::DigitSide;

double inkAt(const std::uint8_t *digit28, int x, int y)
{
    if (x < 0 || y < 0 || x >= DigitScene::DigitSide || y >= DigitScene::DigitSide)
        return 0.0;
    return digit28[x + DigitScene::DigitSide * y] / 255.0;
}
} // namespace

bool DigitScene::dataComplete()
{
    return tessivoMnistDigitsSize == 10 * SamplesPerDigit * kDigitBytes;
}

const std::uint8_t *DigitScene::digitPixels(int digit, int sample)
{
    if (digit < 0 || digit > 9 || sample < 0 || sample >= SamplesPerDigit || !dataComplete())
        return nullptr;
    return tessivoMnistDigits + std::size_t(digit * SamplesPerDigit + sample) * kDigitBytes;
}

std::vector<float> DigitScene::render(const std::uint8_t *digit28)
{
    std::vector<float> light(std::size_t(Side * Side), 1.0f);
    if (!digit28)
        return light;
    const int margin = (Side - ShownSide) / 2;
    const double scale = double(DigitSide) / ShownSide;
    for (int y = 0; y < ShownSide; ++y) {
        // Bilinear sampling at the centre of each shown pixel.
        const double sy = (y + 0.5) * scale - 0.5;
        const int y0 = int(std::floor(sy));
        const double fy = sy - y0;
        for (int x = 0; x < ShownSide; ++x) {
            const double sx = (x + 0.5) * scale - 0.5;
            const int x0 = int(std::floor(sx));
            const double fx = sx - x0;
            const double ink = (1 - fy) * ((1 - fx) * inkAt(digit28, x0, y0) + fx * inkAt(digit28, x0 + 1, y0))
                + fy * ((1 - fx) * inkAt(digit28, x0, y0 + 1) + fx * inkAt(digit28, x0 + 1, y0 + 1));
            light[std::size_t((x + margin) + Side * (y + margin))] = float(1.0 - (1.0 - InkTransmission) * ink);
        }
    }
    return light;
}

const std::vector<float> &DigitScene::transmission(int digit, int sample)
{
    if (digit != m_cachedDigit || sample != m_cachedSample || m_digit.empty()) {
        m_digit = render(digitPixels(digit, sample));
        m_cachedDigit = digit;
        m_cachedSample = sample;
    }
    return m_digit;
}

const std::vector<float> &DigitScene::uniform()
{
    if (m_uniform.empty())
        m_uniform.assign(std::size_t(Side * Side), 1.0f);
    return m_uniform;
}
