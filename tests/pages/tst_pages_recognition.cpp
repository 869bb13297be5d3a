// The recognition page through the real main window: answers of small models
// with known scores, the answer pictures and labels, result/result.png, the
// two offset modes on the 1000 ms timer with the simulated ZK128, the reset
// when capture stops, and engine failures that must not end the application.
#include "tests/analysis/TinyModels.h" // LibTorch before any Qt header

#include "tests/pages/PageWindowRig.h"

#include "app/RecognitionAnswerWindow.h"
#include "app/RecognitionPage.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>

#include <cmath>
#include <iostream>
#include <sstream>

namespace {

constexpr int ErrorPicture = 10;

// Catches what is printed on the standard error stream.
class ErrorCapture
{
public:
    ErrorCapture() : saved(std::cerr.rdbuf(buffer.rdbuf())) {}
    ~ErrorCapture() { std::cerr.rdbuf(saved); }
    QString text() const { return QString::fromStdString(buffer.str()); }

private:
    std::ostringstream buffer;
    std::streambuf *saved;
};

// Each answer picture has its own colour (BGR on disk): digit d is
// (d * 20, 50, 200), the error picture pure red.
cv::Scalar answerColour(int picture)
{
    return picture == ErrorPicture ? cv::Scalar(0, 0, 255) : cv::Scalar(picture * 20, 50, 200);
}

QRgb shownColour(int picture)
{
    const cv::Scalar bgr = answerColour(picture);
    return qRgb(int(bgr[2]), int(bgr[1]), int(bgr[0]));
}

// The answer pictures; `missing` (a digit, or ErrorPicture) is left out.
void writeAnswerPictures(const QString &folder, int missing = -1)
{
    QDir().mkpath(folder);
    for (int picture = 0; picture <= ErrorPicture; ++picture) {
        if (picture == missing)
            continue;
        const QString name = picture == ErrorPicture ? QStringLiteral("error.png") : QStringLiteral("%1.png").arg(picture);
        cv::imwrite((folder + '/' + name).toStdString(), cv::Mat(8, 12, CV_8UC3, answerColour(picture)));
    }
}

// A model that answers class `digit` with probability p whatever it sees.
void writeModel(const QString &folder, int digit, double p)
{
    QDir().mkpath(folder);
    std::vector<float> scores(11, 0.0f);
    scores[digit] = float(std::log(10.0 * p / (1.0 - p)));
    TinyModels::saveConstant((folder + "/mnist_cnn_traced.pt").toStdString(), scores, {1, 11});
}

void writeSensorPicture(const QString &folder)
{
    QDir().mkpath(folder);
    cv::Mat grey(128, 128, CV_8U, cv::Scalar(190));
    cv::rectangle(grey, {40, 20}, {80, 110}, cv::Scalar(20), cv::FILLED);
    cv::imwrite((folder + "/test.png").toStdString(), grey);
}

void writeGarbage(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not what it claims to be");
}

// One of the page's operations, as its buttons call it.
using PageAction = void (RecognitionPage::*)();

struct RecognitionControls
{
    explicit RecognitionControls(PageWindowRig &rig)
        : collect(rig.buttonNamed("widget_24", QStringLiteral("Collect Template")))
        , enable(rig.buttonNamed("widget_24", QStringLiteral("Offset Enable")))
        , disable(rig.buttonNamed("widget_24", QStringLiteral("Offset Disable")))
    {
        const QList<QLabel *> labels = rig.find<QWidget>("widget_24")->findChildren<QLabel *>();
        result = labels.at(0);
        confidence = labels.at(1);
        timer = rig.window->recognition().timer();
        rig.window->recognition().setEngine(&RecognitionEngine::detect);
    }
    QPushButton *collect, *enable, *disable;
    QLabel *result, *confidence;
    const QTimer *timer;
};

int recognitionWindows()
{
    int count = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        count += qobject_cast<RecognitionAnswerWindow *>(widget) ? 1 : 0;
    return count;
}

} // namespace

