#include "app/RecognitionPage.h"

#include "acquisition/TemplatePicture.h"
#include "app/AppLogging.h"
#include "app/RecognitionAnswerWindow.h"
#include "recognition/RecognitionEngine.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <QTimer>

#include <iostream>

namespace {

const char *const EnableText = "Offset Enable";
const char *const DisableText = "Offset Disable";
const char *const ResultCaption = "Result: ";
const char *const ConfidenceCaption = "Confidence: ";

// A colour picture as cv::imread gives it (BGR, 8 bits) as a Qt picture of its own.
QImage toImage(const cv::Mat &bgr)
{
    return QImage(bgr.data, bgr.cols, bgr.rows, int(bgr.step), QImage::Format_BGR888).copy();
}

// A vertical layout on the container: "Collect Template", then the two offset
// buttons side by side (both disabled), then the two answer labels, centred.
RecognitionWidgets buildWidgets(QWidget *container, QObject *timerParent)
{
    RecognitionWidgets widgets;
    auto *layout = new QVBoxLayout(container);
    widgets.collectTemplate = new QPushButton(QStringLiteral("Collect Template"), container);
    layout->addWidget(widgets.collectTemplate);

    auto *offsets = new QHBoxLayout;
    widgets.offsetEnable = new QPushButton(QString::fromLatin1(EnableText), container);
    widgets.offsetDisable = new QPushButton(QString::fromLatin1(DisableText), container);
    widgets.offsetEnable->setEnabled(false);
    widgets.offsetDisable->setEnabled(false);
    offsets->addWidget(widgets.offsetEnable);
    offsets->addWidget(widgets.offsetDisable);
    layout->addLayout(offsets);

    auto *answer = new QHBoxLayout;
    widgets.result = new QLabel(QString::fromLatin1(ResultCaption), container);
    widgets.confidence = new QLabel(QString::fromLatin1(ConfidenceCaption), container);
    answer->addWidget(widgets.result);
    answer->addWidget(widgets.confidence);
    answer->setAlignment(Qt::AlignCenter);
    layout->addLayout(answer);

    widgets.timer = new QTimer(timerParent);
    return widgets;
}

} // namespace

RecognitionPage::RecognitionPage(QWidget *container, const ConsoleState &state, TemplatePicture &worker,
                                 const ConsolePaths &paths, std::function<void()> requestTestPicture,
                                 OperatorMessage::Sink message, QObject *parent)
    : QObject(parent)
    , m_ui(buildWidgets(container, this))
    , m_state(state)
    , m_worker(worker)
    , m_requestTestPicture(std::move(requestTestPicture))
    , m_message(std::move(message))
    , m_paths(paths)
{
    connect(m_ui.collectTemplate, &QPushButton::clicked, this, &RecognitionPage::collectTemplate);
    connect(m_ui.offsetEnable, &QPushButton::clicked, this, &RecognitionPage::runWithTemplate);
    connect(m_ui.offsetDisable, &QPushButton::clicked, this, &RecognitionPage::runWithoutTemplate);
    connect(m_ui.timer, &QTimer::timeout, this, &RecognitionPage::tick);
}

RecognitionPage::~RecognitionPage()
{
    // The answer window has no parent; it goes with the page.
    delete m_answer.data();
}

RecognitionAnswerWindow *RecognitionPage::answerWindow() const
{
    return m_answer.data();
}

bool RecognitionPage::isValidAnswer(int digit, float confidence)
{
    return double(confidence) >= kMinimumConfidence && digit >= 0 && digit < kNoDigit;
}

void RecognitionPage::collectTemplate()
{
    if (!m_state.running) {
        m_message(QStringLiteral("Please Start capture first!"));
        return;
    }
    // The worker writes its next frame as the template and clears the flag.
    m_worker.request();
    m_ui.offsetEnable->setEnabled(true);
    m_ui.offsetDisable->setEnabled(true);
}

void RecognitionPage::toggleRun(bool withTemplate)
{
    if (!m_state.running) {
        m_message(QStringLiteral("Please Start capture first!"));
        return;
    }
    if (m_recognitionRunning) {
        stopRun();
        return;
    }
    m_recognitionRunning = true;
    m_offsetMode = withTemplate;
    QPushButton *own = withTemplate ? m_ui.offsetEnable : m_ui.offsetDisable;
    QPushButton *other = withTemplate ? m_ui.offsetDisable : m_ui.offsetEnable;
    own->setText(QStringLiteral("Stop"));
    other->setEnabled(false);
    m_ui.timer->start(kIntervalMs);
    // The first answer comes at once, from the test picture already on disk.
    if (m_requestTestPicture)
        m_requestTestPicture();
    attempt();
}

void RecognitionPage::stopRun()
{
    m_ui.timer->stop();
    m_recognitionRunning = false;
    QPushButton *own = m_offsetMode ? m_ui.offsetEnable : m_ui.offsetDisable;
    QPushButton *other = m_offsetMode ? m_ui.offsetDisable : m_ui.offsetEnable;
    own->setText(QString::fromLatin1(m_offsetMode ? EnableText : DisableText));
    other->setEnabled(true);
    m_ui.result->setText(QString::fromLatin1(ResultCaption));
    m_ui.confidence->setText(QString::fromLatin1(ConfidenceCaption));
}

