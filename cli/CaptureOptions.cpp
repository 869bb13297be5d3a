#include "cli/CaptureOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

const QString kVolts = QStringLiteral("VOLTS");

// The parser with every option of the tool; the help text comes from it too.
struct OptionTable
{
    OptionTable()
    {
        parser.setApplicationDescription(QStringLiteral(
            "Captures frames from a ZK128 and saves them as the console's Save page does.\n"
            "Exit codes: 0 success; 2 bad arguments; 3 no device, or the device refused or was lost; "
            "4 the save failed or ended partial; 130 interrupted (Ctrl+C, SIGTERM or SIGHUP), frames so far kept."));
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({
            {QStringLiteral("list"), QStringLiteral("Print the serial numbers of the attached devices, one per line.")},
            {QStringLiteral("device"), QStringLiteral("auto, simulator or d2xx (default: TESSIVO_DEVICE, else auto)."),
             QStringLiteral("KIND")},
            {QStringLiteral("serial"), QStringLiteral("The device's serial number (default: the first ZK128)."),
             QStringLiteral("S")},
            {QStringLiteral("range"), QStringLiteral("Current range in nA, a whole number from 1 to 800 (default 800)."),
             QStringLiteral("NA")},
            {QStringLiteral("vbias1"), QStringLiteral("Vbias1, -15 to 15 V (default 0)."), kVolts},
            {QStringLiteral("vbias2"), QStringLiteral("Vbias2, -15 to 15 V (default 0)."), kVolts},
            {QStringLiteral("von"), QStringLiteral("Von, -15 to 15 V (default 0)."), kVolts},
            {QStringLiteral("voff"), QStringLiteral("Voff, -15 to 15 V (default 0)."), kVolts},
            {QStringLiteral("frames"), QStringLiteral("Frames to save, 1 to 1000."), QStringLiteral("N")},
            {QStringLiteral("out"), QStringLiteral("The folder the run folder is made in."), QStringLiteral("DIR")},
            {QStringLiteral("name"), QStringLiteral("The run's name: its folder and file-name prefix."),
             QStringLiteral("NAME")},
            {QStringLiteral("data"), QStringLiteral("Save the CSV files (the default when no kind is named).")},
            {QStringLiteral("pictures"), QStringLiteral("Save a PNG picture per frame.")},
            {QStringLiteral("video"), QStringLiteral("Save an MP4 video.")},
            {QStringLiteral("hdf5"), QStringLiteral("Save an HDF5 file.")},
            {QStringLiteral("quiet"),
             QStringLiteral("Print no progress, battery or frame rate; only results and problems.")},
            {QStringLiteral("summary"), QStringLiteral("Write a JSON summary of the run to FILE."),
             QStringLiteral("FILE")},
            {QStringLiteral("references"),
             QStringLiteral("Calibrate the run with the references in FILE (saved by Live Analysis, or a "
                            "recording's .h5)."),
             QStringLiteral("FILE")},
            {QStringLiteral("version"), QStringLiteral("Print the version and exit.")},
        });
        parser.addHelpOption();
    }

    QCommandLineParser parser;
};

QString voltageRefusal(const QString &option)
{
    return QStringLiteral("--%1 must be a number from -15 to 15 V.").arg(option);
}

// The save page's sentences name "the name"; here they name the argument.
QString nameRefusal(const QString &refusal)
{
    const QString subject = QStringLiteral("The name ");
    if (refusal.startsWith(subject))
        return QStringLiteral("--name ") + refusal.mid(subject.size());
    return QStringLiteral("--name is not usable: ") + refusal;
}

std::optional<int> wholeNumber(const QString &text, int low, int high)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

// Every required option that is missing, in one sentence; empty when none is.
QString missingRequired(const QCommandLineParser &parser)
{
    struct Required {
        const char *name;
        const char *meaning;
    };
    static const Required kRequired[] = {
        {"frames", "a whole number from 1 to 1000"},
        {"out", "the folder the run folder is made in"},
        {"name", "the run's name"},
    };
    QStringList missing;
    for (const Required &option : kRequired) {
        const QString name = QString::fromLatin1(option.name);
        if (!parser.isSet(name) || parser.value(name).trimmed().isEmpty())
            missing << QStringLiteral("--%1 (%2)").arg(name, QString::fromLatin1(option.meaning));
    }
    if (missing.size() == 1) {
        // "--frames is required: a whole number from 1 to 1000."
        const QString only = missing.first();
        const int open = only.indexOf(QLatin1String(" ("));
        return only.left(open) + QStringLiteral(" is required: ") + only.mid(open + 2).chopped(1)
               + QLatin1Char('.');
    }
    if (missing.isEmpty())
        return QString();
    const QString last = missing.takeLast();
    return missing.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last + QStringLiteral(" are required.");
}

