#include "app/LaunchOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

namespace {

const QCommandLineOption &fromDesktopOption()
{
    static const QCommandLineOption option(
        QStringLiteral("from-desktop"),
        QStringLiteral("Started from the desktop entry: write the event log to "
                       "$XDG_STATE_HOME/tessivo128/log.txt (by default ~/.local/state/tessivo128/log.txt) "
                       "instead of log.txt in the working directory."));
    return option;
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Tessivo 128, the console of the ZK128 128 x 128 photodetector matrix: connect to the "
                       "device, set its bias voltages and current range, watch, calibrate, save and recognise its "
                       "frames. Without an FTDI D2XX library and device it runs on its built-in ZK128 "
                       "simulator (see TESSIVO_DEVICE)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(fromDesktopOption());
    parser.addPositionalArgument(QStringLiteral("PATH"),
                                 QStringLiteral("A recording to open: a run folder, its <name>.h5 or its "
                                                "<name>_current.csv."),
                                 QStringLiteral("[PATH]"));
}

} // namespace

bool LaunchOptions::asksForText(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char *text : {"--help", "-h", "--help-all", "--version", "-v"}) {
            if (std::strcmp(argv[i], text) == 0)
                return true;
        }
    }
    return false;
}

void LaunchOptions::answerTextRequest(const QCoreApplication &app)
{
    QCommandLineParser parser;
    describe(parser);
    parser.process(app); // prints the text and exits
    std::exit(EXIT_SUCCESS);
}

LaunchOptions::Choice LaunchOptions::parse(const QCoreApplication &app)
{
    return parse(app.arguments());
}

LaunchOptions::Choice LaunchOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    describe(parser);
    Choice choice;
    if (!parser.parse(arguments)) {
        choice.error = parser.errorText() + QLatin1Char('.');
        return choice;
    }
    const QStringList paths = parser.positionalArguments();
    if (paths.size() > 1) {
        choice.error = QStringLiteral("Unexpected argument: %1.").arg(paths.at(1));
        return choice;
    }
    if (!paths.isEmpty())
        choice.recordingPath = paths.constFirst();
    choice.fromDesktop = parser.isSet(fromDesktopOption());
    return choice;
}