Q_DECLARE_METATYPE(PageAction)

class TestPagesRecognition : public QObject
{
    Q_OBJECT

private slots:
    void answer_data();
    void answer();
    void threshold_data();
    void threshold();
    void needsCapture_data();
    void needsCapture();
    void offsetModes_data();
    void offsetModes();
    void engineFailure_data();
    void engineFailure();
};

void TestPagesRecognition::answer_data()
{
    QTest::addColumn<int>("digit");
    QTest::addColumn<double>("probability");
    QTest::addColumn<int>("missingPicture"); // -1 none
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("shown");          // answer picture shown, -1 none
    QTest::addColumn<QString>("errorText");  // expected on the error stream

    QTest::newRow("digit 3 at 0.9") << 3 << 0.9 << -1 << "Result: 3" << 3 << "";
    QTest::newRow("0.41 counts as a digit") << 5 << 0.41 << -1 << "Result: 5" << 5 << "";
    QTest::newRow("0.39 shows the error picture") << 5 << 0.39 << -1 << "Result: ?" << ErrorPicture
                                                  << "Confidence is low (0.39";
    QTest::newRow("class 10 at 0.9 shows the error picture") << 10 << 0.9 << -1 << "Result: ?" << ErrorPicture
                                                             << "Digit is 10 (invalid). Loading error image.";
    QTest::newRow("digit 7 without its picture") << 7 << 0.9 << 7 << "Result: " << -1
                                                 << "Error: Unable to load image for digit 7. Loading error image.";
    QTest::newRow("error picture missing") << 10 << 0.9 << ErrorPicture << "Result: " << -1
                                           << "Error: Unable to load error image from ";
}

void TestPagesRecognition::answer()
{
    QFETCH(int, digit);
    QFETCH(double, probability);
    QFETCH(int, missingPicture);
    QFETCH(QString, result);
    QFETCH(int, shown);
    QFETCH(QString, errorText);

    PageWindowRig rig;
    RecognitionControls page(rig);
    const QString shipped = rig.shippedFolder();
    const QString scratch = rig.scratchFolder();
    writeAnswerPictures(shipped, missingPicture);
    writeModel(shipped, digit, probability);
    writeSensorPicture(scratch);

    ErrorCapture errors;
    rig.window->recognition().attempt();

    QCOMPARE(page.result->text(), result);
    QVERIFY2(errors.text().contains(errorText), qPrintable(errors.text()));
    QVERIFY(rig.boxes.texts.isEmpty());
    const QString resultPicture = rig.dir.path() + "/result/result.png";
    RecognitionAnswerWindow *answerWindow = rig.window->recognition().answerWindow();
    if (shown < 0) {
        QCOMPARE(page.confidence->text(), QStringLiteral("Confidence: "));
        QVERIFY(!answerWindow);
        QVERIFY(!QFileInfo::exists(resultPicture));
        return;
    }
    QVERIFY(answerWindow);
    QCOMPARE(answerWindow->windowTitle(), QStringLiteral("Recognition"));
    QVERIFY(answerWindow->isVisible());
    QCOMPARE(answerWindow->picture().pixel(0, 0), shownColour(shown));
    if (shown == ErrorPicture) {
        QCOMPARE(page.confidence->text(), QStringLiteral("Confidence: ?"));
    } else {
        QVERIFY(page.confidence->text().startsWith(QStringLiteral("Confidence: ")));
        bool number = false;
        const double confidence = page.confidence->text().mid(12).toDouble(&number);
        QVERIFY(number);
        QVERIFY2(std::abs(confidence - probability) < 1e-4, qPrintable(page.confidence->text()));
    }
    // The classifier's input is kept beside the confidence file.
    const cv::Mat saved = cv::imread(resultPicture.toStdString(), cv::IMREAD_UNCHANGED);
    QCOMPARE(saved.rows, 28);
    QCOMPARE(saved.cols, 28);
    QVERIFY(QFileInfo::exists(rig.dir.path() + "/result/detection_confidences.csv"));

    // A second answer reuses the one window.
    rig.window->recognition().attempt();
    QCOMPARE(rig.window->recognition().answerWindow(), answerWindow);
    QCOMPARE(recognitionWindows(), 1);
}

