#include "playback/CsvFrameIndex.h"

#include "acquisition/CsvWriter.h"

#include <QDateTime>

#include <cstring>
#include <limits>
#include <string_view>

namespace {

constexpr qint64 kBlockBytes = qint64(4) << 20;
constexpr std::string_view kPrefix(CsvFormat::kTimePrefix);
// A "Time: " line after the line end of the frame before it.
constexpr char kFrameStart[] = "\nTime: ";
constexpr std::string_view kNeedle(kFrameStart);

} // namespace

double CsvFrameIndex::parseTime(const char *text, qsizetype length)
{
    if (length > 0 && text[length - 1] == '\r')
        --length;
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(text, length),
                                                 QString::fromLatin1(CsvFormat::kTimestampFormat));
    return time.isValid() ? double(time.toMSecsSinceEpoch()) / 1000.0 : std::numeric_limits<double>::quiet_NaN();
}

void CsvFrameIndex::add(qint64 offset, const char *text, qsizetype length)
{
    m_offsets.push_back(offset);
    m_times.push_back(parseTime(text, length));
}

qint64 CsvFrameIndex::end(int k) const
{
    return std::size_t(k) + 1 < m_offsets.size() ? m_offsets[std::size_t(k) + 1] : m_fileEnd;
}

void CsvFrameIndex::dropLast()
{
    if (m_offsets.empty())
        return;
    m_fileEnd = m_offsets.back();
    m_offsets.pop_back();
    m_times.pop_back();
}

CsvFrameIndex::Result CsvFrameIndex::build(QFile &file, const Progress &progress, QString *reason)
{
    m_offsets.clear();
    m_times.clear();
    const qint64 size = file.size();
    if (!file.seek(0)) {
        *reason = file.errorString();
        return Result::ReadFailed;
    }
    // `buffer` holds the file's bytes from `base` on. A "Time: " line whose
    // end is not read yet stays in it for the next round; so do the last
    // bytes, which may hold the start of the next frame's line.
    std::string buffer;
    qint64 base = 0;
    std::size_t from = 0; // where the next search begins
    bool first = true;
    for (;;) {
        const std::size_t kept = buffer.size();
        buffer.resize(kept + std::size_t(kBlockBytes));
        const qint64 got = file.read(buffer.data() + kept, kBlockBytes);
        if (got < 0) {
            *reason = file.errorString();
            return Result::ReadFailed;
        }
        buffer.resize(kept + std::size_t(got));
        const bool atEnd = got == 0;
        const std::string_view view(buffer);
        if (first) {
            if (view.size() < kPrefix.size() && !atEnd)
                continue;
            if (view.substr(0, kPrefix.size()) != kPrefix)
                return Result::NotFrames;
            const std::size_t lineEnd = view.find('\n');
            if (lineEnd == std::string_view::npos && !atEnd)
                continue;
            const std::size_t stop = lineEnd == std::string_view::npos ? view.size() : lineEnd;
            add(0, buffer.data() + kPrefix.size(), qsizetype(stop - kPrefix.size()));
            from = stop;
            first = false;
        }
        std::size_t pending = std::string_view::npos; // a frame start whose line is not whole yet
        for (std::size_t hit = view.find(kNeedle, from); hit != std::string_view::npos; hit = view.find(kNeedle, from)) {
            const std::size_t text = hit + kNeedle.size();
            const std::size_t lineEnd = view.find('\n', text);
            if (lineEnd == std::string_view::npos && !atEnd) {
                pending = hit;
                break;
            }
            const std::size_t stop = lineEnd == std::string_view::npos ? view.size() : lineEnd;
            add(base + qint64(hit) + 1, buffer.data() + text, qsizetype(stop - text));
            from = stop;
        }
        if (atEnd)
            break;
        std::size_t keep = pending != std::string_view::npos
                               ? pending
                               : std::max(from, buffer.size() > kNeedle.size() ? buffer.size() - kNeedle.size() : 0);
        buffer.erase(0, keep);
        base += qint64(keep);
        from = from > keep ? from - keep : 0;
        if (progress && !progress(size > 0 ? double(base) / double(size) : 1.0))
            return Result::Cancelled;
    }
    m_fileEnd = base + qint64(buffer.size());
    if (progress)
        progress(1.0);
    return Result::Built;
}
