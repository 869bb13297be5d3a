// The recognition engine with small models of known answers: template
// handling, missing pictures, the confidence file byte for byte, models of
// the wrong shape and the 28 x 28 picture.
#include "tests/analysis/TinyModels.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <sstream>

namespace {

// Catches what the engine prints on one standard stream.
class StreamCapture
{
public:
    explicit StreamCapture(std::ostream &stream) : stream(stream), saved(stream.rdbuf(buffer.rdbuf())) {}
    ~StreamCapture() { stream.rdbuf(saved); }
    std::string text() const { return buffer.str(); }

private:
    std::ostream &stream;
    std::ostringstream buffer;
    std::streambuf *saved;
};

// A light 128 x 128 picture with a dark "7"-like stroke and a soft gradient.
cv::Mat sensorPicture()
{
    cv::Mat grey(128, 128, CV_8U);
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            grey.at<uchar>(y, x) = uchar(170 + (x + y) / 8);
    cv::line(grey, {30, 25}, {95, 25}, cv::Scalar(20), 12);
    cv::line(grey, {95, 25}, {55, 110}, cv::Scalar(20), 12);
    return grey;
}

std::string escaped(const std::string &path)
{
    std::string out = "\"";
    for (char c : path) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

class TestDigitRecognizer : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir work;
    std::string detectDir;
    std::string constantModel; // class 7 at 3/13, every other class at 1/13
    std::string picturePath;

    std::string path(const char *name) const { return work.filePath(name).toStdString(); }
    std::string resultDir() const { return work.filePath("result").toStdString(); }
    cv::Mat trace() const { return cv::imread(detectDir + "/11.png", cv::IMREAD_GRAYSCALE); }

private slots:
    void initTestCase()
    {
        QVERIFY(work.isValid());
        // OpenCV's own warnings would mix with what the engine prints.
        cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
        // The engine reads and writes the detect folder beside the executable
        // and the result folder in the working directory.
        detectDir = path("detect");
        QVERIFY(QDir().mkpath(QString::fromStdString(detectDir)));
        QVERIFY(QDir::setCurrent(work.path()));

        std::vector<float> scores(11, 0.0f);
        scores[7] = std::log(3.0f);
        constantModel = path("constant.pt");
        TinyModels::saveConstant(constantModel, scores, {1, 11});
        picturePath = path("test.png");
        QVERIFY(cv::imwrite(picturePath, sensorPicture()));
    }

    void init() { QFile::remove(QString::fromStdString(detectDir + "/mode.png")); }

    void templateCases_data()
    {
        QTest::addColumn<int>("templateKind");
        QTest::addColumn<bool>("subtract");
        QTest::addColumn<int>("expectedLevel"); // every trace pixel; -1: as without subtraction

        enum { None, Equal, Darker, Brighter, Larger, Smaller };
        QTest::newRow("template equal to the picture") << int(Equal) << true << 255;
        QTest::newRow("template darker than the picture") << int(Darker) << true << 255;
        QTest::newRow("template brighter by 40") << int(Brighter) << true << 215;
        QTest::newRow("no template file") << int(None) << true << -1;
        QTest::newRow("larger template ignored") << int(Larger) << true << -1;
        QTest::newRow("smaller template ignored") << int(Smaller) << true << -1;
        QTest::newRow("subtraction off") << int(Equal) << false << -1;
    }

    void templateCases()
    {
        QFETCH(int, templateKind);
        QFETCH(bool, subtract);
        QFETCH(int, expectedLevel);

        const cv::Mat grey = sensorPicture();
        cv::Mat templ;
        switch (templateKind) {
        case 1: templ = grey.clone(); break;
        case 2: templ = grey - 30; break;
        case 3: templ = grey + 40; break; // the picture stays below 215
        case 4: cv::resize(grey, templ, {256, 256}); break;
        case 5: cv::resize(grey, templ, {64, 64}); break;
        default: break;
        }
        if (!templ.empty())
            QVERIFY(cv::imwrite(detectDir + "/mode.png", templ));

        // Without equalisation the template step shows unchanged in the trace.
        DigitRecognizer engine(constantModel, detectDir, resultDir());
        const torch::Tensor input = engine.preprocess(picturePath, false, subtract);
        QVERIFY(input.defined());
        QCOMPARE(input.sizes().vec(), (std::vector<int64_t>{1, 1, 28, 28}));
        const cv::Mat withTemplate = trace();
        QCOMPARE(withTemplate.size(), cv::Size(28, 28));

        if (expectedLevel >= 0) {
            QCOMPARE(cv::countNonZero(withTemplate != expectedLevel), 0);
            // Inverted, scaled and normalised with the MNIST mean and deviation.
            const float level = float(255 - expectedLevel) / 255.0f;
            const float normalised = (level - 0.1307f) / 0.3081f;
            QVERIFY(torch::allclose(input, torch::full_like(input, normalised), 0, 1e-6));
        } else {
            engine.preprocess(picturePath, false, false);
            QCOMPARE(cv::countNonZero(withTemplate != trace()), 0);
            // And a real picture is not uniform.
            double low = 0, high = 0;
            cv::minMaxLoc(withTemplate, &low, &high);
            QVERIFY(high - low > 50);
        }
    }

    void missingPicture()
    {
        const std::string missing = path("no such picture.png");
        DigitRecognizer engine(constantModel, detectDir, resultDir());
        StreamCapture err(std::cerr);
        QVERIFY(!engine.preprocess(missing, true, false).defined());
        try {
            engine.detect(missing, true, false);
            QFAIL("a missing picture must end the detection with an exception");
        } catch (const std::runtime_error &e) {
            QCOMPARE(std::string(e.what()), std::string("Failed to preprocess image"));
        }
        const std::string loadMessage = "Error: Could not load image from " + missing + "\n";
        QCOMPARE(err.text(), loadMessage + loadMessage + "Error: Failed to preprocess image\n");
    }

    void confidenceFile_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::newRow("plain name") << "plain.png";
        QTest::newRow("double quote and comma") << "say \"7\", please.png";
        QTest::newRow("backslash") << "back\\slash.png";
    }