void RecognitionPage::failRun(const QString &text)
{
    // Stopped before telling: the timer must not start more attempts while
    // the operator reads the message.
    if (m_recognitionRunning)
        stopRun();
    m_message(text);
}

void RecognitionPage::reset()
{
    m_ui.timer->stop();
    m_recognitionRunning = false;
    m_ui.offsetEnable->setText(QString::fromLatin1(EnableText));
    m_ui.offsetEnable->setEnabled(false);
    m_ui.offsetDisable->setText(QString::fromLatin1(DisableText));
    m_ui.offsetDisable->setEnabled(false);
    m_ui.result->setText(QString::fromLatin1(ResultCaption));
    m_ui.confidence->setText(QString::fromLatin1(ConfidenceCaption));
}

void RecognitionPage::tick()
{
    // The picture asked for now is recognised at the next tick.
    if (m_requestTestPicture)
        m_requestTestPicture();
    attempt();
}

void RecognitionPage::attempt()
{
    ++m_attempts;
    if (m_paths.scratchFolder.isEmpty() || !QDir(m_paths.scratchFolder).exists()) {
        qCDebug(lcApp) << "目录不存在";
        return;
    }
    const QString picturePath = m_paths.testPicture();
    const QString modelPath = m_paths.shippedFile(QStringLiteral("mnist_cnn_traced.pt"));
    const bool havePicture = QFileInfo::exists(picturePath);
    const bool haveModel = QFileInfo::exists(modelPath);
    if (!havePicture)
        qCDebug(lcApp).noquote() << "图片文件不存在:" << picturePath;
    if (!haveModel)
        qCDebug(lcApp).noquote() << "模型文件不存在:" << modelPath;
    if (!haveModel) {
        // The model is supplied with the application; without it no later
        // attempt can succeed either.
        failRun(QStringLiteral("The digit model is missing from the detect folder."));
        return;
    }
    if (!havePicture)
        return; // no frame written yet: the next tick tries again

    if (!m_detect)
        qCWarning(lcApp) << "This program was built without the recognition engine.";
    const RecognitionEngine::Answer answerOf = m_detect
        ? m_detect(modelPath.toStdString(), picturePath.toStdString(), m_offsetMode, m_paths.scratchFolder.toStdString(),
                   m_paths.resultFolder.toStdString())
        : RecognitionEngine::Answer{};
    if (!answerOf.ok) {
        // The details are already on the error stream.
        failRun(QStringLiteral("Digit recognition failed and has been stopped."));
        return;
    }
    if (showAnswer(answerOf.result))
        saveResultPicture(answerOf.result);
}

bool RecognitionPage::showAnswer(const DetectionResult &result)
{
    if (!isValidAnswer(result.digit, result.confidence)) {
        const QString path = m_paths.shippedFile(QStringLiteral("error.png"));
        if (double(result.confidence) < kMinimumConfidence)
            std::cerr << "Confidence is low (" << result.confidence << "). Loading error image." << std::endl;
        else
            std::cerr << "Digit is 10 (invalid). Loading error image." << std::endl;
        const cv::Mat picture = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
        if (picture.empty()) {
            std::cerr << "Error: Unable to load error image from " << path.toStdString() << std::endl;
            return false;
        }
        showPicture(toImage(picture));
        m_ui.result->setText(QStringLiteral("Result: ?"));
        m_ui.confidence->setText(QStringLiteral("Confidence: ?"));
        return true;
    }

    const QString path = m_paths.shippedFile(QStringLiteral("%1.png").arg(result.digit));
    const cv::Mat picture = cv::imread(path.toStdString(), cv::IMREAD_COLOR);
    if (picture.empty()) {
        std::cerr << "Error: Unable to load image for digit " << result.digit << ". Loading error image."
                  << std::endl;
        return false;
    }
    showPicture(toImage(picture));
    m_ui.result->setText(QString::fromLatin1(ResultCaption) + QStringLiteral("%1").arg(result.digit));
    m_ui.confidence->setText(QString::fromLatin1(ConfidenceCaption)
                           + QStringLiteral("%1").arg(double(result.confidence), 0, 'g', -1));
    return true;
}

void RecognitionPage::showPicture(const QImage &picture)
{
    if (!m_answer)
        m_answer = new RecognitionAnswerWindow;
    m_answer->showPicture(picture);
}

void RecognitionPage::saveResultPicture(const DetectionResult &result) const
{
    const QString &resultFolder = m_paths.resultFolder;
    if (!QDir(resultFolder).exists()) {
        qCDebug(lcApp) << "目录不存在";
        return;
    }
    const QString path = resultFolder + QStringLiteral("/result.png");
    bool saved = false;
    try {
        saved = !result.picture.empty() && cv::imwrite(path.toStdString(), result.picture);
    } catch (const cv::Exception &e) {
        std::cerr << "OpenCV error: " << e.what() << std::endl;
    }
    if (saved)
        qCDebug(lcApp).noquote() << "图像已保存到" << path;
    else
        qCDebug(lcApp) << "保存图像失败";
}