void TestPagesRecognition::threshold_data()
{
    QTest::addColumn<int>("digit");
    QTest::addColumn<float>("confidence");
    QTest::addColumn<bool>("valid");
    QTest::newRow("exactly 0.4 is a digit") << 4 << 0.4f << true;
    QTest::newRow("0.399 is not") << 4 << 0.399f << false;
    QTest::newRow("class 10 never is") << 10 << 0.9f << false;
    QTest::newRow("digit 0 at 1") << 0 << 1.0f << true;
}

void TestPagesRecognition::threshold()
{
    QFETCH(int, digit);
    QFETCH(float, confidence);
    QFETCH(bool, valid);
    QCOMPARE(RecognitionPage::isValidAnswer(digit, confidence), valid);
}

void TestPagesRecognition::needsCapture_data()
{
    // Offset Enable and Disable are disabled until a template exists, so the
    // page is driven directly for them.
    QTest::addColumn<PageAction>("action");
    QTest::newRow("Collect Template") << PageAction(&RecognitionPage::collectTemplate);
    QTest::newRow("Offset Enable") << PageAction(&RecognitionPage::runWithTemplate);
    QTest::newRow("Offset Disable") << PageAction(&RecognitionPage::runWithoutTemplate);
}

void TestPagesRecognition::needsCapture()
{
    QFETCH(PageAction, action);
    PageWindowRig rig;
    RecognitionControls page(rig);
    (rig.window->recognition().*action)();
    QCOMPARE(rig.boxes.texts, QStringList{"Please Start capture first!"});
    QVERIFY(!page.enable->isEnabled());
    QVERIFY(!page.disable->isEnabled());
    QVERIFY(!rig.window->recognition().isRunning());
    QVERIFY(!rig.window->receiver().templatePicture().pending());
    QCOMPARE(rig.window->recognition().attemptsRun(), 0);
}

void TestPagesRecognition::offsetModes_data()
{
    QTest::addColumn<bool>("withTemplate");
    QTest::newRow("Offset Enable") << true;
    QTest::newRow("Offset Disable") << false;
}

void TestPagesRecognition::offsetModes()
{
    QFETCH(bool, withTemplate);
    PageWindowRig rig;
    RecognitionControls page(rig);
    const QString shipped = rig.shippedFolder();
    const QString scratch = rig.scratchFolder();
    writeAnswerPictures(shipped);
    writeModel(shipped, 3, 0.9);
    QVERIFY(rig.connectAndPlay());
    QVERIFY(!page.enable->isEnabled());
    QVERIFY(!page.disable->isEnabled());

    page.collect->click();
    QVERIFY(page.enable->isEnabled());
    QVERIFY(page.disable->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(scratch + "/mode.png"), 5000);
    // The picture is on disk a moment before the request is marked done.
    QTRY_VERIFY_WITH_TIMEOUT(!rig.window->receiver().templatePicture().pending(), 5000);

    QPushButton *own = withTemplate ? page.enable : page.disable;
    QPushButton *other = withTemplate ? page.disable : page.enable;
    const QString ownText = own->text();
    own->click();
    RecognitionPage &recognition = rig.window->recognition();
    QVERIFY(recognition.isRunning());
    QCOMPARE(recognition.subtractsTemplate(), withTemplate);
    QCOMPARE(recognition.attemptsRun(), 1); // the first attempt runs at once
    QCOMPARE(own->text(), QStringLiteral("Stop"));
    QVERIFY(page.timer->isActive());
    QCOMPARE(page.timer->interval(), 1000);
    QVERIFY(own->isEnabled());
    QVERIFY(!other->isEnabled());

    // The timer asks for fresh pictures and recognises them once a second.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(scratch + "/test.png"), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(page.result->text(), QStringLiteral("Result: 3"), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(recognition.attemptsRun() >= 3, 5000);
    QCOMPARE(recognitionWindows(), 1);

    own->click(); // "Stop"
    QVERIFY(!recognition.isRunning());
    QCOMPARE(own->text(), ownText);
    QVERIFY(own->isEnabled());
    QVERIFY(other->isEnabled());
    QCOMPARE(page.result->text(), QStringLiteral("Result: "));
    QCOMPARE(page.confidence->text(), QStringLiteral("Confidence: "));
    const int attempts = recognition.attemptsRun();

    // Running again, then stopping the capture: the page is back to its start.
    own->click();
    QTRY_COMPARE_WITH_TIMEOUT(page.result->text(), QStringLiteral("Result: 3"), 5000);
    rig.find<QPushButton>("pushButton_play")->click();
    QVERIFY(!rig.window->isCaptureRunning());
    QVERIFY(!recognition.isRunning());
    QVERIFY(!page.timer->isActive());
    QCOMPARE(page.enable->text(), QStringLiteral("Offset Enable"));
    QCOMPARE(page.disable->text(), QStringLiteral("Offset Disable"));
    QVERIFY(!page.enable->isEnabled());
    QVERIFY(!page.disable->isEnabled());
    QCOMPARE(page.result->text(), QStringLiteral("Result: "));
    QCOMPARE(page.confidence->text(), QStringLiteral("Confidence: "));
    QVERIFY(recognition.attemptsRun() > attempts);
    QVERIFY(rig.boxes.texts.isEmpty());
}