    void confidenceFile()
    {
        QFETCH(QString, fileName);
        const std::string imagePath = work.filePath(fileName).toStdString();
        QVERIFY(cv::imwrite(imagePath, sensorPicture()));

        DigitRecognizer engine(constantModel, detectDir, resultDir());
        const DetectionResult result = engine.detect(imagePath, true, false);
        QCOMPARE(result.digit, 7);
        QCOMPARE(int(result.probabilities.size()), 11);
        QCOMPARE(result.confidence, result.probabilities[7]);

        QFile csv(work.filePath("result/detection_confidences.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        std::string expected = "ImagePath,PredictedDigit,Confidence,Prob_0,Prob_1,Prob_2,Prob_3,"
                               "Prob_4,Prob_5,Prob_6,Prob_7,Prob_8,Prob_9,Prob_10\n";
        expected += escaped(imagePath) + ",7,0.230769";
        for (int c = 0; c < 11; ++c)
            expected += c == 7 ? ",0.230769" : ",0.076923";
        expected += "\n";
        QCOMPARE(csv.readAll().toStdString(), expected);
    }

    void unwritableConfidenceFile()
    {
        // A folder where the file should be: the file cannot be opened, the
        // answer still comes back.
        QTemporaryDir elsewhere;
        QVERIFY(QDir(elsewhere.path()).mkpath("result/detection_confidences.csv"));
        StreamCapture err(std::cerr);
        const DetectionResult result =
            DigitRecognizer(constantModel, detectDir, elsewhere.filePath("result").toStdString())
                .detect(picturePath, true, false);
        QCOMPARE(result.digit, 7);
        const std::string csvPath =
            (std::filesystem::path(elsewhere.path().toStdString()) / "result" / "detection_confidences.csv").string();
        QCOMPARE(err.text(), "Warning: Failed to open CSV file for writing: \"" + csvPath + "\"\n");
    }

    void twoDetectionsInARow()
    {
        const std::string first = path("first.png"), second = path("second.png");
        QVERIFY(cv::imwrite(first, sensorPicture()));
        QVERIFY(cv::imwrite(second, sensorPicture()));
        DigitRecognizer(constantModel, detectDir, resultDir()).detect(first, true, false);
        DigitRecognizer(constantModel, detectDir, resultDir()).detect(second, true, true);

        QFile csv(work.filePath("result/detection_confidences.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 3); // two lines and the empty rest after the last line feed
        QVERIFY(lines[1].startsWith(QByteArray::fromStdString(escaped(second) + ",7,")));
        QVERIFY(lines[2].isEmpty());
    }

    void rejectsModelsOfTheWrongShape_data()
    {
        QTest::addColumn<QVector<qint64>>("shape");
        QTest::addColumn<QString>("shapeText");
        QTest::newRow("10 scores") << QVector<qint64>{1, 10} << "[1, 10]";
        QTest::newRow("12 scores") << QVector<qint64>{1, 12} << "[1, 12]";
        QTest::newRow("one-dimensional") << QVector<qint64>{11} << "[11]";
        QTest::newRow("two rows") << QVector<qint64>{2, 11} << "[2, 11]";
    }

    void rejectsModelsOfTheWrongShape()
    {
        QFETCH(QVector<qint64>, shape);
        QFETCH(QString, shapeText);
        std::vector<int64_t> dims(shape.begin(), shape.end());
        int64_t count = 1;
        for (auto d : dims)
            count *= d;
        const std::string model = path("wrong_shape.pt");
        TinyModels::saveConstant(model, std::vector<float>(size_t(count), 0.5f), dims);

        DigitRecognizer engine(model, detectDir, resultDir());
        StreamCapture err(std::cerr);
        const std::string sentence = "The digit model answered with scores of shape "
            + shapeText.toStdString() + " instead of [1, 11] class scores.";
        try {
            engine.detect(picturePath, true, false);
            QFAIL("a model without 11 class scores must be rejected");
        } catch (const std::runtime_error &e) {
            QCOMPARE(std::string(e.what()), sentence);
        }
        QCOMPARE(err.text(), "Error: " + sentence + "\n");
    }

    void modelFailures_data()
    {
        QTest::addColumn<QString>("modelFile"); // empty: no model given
        QTest::addColumn<QString>("loadMessageStart");
        QTest::newRow("no model given") << "" << "";
        QTest::newRow("unreadable model") << "not a model.pt" << "Error loading the model: ";
        QTest::newRow("answer is not a tensor") << "tuple.pt" << "";
    }

    void modelFailures()
    {
        QFETCH(QString, modelFile);
        QFETCH(QString, loadMessageStart);
        std::string model;
        if (modelFile == "not a model.pt") {
            model = path("not a model.pt");
            QFile junk(QString::fromStdString(model));
            QVERIFY(junk.open(QIODevice::WriteOnly));
            junk.write("not a TorchScript archive");
        } else if (modelFile == "tuple.pt") {
            model = path("tuple.pt");
            TinyModels::saveTupleAnswer(model);
        }

        StreamCapture err(std::cerr);
        DigitRecognizer engine(model, detectDir, resultDir());
        QVERIFY(QString::fromStdString(err.text()).startsWith(loadMessageStart));
        const size_t afterLoad = err.text().size();
        QVERIFY_EXCEPTION_THROWN(engine.detect(picturePath, true, false), c10::Error);
        QVERIFY(QString::fromStdString(err.text().substr(afterLoad)).startsWith("Model inference error: "));
    }

    void classifierPicture()
    {
        DigitRecognizer engine(constantModel, detectDir, resultDir());
        const DetectionResult result = engine.detect(picturePath, true, false);
        QCOMPARE(result.picture.size(), cv::Size(28, 28));
        QCOMPARE(result.picture.type(), CV_8UC1);
        // The picture is the inverted trace: a light digit on black.
        cv::Mat inverted;
        cv::bitwise_not(trace(), inverted);
        cv::Mat difference;
        cv::absdiff(result.picture, inverted, difference);
        double worst = 0;
        cv::minMaxLoc(difference, nullptr, &worst);
        QVERIFY2(worst <= 1, "the classifier's picture must be the inverted 28 x 28 trace");
        QVERIFY(cv::mean(result.picture)[0] < 128);
    }
};

QTEST_GUILESS_MAIN(TestDigitRecognizer)
#include "tst_digitrecognizer.moc"