// The capture options proper; the first refusal wins.
QString readCapture(const QCommandLineParser &parser, CaptureOptions &options)
{
    if (parser.isSet(QStringLiteral("range"))) {
        const auto range = wholeNumber(parser.value(QStringLiteral("range")), 1, ParameterSet::kMaxRangeNa);
        if (!range)
            return QStringLiteral("--range must be a whole number from 1 to 800.");
        options.rangeNa = *range;
    }
    for (const auto &[name, volts] : {std::pair{QStringLiteral("vbias1"), &options.voltages.vbias1},
                                      std::pair{QStringLiteral("vbias2"), &options.voltages.vbias2},
                                      std::pair{QStringLiteral("von"), &options.voltages.von},
                                      std::pair{QStringLiteral("voff"), &options.voltages.voff}}) {
        if (!parser.isSet(name))
            continue;
        const std::optional<double> parsed = BiasVoltages::parseVolts(parser.value(name));
        if (!parsed)
            return voltageRefusal(name);
        *volts = *parsed;
    }

    if (const QString missing = missingRequired(parser); !missing.isEmpty())
        return missing;
    SaveRequest &save = options.save;
    const auto frames = wholeNumber(parser.value(QStringLiteral("frames")), 1, SaveRequest::kMaxFrames);
    if (!frames)
        return QStringLiteral("--frames must be a whole number from 1 to 1000.");
    save.frames = *frames;
    save.directory = parser.value(QStringLiteral("out"));
    save.name = parser.value(QStringLiteral("name"));
    if (const QString refusal = SaveRunPreparation::checkName(save.name); !refusal.isEmpty())
        return nameRefusal(refusal);

    save.data = parser.isSet(QStringLiteral("data"));
    save.pictures = parser.isSet(QStringLiteral("pictures"));
    save.video = parser.isSet(QStringLiteral("video"));
    save.hdf5 = parser.isSet(QStringLiteral("hdf5"));
    if (!save.data && !save.pictures && !save.video && !save.hdf5)
        save.data = true;
    for (const auto &[name, path] : {std::pair{QStringLiteral("summary"), &options.summaryPath},
                                     std::pair{QStringLiteral("references"), &options.referencesPath}}) {
        if (!parser.isSet(name))
            continue;
        *path = parser.value(name);
        if (path->trimmed().isEmpty())
            return QStringLiteral("--%1 must name a file.").arg(name);
    }
    return QString();
}

} // namespace

std::optional<CaptureOptions> CaptureOptions::parse(const QStringList &arguments, QString *refusal)
{
    const auto refuse = [refusal](const QString &sentence) {
        if (refusal)
            *refusal = sentence;
        return std::nullopt;
    };
    OptionTable table;
    QCommandLineParser &parser = table.parser;
    if (!parser.parse(arguments))
        return refuse(parser.errorText()); // "Unknown option 'x'.", "Missing value after '--range'."
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        return refuse(QStringLiteral("\"%1\" is not an option of tessivo128-capture.").arg(extra.first()));

    CaptureOptions options;
    options.quiet = parser.isSet(QStringLiteral("quiet"));
    // The help option lists --help-all beside --help; the tool has no other
    // options to show, so both print the same text.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        options.action = Action::Help;
        return options;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        options.action = Action::Version;
        return options;
    }
    if (parser.isSet(QStringLiteral("device"))) {
        options.device = parser.value(QStringLiteral("device")).trimmed().toLower();
        if (options.device != QLatin1String("auto") && options.device != QLatin1String("simulator")
            && options.device != QLatin1String("d2xx"))
            return refuse(QStringLiteral("--device must be auto, simulator or d2xx."));
    }
    if (parser.isSet(QStringLiteral("serial"))) {
        options.serial = parser.value(QStringLiteral("serial")).trimmed();
        if (options.serial.isEmpty())
            return refuse(QStringLiteral("--serial must not be empty."));
    }
    if (parser.isSet(QStringLiteral("list"))) {
        options.action = Action::List;
        return options;
    }
    if (const QString problem = readCapture(parser, options); !problem.isEmpty())
        return refuse(problem);
    return options;
}

QString CaptureOptions::versionText()
{
    return QStringLiteral("tessivo128-capture %1").arg(QStringLiteral(TESSIVO_VERSION));
}

QString CaptureOptions::helpText()
{
    return OptionTable().parser.helpText();
}
