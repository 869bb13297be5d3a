#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What the lamp's light has to pass before it reaches the matrix: nothing
// (uniform light) or a handwritten digit. The digits are 28 x 28 MNIST samples
// (5 per digit, see simulator/digits/README.md), scaled up smoothly to
// 100 x 100 pixels and centred in the 128 x 128 matrix. Ink blocks the light:
// under a full stroke only 10 % gets through.
//
// Not thread-safe (it caches the last picture); ZK128Device guards it.
class DigitScene
{
public:
    static constexpr int Side = 128;
    static constexpr int DigitSide = 28;
    static constexpr int ShownSide = 100;
    static constexpr int SamplesPerDigit = 5;
    static constexpr double InkTransmission = 0.10;

    // 784 grey values (0 blank .. 255 full ink) of one stored sample; null when out of range.
    static const std::uint8_t *digitPixels(int digit, int sample);
    // True when the embedded digit data has the expected size.
    static bool dataComplete();

    // Fraction of the lamp light reaching each of the 16384 pixels (row-major).
    const std::vector<float> &transmission(int digit, int sample);
    const std::vector<float> &uniform();

    static std::vector<float> render(const std::uint8_t *digit28);

private:
    std::vector<float> m_uniform;
    std::vector<float> m_digit;
    int m_cachedDigit = -1;
    int m_cachedSample = -1;
};
