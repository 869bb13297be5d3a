#pragma once

#include "tools/train_digits/MatrixFrameModel.h"

#include <opencv2/core/mat.hpp>

#include <random>

// Builds the pictures the console would feed the classifier: a digit's ink
// becomes a shadow on a simulated matrix, the frame is displayed as the test
// picture, and the console's own preprocessing reduces it to 28 x 28. With
// template subtraction the template is a frame of the same matrix with the
// lamp on and nothing in the light.
class DigitSampleFactory
{
public:
    static constexpr int NoDigit = 10;

    struct Scene {
        cv::Mat test;       // 128 x 128 grey display picture
        cv::Mat templ;      // the template picture (same matrix, lamp on, no shadow)
        bool withTemplate = false;
    };

    explicit DigitSampleFactory(unsigned seed);

    // Random, plausible matrix and lamp conditions; the digit stays visible.
    MatrixFrameModel::Conditions randomConditions();

    // Ink (any size, CV_32F 0..1) -> transmission map on the matrix: scaled
    // to a random height, slightly rotated, placed anywhere it fits, with a
    // soft shadow edge and some light leaking through.
    cv::Mat shadowOf(const cv::Mat &ink, double maxLeak);

    // A transmission map without a digit: nothing, a partial shadow (hand
    // edge, blob, bar) or a dark matrix.
    cv::Mat emptyShadow(bool *lampOn);

    Scene digitScene(const cv::Mat &ink, bool withTemplate);
    Scene emptyScene(bool withTemplate);

    // The 28 x 28 picture the console's preprocessing makes of a scene.
    static cv::Mat reduce(const Scene &scene);

    std::mt19937 &rng() { return generator; }

private:
    double uniform(double low, double high);
    cv::Mat distorted(const cv::Mat &ink);

    std::mt19937 generator;
};
