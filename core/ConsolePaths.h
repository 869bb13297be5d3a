#pragma once

#include <QString>

// Where the console reads and writes its own files (saved runs go where the
// operator chooses, not here).
struct ConsolePaths
{
    QString detectFolder; // the digit model, answer pictures, test.png, mode.png, 11.png
    QString resultFolder; // detection_confidences.csv and result.png
    QString logFile;      // the event log, opened before main

    // <application dir>/detect, <working dir>/result and the log as opened.
    static ConsolePaths forApplication();
};
