#pragma once

// LibTorch's headers use the word "slots", which Qt defines as a macro; keep
// it out of their way so this header can be included anywhere.
#pragma push_macro("slots")
#undef slots
#include <torch/script.h>
#pragma pop_macro("slots")

#include "recognition/DetectionResult.h"

#include <filesystem>
#include <optional>
#include <string>

// Recognises a digit in a picture of the sensor with a TorchScript classifier
// (float32 [1, 1, 28, 28] in, [1, 11] class scores out; class 10 = no valid
// digit). One engine is built per recognition attempt; it keeps no state but
// the loaded model and works in the calling thread.
class DigitRecognizer
{
public:
    static constexpr int ClassCount = 11;

    // scratchFolder holds the template (mode.png) and receives the trace
    // (11.png); resultFolder receives detection_confidences.csv (created when
    // missing).
    DigitRecognizer(const std::string &modelPath, std::string scratchFolder, std::string resultFolder);

    bool loadModel(const std::string &path);

    // The whole recognition; also rewrites detection_confidences.csv in the
    // result folder. Errors are printed and rethrown.
    DetectionResult detect(const std::string &imagePath, bool applyClahe, bool subtractTemplate);

    // Picture file -> normalised [1, 1, 28, 28] tensor; undefined tensor when
    // the picture cannot be read. Writes the 28 x 28 trace 11.png.
    torch::Tensor preprocess(const std::string &imagePath, bool applyClahe, bool subtractTemplate);

    void writeConfidenceCsv(const std::filesystem::path &csvPath, const std::string &imagePath,
                            const DetectionResult &result);

    const std::string &scratchFolder() const { return m_scratchFolder; }

private:
    DetectionResult classify(const torch::Tensor &input);

    std::optional<torch::jit::Module> module; // empty until a model was loaded
    std::string m_scratchFolder;
    std::string m_resultFolder;
};
