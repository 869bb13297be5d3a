#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// How a save run ended, for the operator, the log and scripts.
struct SaveOutcome
{
    QString folder;            // the run folder
    QStringList kinds;         // the kinds the run was asked for: "data", "pictures", "video", "HDF5 file"
    int requested = 0;         // frames asked for
    int gathered = 0;          // frames the capture delivered to the run
    int written = 0;           // frames on disk in every kind (the smallest count)
    QString interruption;      // why the run ended early ("the device was disconnected"); empty when it ran to its end
    QStringList failures;      // one clause per failed kind: "the video could not be written: No space left on device"

    // Every requested frame gathered, and every kind written completely and closed.
    bool success() const { return interruption.isEmpty() && failures.isEmpty() && written == requested; }
    // One sentence for the operator; empty on success. For example
    // "Saved 113 of 1000 frames: the device was disconnected." or
    // "Saved 20 of 20 frames; the video could not be written: No space left on device."
    QString message() const;
    // "Saved 20 of 20 frames": the frames on disk against those asked for.
    QString framesClause() const;
    // One line for log.txt: folder, frames, kinds and result.
    QString logLine() const;
};

Q_DECLARE_METATYPE(SaveOutcome)
