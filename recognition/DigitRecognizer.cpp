// LibTorch first: Qt's keyword macros must not reach its headers.
#include "recognition/DigitRecognizer.h"

#include "context/ConsolePaths.h"
#include "recognition/DigitPreprocessor.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>

DigitRecognizer::DigitRecognizer(const std::string &modelPath, std::string scratchFolder, std::string resultFolder)
    : m_scratchFolder(std::move(scratchFolder))
    , m_resultFolder(std::move(resultFolder))
{
    // The classifier is a handful of layers run once a second: the JIT's
    // profiling and fusion passes cost about 45 ms on the first attempt and
    // save nothing afterwards, so the graph runs as written.
    torch::jit::setGraphExecutorOptimize(false);
    if (!modelPath.empty())
        loadModel(modelPath);
}

bool DigitRecognizer::loadModel(const std::string &path)
{
    try {
        module = torch::jit::load(path);
        std::cout << "Model loaded successfully!\n";
        return true;
    } catch (const c10::Error &e) {
        std::cerr << "Error loading the model: " << e.what() << "\n";
        module.reset();
        return false;
    }
}

torch::Tensor DigitRecognizer::preprocess(const std::string &imagePath, bool applyClahe,
                                          bool subtractTemplate)
{
    const cv::Mat picture = cv::imread(imagePath, cv::IMREAD_COLOR);
    if (picture.empty()) {
        std::cerr << "Error: Could not load image from " << imagePath << std::endl;
        return {};
    }
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);

    cv::Mat templ;
    if (subtractTemplate)
        templ = cv::imread(m_scratchFolder + '/' + ConsolePaths::kTemplatePictureName, cv::IMREAD_GRAYSCALE);
    const cv::Mat reduced = DigitPreprocessor::reduce(grey, templ, applyClahe, subtractTemplate);

    // A trace of what was resized, for whoever looks into the detect folder;
    // failing to write it does not matter to the recognition.
    try {
        cv::imwrite(m_scratchFolder + '/' + ConsolePaths::kTracePictureName, reduced);
    } catch (const cv::Exception &) {
    }

    cv::Mat normalised = DigitPreprocessor::normalise(reduced);
    const auto options = torch::TensorOptions().dtype(torch::kFloat32).requires_grad(false);
    return torch::from_blob(normalised.data, {DigitPreprocessor::InputSide, DigitPreprocessor::InputSide},
                            options)
        .unsqueeze(0)
        .unsqueeze(0)
        .clone();
}

DetectionResult DigitRecognizer::classify(const torch::Tensor &input)
{
    // An engine without a model has nothing to run; say so instead of
    // touching an empty module.
    TORCH_CHECK(module.has_value(), "No digit model is loaded.");
    torch::NoGradGuard noGrad;
    const torch::Tensor scores = module->forward({input}).toTensor();
    if (scores.dim() != 2 || scores.size(0) != 1 || scores.size(1) != ClassCount) {
        std::ostringstream message;
        message << "The digit model answered with scores of shape " << scores.sizes()
                << " instead of [1, " << ClassCount << "] class scores.";
        throw std::runtime_error(message.str());
    }

    const torch::Tensor probabilities =
        torch::softmax(scores.to(torch::kFloat32), 1).squeeze().contiguous();
    const auto best = probabilities.max(0);

    DetectionResult result;
    result.digit = static_cast<int>(std::get<1>(best).item<int64_t>());
    result.confidence = std::get<0>(best).item<float>();
    const float *p = probabilities.data_ptr<float>();
    result.probabilities.assign(p, p + ClassCount);

    // The classifier's input turned back into grey levels: a light digit on black.
    const torch::Tensor seen = input.squeeze().contiguous();
    const cv::Mat view(DigitPreprocessor::InputSide, DigitPreprocessor::InputSide, CV_32FC1,
                       seen.data_ptr<float>());
    result.picture = DigitPreprocessor::denormalise(view);
    return result;
}

DetectionResult DigitRecognizer::detect(const std::string &imagePath, bool applyClahe,
                                        bool subtractTemplate)
{
    try {
        const std::filesystem::path resultFolder = m_resultFolder;
        if (!std::filesystem::exists(resultFolder))
            std::filesystem::create_directories(resultFolder);
        const std::filesystem::path csvPath = resultFolder / "detection_confidences.csv";

        const torch::Tensor input = preprocess(imagePath, applyClahe, subtractTemplate);
        if (!input.defined())
            throw std::runtime_error("Failed to preprocess image");

        DetectionResult result = classify(input);
        writeConfidenceCsv(csvPath, imagePath, result);
        return result;
    } catch (const c10::Error &e) {
        std::cerr << "Model inference error: " << e.what() << "\n";
        throw;
    } catch (const cv::Exception &e) {
        std::cerr << "OpenCV error: " << e.what() << "\n";
        throw;
    } catch (const std::exception &e) {
        std::cerr << "Error: " << e.what() << "\n";
        throw;
    }
}

void DigitRecognizer::writeConfidenceCsv(const std::filesystem::path &csvPath,
                                         const std::string &imagePath,
                                         const DetectionResult &result)
{
    std::ofstream file(csvPath, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!file) {
        std::cerr << "Warning: Failed to open CSV file for writing: " << csvPath << "\n";
        return;
    }
    file << "ImagePath,PredictedDigit,Confidence";
    for (int c = 0; c < ClassCount; ++c)
        file << ",Prob_" << c;
    file << "\n";

    file << std::quoted(imagePath) << "," << result.digit << "," << std::fixed
         << std::setprecision(6) << result.confidence;
    for (float p : result.probabilities)
        file << "," << p;
    file << "\n";
}
