#include "acquisition/CsvWriter.h"

#include "acquisition/AcquisitionLogging.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

namespace {

constexpr int Side = Zk128::Side;
constexpr int PixelCount = Zk128::PixelCount;

constexpr auto &LineEnd = CsvFormat::kLineEnd;
constexpr std::size_t LineEndLength = CsvFormat::kLineEndLength;

// Exact powers of ten (every one up to 1e22 is representable).
constexpr double Pow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                            1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

char *formatSlow(double value, char *out)
{
    // The standard library's general form with a precision is defined as printf's %g.
    return std::to_chars(out, out + CsvFormat::MaxNumberLength, value, std::chars_format::general, 6).ptr;
}

// value * 10^(5 - e) with a single rounding, or NaN when the power is not exact.
double scaled(double value, int e)
{
    const int k = 5 - e;
    if (k >= 0 && k <= 22)
        return value * Pow10[k];
    if (k < 0 && -k <= 22)
        return value / Pow10[-k];
    return std::nan("");
}

// Where the exact value * 10^(5 - e) lies against whole + 0.5: below (-1),
// exactly on it (0) or above (1); 2 when this cannot be told cheaply. Only
// the multiplying scale is decided: its rounding error is exactly fma's residual.
int againstHalf(double value, int e, double y, double whole)
{
    const int k = 5 - e;
    if (k < 0 || k > 22)
        return 2;
    const double residual = std::fma(value, Pow10[k], -y); // exact: value * 10^k = y + residual
    const double offset = y - (whole + 0.5);               // exact: both lie within one unit
    if (offset > -residual)
        return 1;
    if (offset < -residual)
        return -1;
    return 0;
}

// floor(log10(a)) or one less, from the binary exponent alone.
int decimalExponentEstimate(double a)
{
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int biased = int((bits >> 52) & 0x7FF);
    const int binary = biased != 0 ? biased - 1023 : std::ilogb(a); // subnormals the slow way
    return (binary * 78913) >> 18; // floor(binary * log10(2)) for |binary| < 2^13
}

char *writeDigits(unsigned n, int count, char *out)
{
    for (int i = count - 1; i >= 0; --i) {
        out[i] = char('0' + n % 10);
        n /= 10;
    }
    return out + count;
}

char *stripZeros(char *begin, char *end)
{
    while (end > begin && end[-1] == '0')
        --end;
    if (end > begin && end[-1] == '.')
        --end;
    return end;
}

} // namespace

namespace CsvFormat {

// The six significant digits come from one correctly rounded scaling by an
// exact power of ten. Close to a rounding half, where the scaling's own error
// could matter, the exact residual decides; where the power is not exact the
// standard library's general formatter (printf's rules) decides instead.
char *formatNumber(double value, char *out)
{
    if (!std::isfinite(value))
        return formatSlow(value, out);
    if (value == 0.0) {
        if (std::signbit(value))
            *out++ = '-';
        *out++ = '0';
        return out;
    }
    const double a = std::fabs(value);
    int e = decimalExponentEstimate(a);
    double y = scaled(a, e);
    if (y >= 1000000.0) {
        ++e;
        y = scaled(a, e);
    } else if (y < 100000.0) {
        --e;
        y = scaled(a, e);
    }
    if (!(y >= 100000.0 && y < 1000000.0))
        return formatSlow(value, out);
    const double whole = double(std::int64_t(y)); // floor: y is positive
    const double fraction = y - whole; // exact in this range
    bool up = fraction > 0.5;
    if (std::fabs(fraction - 0.5) < 1e-4) {
        // Near a half the scaling's rounding could decide: ask the exact value.
        // An exact half rounds to even, as printf does.
        const int side = againstHalf(a, e, y, whole);
        if (side == 2)
            return formatSlow(value, out);
        up = side > 0 || (side == 0 && (std::int64_t(whole) & 1) != 0);
    }
    unsigned digits = unsigned(whole) + (up ? 1u : 0u);
    if (digits == 1000000u) {
        digits = 100000u;
        ++e;
    }

    if (value < 0.0)
        *out++ = '-';
    char text[6];
    writeDigits(digits, 6, text);
    if (e < -4 || e >= 6) {
        char *start = out;
        *out++ = text[0];
        *out++ = '.';
        std::memcpy(out, text + 1, 5);
        out = stripZeros(start, out + 5);
        *out++ = 'e';
        *out++ = e < 0 ? '-' : '+';
        const int magnitude = e < 0 ? -e : e;
        out = writeDigits(unsigned(magnitude), magnitude >= 100 ? 3 : 2, out);
        return out;
    }
    if (e >= 0) {
        std::memcpy(out, text, std::size_t(e + 1));
        out += e + 1;
        if (e == 5)
            return out;
        char *point = out;
        *out++ = '.';
        std::memcpy(out, text + e + 1, std::size_t(5 - e));
        return stripZeros(point, out + (5 - e));
    }
    char *start = out;
    *out++ = '0';
    *out++ = '.';
    for (int i = 0; i < -e - 1; ++i)
        *out++ = '0';
    std::memcpy(out, text, 6);
    return stripZeros(start, out + 6);
}

} // namespace CsvFormat

