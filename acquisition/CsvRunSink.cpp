#include "acquisition/CsvRunSink.h"

#include "acquisition/CsvWriter.h"
#include "acquisition/RunFiles.h"

#include <QFileInfo>

#include <cstring>

namespace {

constexpr std::size_t kPixelCount = std::size_t(Zk128::PixelCount);
const QString kPartSuffix = QStringLiteral(".part");

char *appendBytes(char *out, const char *bytes, std::size_t length)
{
    std::memcpy(out, bytes, length);
    return out + length;
}

// Closes the file and reports the first error closing showed.
bool closeChecked(QFile &file, QString *reason)
{
    file.close(); // clears an earlier write error when the close itself succeeds
    if (file.error() != QFileDevice::NoError) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace

void CsvRunSink::fail(const QString &reason)
{
    if (m_failure.isEmpty())
        m_failure = reason;
}

bool CsvRunSink::openPart(RunFile &runFile, const QString &suffix, QString *error)
{
    runFile.path = m_prefix + suffix;
    runFile.file.setFileName(runFile.path + kPartSuffix);
    // Unbuffered: each frame goes down in one write of its own, and a failed
    // write is seen at once rather than at a later flush.
    if (!runFile.file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1 could not be created (%2)")
                     .arg(QFileInfo(runFile.file.fileName()).fileName(), runFile.file.errorString());
        return false;
    }
    return true;
}

bool CsvRunSink::open(const SaveRunPlan &plan, QString *error)
{
    m_prefix = plan.folder + QLatin1Char('/') + plan.name;
    if (openPart(m_current, QStringLiteral("_current.csv"), error) && openPart(m_gray, QStringLiteral("_gray.csv"), error))
        return true;
    for (RunFile *runFile : {&m_current, &m_gray}) {
        if (runFile->file.isOpen()) {
            runFile->file.close();
            runFile->file.remove();
        }
    }
    return false;
}

bool CsvRunSink::write(const RecordedFrame &frame, QString *error)
{
    if (m_failure.isEmpty() && (frame.currents.size() < kPixelCount || frame.gray.size() < kPixelCount))
        fail(QStringLiteral("frame %1 holds fewer than %2 values").arg(frame.index).arg(kPixelCount));
    if (!m_failure.isEmpty()) {
        *error = m_failure;
        return false;
    }

    const QByteArray header = CsvFormat::kTimePrefix + frame.timestamp.toUtf8() + CsvFormat::kLineEnd;
    m_buffer.resize(std::size_t(header.size()) + CsvFormat::kCurrentsBlockCapacity + CsvFormat::kLineEndLength);
    char *const begin = m_buffer.data();
    QString reason;

    char *out = appendBytes(begin, header.constData(), std::size_t(header.size()));
    out = CsvFormat::formatBlock(frame.currents.data(), out);
    out = appendBytes(out, CsvFormat::kLineEnd, CsvFormat::kLineEndLength);
    bool written = RunFiles::writeAll(m_current.file, begin, qint64(out - begin), &reason);

    if (written) {
        out = appendBytes(begin, header.constData(), std::size_t(header.size()));
        out = CsvFormat::formatBlock(frame.gray.data(), out);
        out = appendBytes(out, CsvFormat::kLineEnd, CsvFormat::kLineEndLength);
        written = RunFiles::writeAll(m_gray.file, begin, qint64(out - begin), &reason);
    }

    if (!written) {
        fail(reason);
        cutBackToWholeFrames();
        *error = m_failure;
        return false;
    }
    m_current.wholeSize = m_current.file.size();
    m_gray.wholeSize = m_gray.file.size();
    ++m_framesWritten;
    return true;
}

void CsvRunSink::cutBackToWholeFrames()
{
    for (RunFile *runFile : {&m_current, &m_gray})
        if (!runFile->file.resize(runFile->wholeSize))
            runFile->whole = false; // it would end mid-frame: removed at finish
}

bool CsvRunSink::closeAndRename(RunFile &runFile, QString *error)
{
    QString reason;
    // On the disk before it takes its final name, so a file under a final
    // name never lacks bytes after a crash.
    const bool synced = RunFiles::syncOpenFile(runFile.file, &reason);
    QString closeReason;
    const bool closed = closeChecked(runFile.file, &closeReason);
    if (synced && !closed)
        reason = closeReason;
    if ((!synced || !closed) && runFile.whole)
        runFile.whole = cutBackClosed(runFile);
    if (!runFile.whole) {
        runFile.file.remove();
        *error = synced && closed
                     ? QStringLiteral("%1 could not be cut back to whole frames").arg(QFileInfo(runFile.path).fileName())
                     : reason;
        return false;
    }
    if (!RunFiles::renameOver(runFile.file.fileName(), runFile.path, error))
        return false;
    runFile.inPlace = true;
    if (!synced || !closed) {
        *error = reason; // kept, cut back to its whole frames, but the run lost its last bytes
        return false;
    }
    return true;
}

// A sync or close that failed may have lost the end of the file: what the
// disk holds is cut back to the last whole frame and synced again.
bool CsvRunSink::cutBackClosed(RunFile &runFile)
{
    QFile file(runFile.file.fileName());
    QString ignored;
    return file.open(QIODevice::ReadWrite) && file.size() >= runFile.wholeSize && file.resize(runFile.wholeSize)
           && RunFiles::syncOpenFile(file, &ignored);
}

bool CsvRunSink::writeReference(const QString &suffix, const std::vector<double> &values)
{
    if (values.empty())
        return true; // the run was ended without its references
    if (values.size() < kPixelCount) {
        fail(QStringLiteral("a reference holds fewer than %1 values").arg(kPixelCount));
        return false;
    }
    RunFile reference;
    QString reason;
    if (!openPart(reference, suffix, &reason)) {
        fail(reason);
        return false;
    }
    m_buffer.resize(CsvFormat::kCurrentsBlockCapacity + CsvFormat::kLineEndLength);
    char *out = CsvFormat::formatBlock(values.data(), m_buffer.data());
    out = appendBytes(out, CsvFormat::kLineEnd, CsvFormat::kLineEndLength);
    if (!RunFiles::writeAll(reference.file, m_buffer.data(), qint64(out - m_buffer.data()), &reason)) {
        reference.file.close();
        reference.file.remove(); // never leave a reference cut short
        fail(reason);
        return false;
    }
    reference.wholeSize = reference.file.size(); // a reference is whole only complete
    if (!closeAndRename(reference, &reason)) {
        reference.file.remove();
        fail(reason);
        return false;
    }
    return true;
}

bool CsvRunSink::finish(const RunReferences &references, bool /*complete*/, QString *error)
{
    // An interrupted run keeps the whole frames it gathered: same steps.
    for (RunFile *runFile : {&m_current, &m_gray}) {
        QString reason;
        if (runFile->file.isOpen() && !closeAndRename(*runFile, &reason))
            fail(reason);
    }
    if (!m_current.inPlace || !m_gray.inPlace)
        m_framesWritten = 0; // removed, or never put in place: its frames are not where the run's files are
    writeReference(QStringLiteral("_fulloff.csv"), references.fullOff);
    writeReference(QStringLiteral("_fullon.csv"), references.fullOn);
    if (!m_failure.isEmpty()) {
        *error = m_failure;
        return false;
    }
    return true;
}
