#pragma once

#include <opencv2/core/mat.hpp>

#include <vector>

// The answer of one recognition attempt. Class 10 means "no valid digit".
struct DetectionResult
{
    int digit = 10;                   // most probable class, 0 to 10
    float confidence = 0.0f;          // its probability, 0 to 1
    std::vector<float> probabilities; // 11 entries, class 0 to 10 in order
    cv::Mat picture;                  // the classifier's 28 x 28 input as 8-bit grey
};
