#include "app/ConsoleShutdown.h"
#include "app/LaunchOptions.h"
#include "app/MainWindow.h"
#include "app/RecognitionPage.h"
#include "app/RecordingPlayback.h"
#include "app/WindowChrome.h"
#include "context/BackendSelector.h"
#include "context/ConsoleContext.h"
#include "context/ScratchFolder.h"
#include "recognition/RecognitionEngine.h"
#include "services/Log.h"
#include "services/ProcessSignals.h"
#include "services/StopSignals.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <memory>

int main(int argc, char *argv[])
{
    // A closed standard output (tessivo128 | head) must not end the console.
    ProcessSignals::ignoreBrokenPipe();
#ifdef Q_OS_WIN
    // The Windows platform plug-in with its dark-mode handling turned off; on
    // other platforms the variable is left alone (that plug-in does not exist),
    // and the look comes entirely from the style sheets.
    qputenv("QT_QPA_PLATFORM", "windows:darkmode=0");
#endif
    QCoreApplication::setApplicationName(QStringLiteral("tessivo128"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSIVO_VERSION));
    if (LaunchOptions::asksForText(argc, argv)) {
        // Text only: no display needed.
        QCoreApplication textOnly(argc, argv);
        LaunchOptions::answerTextRequest(textOnly);
    }
    QApplication app(argc, argv);
    // Task bars match the window to the desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TESSIVO_APP_ID));
    const LaunchOptions::Choice launch = LaunchOptions::parse(app);
    if (!launch.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(launch.error));
        return 2;
    }
    // SIGINT, SIGTERM and SIGHUP close the console as its close button does;
    // a later one, once the log said "stopping", ends it at once.
    StopSignals stopSignals(128 + SIGTERM);

    const BackendSelector::Choice choice = BackendSelector::chooseFromEnvironment();
    // Declared before the context and the window, so it goes after them.
    const ScratchFolder scratch;
    // The desktop's working directory is not the operator's.
    const QString logFile = launch.fromDesktop ? stateLogFilePath() : workingDirectoryLogFilePath();
    const ConsoleContext context(choice.backend, ConsolePaths::forApplication(scratch.path(), logFile),
                                 SettingsIdentity(), choice.simulator);
    context.log().line(choice.logMessage.toUtf8());
    if (scratch.path().isEmpty())
        context.log().line(ScratchFolder::kUnavailable);
    ConsoleShutdown::stopOnSignal(stopSignals, context.log(), [&app] { app.quit(); });

    // The window holds the worker and its frame buffers inline (several MB), so
    // it lives on the heap rather than on the main thread's stack.
    auto window = std::make_unique<MainWindow>(context);
    window->recognition().setEngine(&RecognitionEngine::detect);
    WindowChrome::install(app, *window);
    window->show();
    if (!choice.backend) {
        // An explicit request for the vendor library that cannot be met: the
        // console still runs (with no device), and the operator is told why.
        QTimer::singleShot(0, [message = choice.logMessage] {
            QMessageBox box(QMessageBox::Warning, QString(), message, QMessageBox::Ok);
            box.exec();
        });
    }
    if (!launch.recordingPath.isEmpty()) {
        // Once the window runs; a path that is not a recording is said in one
        // sentence and the console goes on.
        QTimer::singleShot(0, window.get(), [&window, path = launch.recordingPath] { window->playback().open(path); });
    }
    const int result = app.exec();
    if (!ConsoleShutdown::finishSaveRuns(window->receiver().saveRuns(), context.log()).isEmpty()) {
        // The writer is stuck on the disk and would hold the exit for good;
        // the log says what stays unwritten.
        window->saveSettings();
        std::_Exit(result);
    }
    window.reset();
    return result;
}
