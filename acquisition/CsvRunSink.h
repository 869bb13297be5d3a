#pragma once

#include "acquisition/RunSink.h"

#include <QFile>
#include <QString>

#include <string>
#include <vector>

// The CSV data of a save run (kind "data"): <name>_current.csv and
// <name>_gray.csv grow frame by frame while the run goes; <name>_fulloff.csv
// and <name>_fullon.csv are written from the references at the end. The
// bytes are exactly those writeFramesCsv / writeMatrixCsv write for the same
// frames.
//
// Every file is written as <file>.part in the run folder and renamed into
// place at finish, also when the run was interrupted. A failed write cuts both
// frame files back to the last frame they both hold whole, so a file never
// ends mid-frame; what is whole is still renamed into place. Each file is
// synced to the disk before its rename; a sync or close that fails cuts the
// file back to its whole frames where it can, else removes it. A frame file
// that is not in place under its final name counts no frames. A reference file
// that cannot be written completely is removed. References left empty (a run
// ended without them) are not written.
//
// Thread contract: used by the save-run writer's thread only.
class CsvRunSink : public RunSink
{
public:
    QString kind() const override { return QStringLiteral("data"); }
    bool open(const SaveRunPlan &plan, QString *error) override;
    bool write(const RecordedFrame &frame, QString *error) override;
    bool finish(const RunReferences &references, bool complete, QString *error) override;
    int framesWritten() const override { return m_framesWritten; }

private:
    // One file of the run, written under its .part name.
    struct RunFile
    {
        QString path; // the final name
        QFile file;   // the .part file while it is open
        qint64 wholeSize = 0; // size after the last frame both frame files hold
        bool whole = true;    // false when a cut back to wholeSize failed
        bool inPlace = false; // renamed to its final name
    };

    bool openPart(RunFile &runFile, const QString &suffix, QString *error);
    void cutBackToWholeFrames();
    bool closeAndRename(RunFile &runFile, QString *error);
    bool cutBackClosed(RunFile &runFile);
    bool writeReference(const QString &suffix, const std::vector<double> &values);
    void fail(const QString &reason);

    QString m_prefix;        // folder + "/" + name
    RunFile m_current;
    RunFile m_gray;
    std::string m_buffer;    // one formatted frame, reused
    int m_framesWritten = 0; // frames whole in both frame files
    QString m_failure;       // the first failure; empty while all is well
};
