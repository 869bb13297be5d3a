#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

// The console's command line. Qt's own options (-platform, -style, ...) are
// taken by the application object first; what is left is:
//   --from-desktop   started from the desktop entry: the event log goes to the
//                    user's state folder instead of the working directory
//   --help, --version
//   PATH             a recording to open at start: a run folder, a
//                    "<name>.h5" or a "<name>_current.csv"
// --from-desktop is an option, so that the plain path argument stays free.
namespace LaunchOptions {

struct Choice
{
    bool fromDesktop = false;
    QString recordingPath; // empty: none
    QString error; // one sentence for standard error when the line is wrong
};

// Whether the line asks only for the help or the version text, which need no
// display: the caller then answers through answerTextRequest.
bool asksForText(int argc, char *argv[]);

// Prints the help or the version text and ends the process (exit code 0).
[[noreturn]] void answerTextRequest(const QCoreApplication &app);

// Reads the line the application object left.
Choice parse(const QCoreApplication &app);
// The same for a line given as its words (the program's name first).
Choice parse(const QStringList &arguments);

} // namespace LaunchOptions
