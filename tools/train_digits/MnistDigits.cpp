#include "tools/train_digits/MnistDigits.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <array>
#include <cmath>
#include <iterator>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {
constexpr int Side = 28;

std::vector<MnistDigits::Sample> loadDigitFile(const std::string &path, int digit)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("Cannot read the MNIST digit file " + path + ".");
    const QJsonArray values = QJsonDocument::fromJson(file.readAll()).object().value("data").toArray();
    if (values.isEmpty() || values.size() % (Side * Side) != 0)
        throw std::runtime_error("The MNIST digit file " + path + " holds no whole 28 x 28 samples.");
    std::vector<MnistDigits::Sample> samples;
    const int count = int(values.size() / (Side * Side));
    samples.reserve(count);
    for (int s = 0; s < count; ++s) {
        MnistDigits::Sample sample;
        sample.digit = digit;
        sample.index = s;
        sample.ink = cv::Mat(Side, Side, CV_32F);
        float *out = sample.ink.ptr<float>();
        for (int p = 0; p < Side * Side; ++p)
            out[p] = float(values[s * Side * Side + p].toDouble());
        samples.push_back(std::move(sample));
    }
    return samples;
}
} // namespace

std::vector<MnistDigits::Sample> MnistDigits::load(const std::string &packageDir)
{
    std::vector<Sample> all;
    for (int d = 0; d < 10; ++d) {
        auto samples = loadDigitFile(packageDir + "/src/digits/" + std::to_string(d) + ".json", d);
        all.insert(all.end(), std::make_move_iterator(samples.begin()),
                   std::make_move_iterator(samples.end()));
    }
    return all;
}

std::set<MnistDigits::SampleId> MnistDigits::readIdList(const std::string &path)
{
    std::set<SampleId> ids;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        std::istringstream fields(line);
        int digit = 0, index = 0;
        if (fields >> digit >> index)
            ids.insert({digit, index});
    }
    return ids;
}

std::set<MnistDigits::SampleId> MnistDigits::matching(const std::vector<Sample> &all,
                                                     const std::string &rawPath)
{
    std::ifstream in(rawPath, std::ios::binary);
    if (!in)
        throw std::runtime_error("Cannot read the digit pictures in " + rawPath + ".");
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::set<SampleId> found;
    for (size_t start = 0; start + Side * Side <= bytes.size(); start += Side * Side) {
        for (const Sample &sample : all) {
            const float *ink = sample.ink.ptr<float>();
            bool same = true;
            for (int p = 0; p < Side * Side && same; ++p)
                same = std::abs(ink[p] * 255.0f - float(bytes[start + p])) <= 2.0f;
            if (same)
                found.insert({sample.digit, sample.index});
        }
    }
    return found;
}

bool MnistDigits::isEvaluationSample(const Sample &sample)
{
    // A fixed scatter: 3 of every 20 positions, shifted per digit.
    return (sample.index * 7 + sample.digit * 3) % 20 < 3;
}