namespace {

// Gray levels are whole numbers 0..255: their texts come from a table.
struct GrayTable
{
    std::array<std::array<char, 4>, 256> text{};
    std::array<unsigned char, 256> length{};
    GrayTable()
    {
        for (int level = 0; level < 256; ++level) {
            char *end = std::to_chars(text[std::size_t(level)].data(), text[std::size_t(level)].data() + 4, level).ptr;
            length[std::size_t(level)] = static_cast<unsigned char>(end - text[std::size_t(level)].data());
        }
    }
};

const GrayTable &grayTable()
{
    static const GrayTable table;
    return table;
}

inline char *formatValue(double value, char *out) { return CsvFormat::formatNumber(value, out); }

inline char *formatValue(std::uint8_t value, char *out)
{
    const GrayTable &table = grayTable();
    std::memcpy(out, table.text[value].data(), 4);
    return out + table.length[value];
}

constexpr std::size_t MaxValueLength(double) { return CsvFormat::MaxNumberLength; }
constexpr std::size_t MaxValueLength(std::uint8_t) { return 4; }

char *appendText(char *out, const char *text, std::size_t length)
{
    std::memcpy(out, text, length);
    return out + length;
}

// One matrix block: 128 lines of 128 values separated by ",".
template <typename T>
char *formatBlock(const T *values, char *out)
{
    for (int row = 0; row < Side; ++row) {
        const T *line = values + row * Side;
        for (int column = 0; column < Side; ++column) {
            out = formatValue(line[column], out);
            *out++ = ',';
        }
        --out; // no separator after the last value
        out = appendText(out, LineEnd, LineEndLength);
    }
    return out;
}

template <typename T>
std::size_t blockCapacity()
{
    return std::size_t(PixelCount) * (MaxValueLength(T()) + 1) + std::size_t(Side) * LineEndLength;
}

} // namespace

namespace CsvFormat {
char *formatBlock(const double *values, char *out) { return ::formatBlock(values, out); }
char *formatBlock(const std::uint8_t *values, char *out) { return ::formatBlock(values, out); }
} // namespace CsvFormat

namespace {

// Opens `path` for writing (directory created, file truncated); warns on failure.
bool openForWriting(QFile &file, const QString &path)
{
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath()); // a failure shows as the open failure below
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qCWarning(lcAcquisition).noquote() << "Could not open file for writing:" << path;
        return false;
    }
    return true;
}

// Writes the bytes, remembering the first failure.
class OutputFile
{
public:
    explicit OutputFile(QFile &file) : m_file(file) {}
    void write(const char *data, std::size_t size)
    {
        if (!m_error.isEmpty() || size == 0)
            return;
        if (m_file.write(data, qint64(size)) != qint64(size))
            m_error = m_file.errorString();
    }
    bool failed() const { return !m_error.isEmpty(); }
    // Closes the file; a failure during writing or closing is warned about.
    bool finish()
    {
        if (m_error.isEmpty() && !m_file.flush())
            m_error = m_file.errorString();
        m_file.close();
        if (m_error.isEmpty() && m_file.error() != QFileDevice::NoError)
            m_error = m_file.errorString();
        if (!m_error.isEmpty()) {
            qCWarning(lcAcquisition).noquote() << "File error after attempt to write:" << m_error;
            return false;
        }
        return true;
    }

private:
    QFile &m_file;
    QString m_error;
};

