#pragma once

#include <opencv2/core/mat.hpp>

// Turns a grey sensor picture into what the digit classifier sees. The engine
// and the training tool both use these steps, so the model is trained on
// exactly the pictures the console feeds it.
//
// No state: every function is safe to call from any thread.
class DigitPreprocessor
{
public:
    static constexpr int InputSide = 28;
    static constexpr float MnistMean = 0.1307f;
    static constexpr float MnistStd = 0.3081f;

    // Grey picture -> 28 x 28 8-bit grey picture, still dark digit on light:
    // optional template subtraction (only when the template has the picture's
    // size), optional CLAHE (clip 4.0, 4 x 4 tiles), median 5, area resize.
    static cv::Mat reduce(const cv::Mat &grey, const cv::Mat &templ, bool applyClahe,
                          bool subtractTemplate);

    // The template step alone: grey - template + 255, saturated to 0..255, so
    // every pixel not darker than the template turns white. A template of
    // another size (or none) leaves the picture as it is.
    static cv::Mat subtractTemplate(const cv::Mat &grey, const cv::Mat &templ);

    // 28 x 28 8-bit picture -> inverted (light digit on black), scaled to 0..1
    // and normalised with the MNIST mean and deviation, as 32-bit float.
    static cv::Mat normalise(const cv::Mat &reduced);

    // The inverse of normalise's scaling, back to 8-bit grey (inverted picture).
    static cv::Mat denormalise(const cv::Mat &normalised);
};
