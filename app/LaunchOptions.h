#pragma once

#include <QString>

class QCoreApplication;

// The console's command line. Qt's own options (-platform, -style, ...) are
// taken by the application object first; what is left is:
//   --from-desktop   started from the desktop entry: the event log goes to the
//                    user's state folder instead of the working directory
//   --help, --version
// An option, so that a plain path argument stays free for opening files.
namespace LaunchOptions {

struct Choice
{
    bool fromDesktop = false;
    QString error; // one sentence for standard error when the line is wrong
};

// Whether the line asks only for the help or the version text, which need no
// display: the caller then answers through answerTextRequest.
bool asksForText(int argc, char *argv[]);

// Prints the help or the version text and ends the process (exit code 0).
[[noreturn]] void answerTextRequest(const QCoreApplication &app);

// Reads the line the application object left.
Choice parse(const QCoreApplication &app);

} // namespace LaunchOptions