// Frames formatted per chunk: bounded memory, both cores busy, few large writes.
constexpr int FramesPerChunk = 16;

template <typename T>
bool writeFrames(const QString &path, const std::vector<std::vector<T>> &frames, const QStringList &timestamps)
{
    QFile file;
    if (!openForWriting(file, path))
        return false;
    OutputFile output(file);
    if (frames.empty()) {
        qCWarning(lcAcquisition) << "No data to save.";
        return output.finish();
    }

    // The "Time: " line of each frame that is written; a short frame is
    // skipped without using up a timestamp.
    struct Job
    {
        const T *values;
        QByteArray header;
    };
    std::vector<Job> jobs;
    jobs.reserve(frames.size());
    int timestampIndex = 0;
    for (const std::vector<T> &frame : frames) {
        if (frame.size() < std::size_t(PixelCount)) {
            qCWarning(lcAcquisition) << "Data array does not contain enough data." << frame.size();
            continue;
        }
        const QString time = timestampIndex < timestamps.size() ? timestamps.at(timestampIndex) : QStringLiteral("Unknown");
        ++timestampIndex;
        jobs.push_back({frame.data(), (CsvFormat::kTimePrefix + time).toUtf8() + LineEnd});
    }

    const std::size_t capacity = blockCapacity<T>() + LineEndLength;
    std::vector<std::string> buffers(std::size_t(std::min<std::size_t>(FramesPerChunk, jobs.size())));
    for (std::string &buffer : buffers)
        buffer.resize(capacity);
    std::vector<std::size_t> lengths(buffers.size());

    for (std::size_t first = 0; first < jobs.size() && !output.failed(); first += FramesPerChunk) {
        const int count = int(std::min<std::size_t>(FramesPerChunk, jobs.size() - first));
        cv::parallel_for_(cv::Range(0, count), [&](const cv::Range &range) {
            for (int k = range.start; k < range.end; ++k) {
                char *begin = buffers[std::size_t(k)].data();
                char *out = formatBlock(jobs[first + std::size_t(k)].values, begin);
                out = appendText(out, LineEnd, LineEndLength);
                lengths[std::size_t(k)] = std::size_t(out - begin);
            }
        });
        for (int k = 0; k < count; ++k) {
            const QByteArray &header = jobs[first + std::size_t(k)].header;
            output.write(header.constData(), std::size_t(header.size()));
            output.write(buffers[std::size_t(k)].data(), lengths[std::size_t(k)]);
        }
    }
    return output.finish();
}

} // namespace

bool writeFramesCsv(const QString &path, const std::vector<std::vector<double>> &frames, const QStringList &timestamps)
{
    return writeFrames(path, frames, timestamps);
}

bool writeFramesCsv(const QString &path, const std::vector<std::vector<std::uint8_t>> &grayFrames,
                    const QStringList &timestamps)
{
    return writeFrames(path, grayFrames, timestamps);
}

bool writeMatrixCsv(const QString &path, const std::vector<double> &values)
{
    QFile file;
    if (!openForWriting(file, path))
        return false;
    OutputFile output(file);
    if (values.empty()) {
        qCWarning(lcAcquisition) << "No data to save.";
        return output.finish();
    }
    if (values.size() < std::size_t(PixelCount)) {
        // A block is always 128 x 128; never read past the values.
        qCWarning(lcAcquisition) << "Data array does not contain enough data." << values.size();
        return output.finish();
    }
    std::string buffer(blockCapacity<double>() + LineEndLength, '\0');
    char *out = formatBlock(values.data(), buffer.data());
    out = appendText(out, LineEnd, LineEndLength);
    output.write(buffer.data(), std::size_t(out - buffer.data()));
    return output.finish();
}
