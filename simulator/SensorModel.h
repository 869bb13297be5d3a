#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

// The pixels of one matrix: each has a dark offset and a gain of its own, fixed
// at manufacture (here: by the seed), so a raw picture of an even scene shows
// a gradient and grain that calibration against full-on and full-off frames
// removes.
//
//   current(i) = offset(i) x range + gain(i) x illumination(i) + noise
//
// The dark offset is a few per cent of the range (a smooth gradient across the
// matrix plus per-pixel scatter); the gain is 1 with a darker rim and about
// 6 % per-pixel scatter, kept within 0.6 .. 1.4.
//
// Not thread-safe for sampling (the noise generator changes); ZK128Device
// guards it with its mutex. The per-pixel tables never change after construction.
class SensorModel
{
public:
    static constexpr int Side = 128;
    static constexpr int PixelCount = Side * Side;
    static constexpr std::uint32_t LargestRaw = (1u << 24) - 1;

    // seed fixes the offsets and gains; noiseSeed the temporal noise. Without
    // a noise seed every model draws noise of its own, as every run of a real
    // instrument does.
    explicit SensorModel(std::uint32_t seed, std::optional<std::uint32_t> noiseSeed = std::nullopt);

    double offsetFraction(int pixel) const; // of the range
    double gain(int pixel) const;
    double expectedNa(int pixel, double illuminationNa, double rangeNa) const;
    // One frame's pixel values, 3 bytes each, most significant first, into out
    // (3 x 16384 bytes): light is the fraction of lampNa reaching each pixel.
    void sampleFrame(const std::vector<float> &light, double lampNa, double rangeNa, double noiseSigmaNa,
                     std::uint8_t *out);

    // The device's digitisation: raw = round(current / range x 1e6), clamped to 0 .. 2^24 - 1.
    static std::uint32_t rawFromCurrent(double currentNa, double rangeNa);

private:
    std::vector<float> m_offset;
    std::vector<float> m_gain;
    // Gaussian deviates drawn once; each frame walks them from a random start
    // with a random odd stride, which visits distinct entries for every pixel
    // and costs far less than drawing 16384 fresh deviates per frame.
    std::vector<float> m_normalTable;
    std::mt19937 m_noise;
};
