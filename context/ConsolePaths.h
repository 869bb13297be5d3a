#pragma once

#include <QString>

// Where the console reads and writes its own files (saved runs go where the
// operator chooses, not here).
struct ConsolePaths
{
    QString shippedFolder; // the digit model and the answer pictures, only ever read
    QString scratchFolder; // this instance's own test.png, mode.png and 11.png
    QString resultFolder;  // detection_confidences.csv and result.png
    QString logFile;       // the event log's file, absolute

    // The pictures of the scratch folder: the shown frame recognition reads,
    // the template frame it subtracts, the 28 x 28 trace of its preprocessing.
    static constexpr char kTestPictureName[] = "test.png";
    static constexpr char kTemplatePictureName[] = "mode.png";
    static constexpr char kTracePictureName[] = "11.png";

    QString testPicture() const { return scratchFolder + QLatin1Char('/') + QLatin1String(kTestPictureName); }
    QString templatePicture() const { return scratchFolder + QLatin1Char('/') + QLatin1String(kTemplatePictureName); }
    QString shippedFile(const QString &name) const { return shippedFolder + QLatin1Char('/') + name; }

    // The shipped files of the application directory, the given scratch folder
    // (see ScratchFolder; none for programs that recognise nothing),
    // <working dir>/result and the log file: logFile, by default "log.txt"
    // in the working directory.
    static ConsolePaths forApplication(const QString &scratchFolder = QString(), const QString &logFile = QString());

    // Where the shipped files are for an executable in executableFolder: an
    // installed console (<prefix>/bin) reads <prefix>/share/tessivo128; one
    // run from its build tree reads the "detect" folder beside it.
    static QString shippedFolderFor(const QString &executableFolder);
};
