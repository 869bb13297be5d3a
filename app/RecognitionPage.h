#pragma once

#include "app/ConsoleState.h"
#include "app/OperatorMessage.h"
#include "context/ConsolePaths.h"
#include "recognition/RecognitionEngine.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QImage;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;
class TemplatePicture;
class RecognitionAnswerWindow;
struct DetectionResult;

// The widgets of the recognition page (built inside widget_24) and its timer.
struct RecognitionWidgets
{
    QPushButton *collectTemplate = nullptr; // "Collect Template"
    QPushButton *offsetEnable = nullptr;    // "Offset Enable" / "Stop"
    QPushButton *offsetDisable = nullptr;   // "Offset Disable" / "Stop"
    QLabel *result = nullptr;               // "Result: "
    QLabel *confidence = nullptr;           // "Confidence: "
    QTimer *timer = nullptr;                // child of the page; its timeout runs one tick
};

// The recognition page: collects a template picture from the worker and, in
// one of two modes (with or without subtracting that template), recognises
// the digit in the live picture once per second. Each attempt reads the test
// picture the display pipeline wrote into the detect folder, runs a fresh
// engine, shows the answer's picture in the "Recognition" window, writes the
// answer into the labels and keeps the classifier's input as
// result/result.png under the working directory.
//
// An attempt that the engine cannot complete (unreadable model or picture, a
// model of the wrong shape) stops the run and tells the operator once; it
// never ends the application.
//
// Thread contract: GUI thread only, including the engine's inference. The
// capture loop is asked for a template through its TemplatePicture consumer.
class RecognitionPage : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 1000;
    static constexpr double kMinimumConfidence = 0.4;
    static constexpr int kNoDigit = 10;

    // Builds the page's widgets inside `container` (widget_24): "Collect
    // Template", the two offset buttons and the two answer labels.
    // requestTestPicture asks the display pipeline to write its next frame
    // as the test picture.
    RecognitionPage(QWidget *container, const ConsoleState &state, TemplatePicture &worker, const ConsolePaths &paths,
                    std::function<void()> requestTestPicture,
                    OperatorMessage::Sink message = OperatorMessage::modalBox(), QObject *parent = nullptr);
    const RecognitionWidgets &widgets() const { return m_ui; }
    // The engine an attempt runs; without one every attempt fails (the
    // program was built without recognition).
    void setEngine(RecognitionEngine::Detect detect) { m_detect = detect; }
    ~RecognitionPage() override;

    void collectTemplate();
    // The offset buttons: start a run in their mode, or stop the running one.
    void runWithTemplate() { toggleRun(true); }
    void runWithoutTemplate() { toggleRun(false); }
    // Timer tick: ask for a fresh test picture and recognise the last one.
    void tick();
    // One recognition attempt on the test picture in the scratch folder.
    void attempt();
    // Capture stopped: back to the state before any template.
    void reset();

    // The test picture could not be written: the run stops and the operator is told.
    void testPictureFailed(const QString &sentence) { failRun(sentence); }

    bool isRunning() const { return m_recognitionRunning; }
    bool subtractsTemplate() const { return m_offsetMode; }
    RecognitionAnswerWindow *answerWindow() const;
    int attemptsRun() const { return m_attempts; }
    const QTimer *timer() const { return m_ui.timer; }

    // Whether an answer counts as a digit (otherwise the error picture shows).
    static bool isValidAnswer(int digit, float confidence);

private:
    void toggleRun(bool withTemplate);
    void stopRun();
    void failRun(const QString &text);
    bool showAnswer(const DetectionResult &result);
    void showPicture(const QImage &picture);
    void saveResultPicture(const DetectionResult &result) const;

    RecognitionWidgets m_ui;
    const ConsoleState &m_state;
    TemplatePicture &m_worker; // the capture loop's recognition template
    std::function<void()> m_requestTestPicture;
    OperatorMessage::Sink m_message;

    const ConsolePaths &m_paths;
    RecognitionEngine::Detect m_detect = nullptr;
    bool m_recognitionRunning = false;
    bool m_offsetMode = false; // true while "Offset Enable" runs: the engine subtracts the template
    int m_attempts = 0;
    QPointer<RecognitionAnswerWindow> m_answer; // created on the first answer, no parent
};