void TestPagesRecognition::engineFailure_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("message");
    const QString failed = QStringLiteral("Digit recognition failed and has been stopped.");
    QTest::newRow("model answers 5 scores") << "shape" << failed;
    QTest::newRow("model file is not a model") << "corrupt model" << failed;
    QTest::newRow("test picture unreadable") << "picture" << failed;
    QTest::newRow("model missing") << "missing model"
                                   << QStringLiteral("The digit model is missing from the detect folder.");
}

void TestPagesRecognition::engineFailure()
{
    QFETCH(QString, fault);
    QFETCH(QString, message);

    PageWindowRig rig;
    RecognitionControls page(rig);
    const QString shipped = rig.shippedFolder();
    const QString scratch = rig.scratchFolder();
    RecognitionPage &recognition = rig.window->recognition();
    writeAnswerPictures(shipped);
    writeSensorPicture(scratch);
    const QString model = shipped + "/mnist_cnn_traced.pt";
    if (fault == QLatin1String("shape"))
        TinyModels::saveConstant(model.toStdString(), {1, 2, 3, 4, 5}, {1, 5});
    else if (fault == QLatin1String("corrupt model"))
        writeGarbage(model);
    else
        writeModel(shipped, 3, 0.9);
    if (fault == QLatin1String("picture"))
        writeGarbage(scratch + "/test.png");
    if (fault == QLatin1String("missing model"))
        QVERIFY(QFile::remove(model));

    QVERIFY(rig.connectAndPlay());
    page.collect->click();
    {
        ErrorCapture errors;
        page.disable->click();
    }
    QCOMPARE(rig.boxes.texts, QStringList{message});
    // The run has stopped, the page is idle and the application goes on.
    QVERIFY(!recognition.isRunning());
    QVERIFY(!page.timer->isActive());
    QCOMPARE(page.disable->text(), QStringLiteral("Offset Disable"));
    QVERIFY(page.disable->isEnabled());
    QVERIFY(page.enable->isEnabled());
    QCOMPARE(page.result->text(), QStringLiteral("Result: "));
    QVERIFY(rig.window->isCaptureRunning());

    // Once the folder is right again, recognition works.
    writeModel(shipped, 3, 0.9);
    writeSensorPicture(scratch);
    page.disable->click();
    QCOMPARE(page.result->text(), QStringLiteral("Result: 3"));
    QCOMPARE(rig.boxes.texts.size(), 1);
}

FLOWS_TEST_MAIN(TestPagesRecognition)
#include "tst_pages_recognition.moc"
