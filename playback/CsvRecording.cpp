#include "playback/CsvRecording.h"

#include "acquisition/FrameTypes.h"
#include "operation/ParameterSummary.h"
#include "operation/SaveRequest.h"
#include "playback/CsvMatrixReader.h"
#include "playback/PlaybackFrame.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kPixels = std::size_t(Zk128::PixelCount);
const QString kFramesSuffix = QStringLiteral("_current.csv");
// The range a run without its parameter file is shown on: the console's default.
constexpr double kDefaultRangeNa = 800.0;

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// The run's file-name prefix (folder + "/" + name) of its frames file.
QString runPrefix(const QString &path)
{
    QString prefix = QFileInfo(path).absoluteFilePath();
    if (prefix.endsWith(kFramesSuffix))
        prefix.chop(kFramesSuffix.size());
    return prefix;
}

// A matrix file (a reference): one block, or empty when it is not there or not whole.
std::vector<double> readMatrix(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<double> values(kPixels);
    if (!CsvMatrixReader::parseBlock(bytes.constData(), bytes.constData() + bytes.size(), values.data()))
        return {};
    return values;
}

} // namespace

std::unique_ptr<CsvRecording> CsvRecording::open(const QString &path, QString *error, const Progress &progress)
{
    std::unique_ptr<CsvRecording> recording(new CsvRecording);
    recording->m_file.setFileName(path);
    if (!recording->m_file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("The file %1 could not be opened: %2.").arg(native(path), recording->m_file.errorString());
        return nullptr;
    }
    QString reason;
    switch (recording->m_index.build(recording->m_file, progress, &reason)) {
    case CsvFrameIndex::Result::Built:
        break;
    case CsvFrameIndex::Result::NotFrames:
        *error = QStringLiteral("The file %1 is not a recording: it does not begin with a \"Time: \" line.").arg(native(path));
        return nullptr;
    case CsvFrameIndex::Result::Cancelled:
        *error = QStringLiteral("Opening %1 was cancelled.").arg(native(path));
        return nullptr;
    case CsvFrameIndex::Result::ReadFailed:
        *error = QStringLiteral("The file %1 could not be read: %2.").arg(native(path), reason);
        return nullptr;
    }
    // The writer puts each frame down whole, so only the last one can be cut
    // (a run whose console died, a copy broken off).
    std::vector<double> values(kPixels);
    CsvFrameIndex &index = recording->m_index;
    if (!recording->readFrame(index.frameCount() - 1, values)) {
        index.dropLast();
        recording->m_notice = QStringLiteral("The last frame is incomplete; %1 frames are shown.").arg(index.frameCount());
    }
    if (index.frameCount() == 0 || !recording->readFrame(0, values)) {
        *error = QStringLiteral("The file %1 is not a recording: it holds no whole frame.").arg(native(path));
        return nullptr;
    }
    recording->m_lastError.clear();
    const QString prefix = runPrefix(path);
    recording->readParameters(prefix);
    recording->readReferences(prefix);
    return recording;
}

void CsvRecording::readParameters(const QString &prefix)
{
    const QFileInfo info(prefix);
    QFile file(QDir(info.path()).filePath(SaveRunPreparation::parameterFileName(info.fileName())));
    std::optional<ParameterSummary::Values> values;
    if (file.open(QIODevice::ReadOnly))
        values = ParameterSummary::parse(QString::fromUtf8(file.readAll()));
    if (values) {
        m_metadata.currentRangeNa = values->rangeNa;
        m_metadata.vbias1Volts = values->vbias1Volts;
        m_metadata.vbias2Volts = values->vbias2Volts;
        m_metadata.vonVolts = values->vonVolts;
        m_metadata.voffVolts = values->voffVolts;
    } else {
        const double unknown = std::numeric_limits<double>::quiet_NaN();
        m_metadata.currentRangeNa = kDefaultRangeNa;
        m_metadata.vbias1Volts = m_metadata.vbias2Volts = m_metadata.vonVolts = m_metadata.voffVolts = unknown;
        const QString missing = QStringLiteral("The run's parameter file %1 is missing or unreadable; its frames are shown on the %2 nA range.")
                                    .arg(file.fileName().section(QLatin1Char('/'), -1))
                                    .arg(kDefaultRangeNa);
        m_notice = m_notice.isEmpty() ? missing : m_notice + QLatin1Char(' ') + missing;
    }
    m_range = PlaybackFrame::rangeOf(m_metadata.currentRangeNa);
    const double start = m_index.time(0);
    if (std::isfinite(start))
        m_metadata.startTime = std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::milliseconds(std::llround(start * 1000.0))));
}

void CsvRecording::readReferences(const QString &prefix)
{
    m_references.fullOff = readMatrix(prefix + QStringLiteral("_fulloff.csv"));
    m_references.fullOn = readMatrix(prefix + QStringLiteral("_fullon.csv"));
}

const char *CsvRecording::readBlock(int k)
{
    if (k < 0 || k >= m_index.frameCount()) {
        m_lastError = QStringLiteral("The recording has no frame %1.").arg(k + 1);
        return nullptr;
    }
    const qint64 begin = m_index.begin(k);
    const qint64 length = m_index.end(k) - begin;
    m_bytes.resize(std::size_t(length));
    if (!m_file.seek(begin) || m_file.read(m_bytes.data(), length) != length) {
        m_lastError = QStringLiteral("Frame %1 could not be read from %2: %3.")
                          .arg(k + 1)
                          .arg(native(m_file.fileName()), m_file.errorString());
        return nullptr;
    }
    // The block begins after the "Time: " line.
    const char *lineEnd = static_cast<const char *>(std::memchr(m_bytes.data(), '\n', m_bytes.size()));
    if (!lineEnd)
        m_lastError = QStringLiteral("Frame %1 of %2 is not 128 lines of 128 numbers.").arg(k + 1).arg(native(m_file.fileName()));
    return lineEnd ? lineEnd + 1 : nullptr;
}

bool CsvRecording::readFrame(int k, std::vector<double> &values)
{
    const char *block = readBlock(k);
    if (!block)
        return false;
    values.resize(kPixels);
    if (!CsvMatrixReader::parseBlock(block, m_bytes.data() + m_bytes.size(), values.data())) {
        m_lastError = QStringLiteral("Frame %1 of %2 is not 128 lines of 128 numbers.").arg(k + 1).arg(native(m_file.fileName()));
        return false;
    }
    return true;
}

FramePtr CsvRecording::frame(int k)
{
    std::vector<double> values;
    if (!readFrame(k, values))
        return nullptr;
    return PlaybackFrame::make(std::move(values), m_range, k, m_index.time(k));
}

double CsvRecording::frameTime(int k) const
{
    return k >= 0 && k < m_index.frameCount() ? m_index.time(k) : std::numeric_limits<double>::quiet_NaN();
}

std::vector<double> CsvRecording::pixelSeries(int x, int y)
{
    std::vector<double> series;
    if (x < 0 || y < 0 || x >= Zk128::Side || y >= Zk128::Side)
        return series;
    series.reserve(std::size_t(m_index.frameCount()));
    // A CSV file has no columns to read on their own: each frame is read,
    // but only the one value is parsed.
    for (int k = 0; k < m_index.frameCount(); ++k) {
        double value = std::numeric_limits<double>::quiet_NaN();
        if (const char *block = readBlock(k))
            CsvMatrixReader::valueAt(block, m_bytes.data() + m_bytes.size(), x, y, &value);
        series.push_back(value);
    }
    return series;
}
