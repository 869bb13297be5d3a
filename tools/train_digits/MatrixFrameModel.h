#pragma once

#include <opencv2/core/mat.hpp>

#include <random>

// A model of what the console displays when a shadow falls on the 128 x 128
// matrix under a lamp: every pixel has its own gain and offset (fixed for one
// matrix), the lamp lights the matrix slightly unevenly, each frame adds
// temporal noise, and the display maps the current I to the grey level
// clamp(I / range, 0, 1) x 255, truncated.
class MatrixFrameModel
{
public:
    static constexpr int Side = 128;

    struct Conditions {
        double lampNa = 150.0;        // current of an average pixel under the lamp
        double rangeNa = 200.0;       // the selected current range
        double gainSpread = 0.05;     // relative standard deviation of pixel gain
        double offsetSpreadNa = 0.5;  // standard deviation of pixel offset
        double offsetMeanNa = 0.0;    // dark current common to all pixels...
        double offsetSlopeNa = 0.0;   // ...plus a gradient across the matrix
        double rim = 0.0;             // relative gain loss at the corners
        double noiseNa = 0.5;         // temporal noise per frame
        double tilt = 0.1;            // relative fall-off of the lamp across the matrix
        double tiltAngle = 0.0;       // direction of that fall-off, radians
    };

    MatrixFrameModel(const Conditions &conditions, std::mt19937 &rng);

    // One displayed frame for a transmission map (128 x 128 CV_32F, 1 = lamp
    // light passes, 0 = blocked); an empty map means nothing in the light.
    // lampOn false gives the dark frame (offsets and noise only).
    cv::Mat frame(const cv::Mat &transmission, std::mt19937 &rng, bool lampOn = true) const;

    const Conditions &conditions() const { return cond; }

private:
    Conditions cond;
    cv::Mat gain;         // per pixel, CV_32F
    cv::Mat offsetNa;     // per pixel, CV_32F
    cv::Mat illumination; // lamp profile, CV_32F, around 1
};
