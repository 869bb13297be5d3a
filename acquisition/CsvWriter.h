#pragma once

#include "acquisition/FrameTypes.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <vector>

// CSV export of recordings and references. A matrix block is 128 lines of 128
// values separated by ","; a frames file holds, per frame, "Time: <timestamp>"
// (or "Time: Unknown" once the timestamps run out), the block and an empty
// line; a matrix file holds the block and an empty line. Numbers are written
// byte for byte as printf's "%g" writes them (nan and inf included). Lines end
// in "\r\n" on Windows, "\n" elsewhere. The directory of the file is created
// with its parents and an existing file is truncated.
//
// Each returns false (with a warning) when the file could not be opened or
// written; "No data to save." and short frames are warned about but are not
// failures. Formatting runs on all cores in bounded chunks.

bool writeFramesCsv(const QString &path, const std::vector<std::vector<double>> &frames,
                    const QStringList &timestamps);

// Gray levels 0..255, same layout.
bool writeFramesCsv(const QString &path, const std::vector<std::vector<std::uint8_t>> &grayFrames,
                    const QStringList &timestamps);

bool writeMatrixCsv(const QString &path, const std::vector<double> &values);

namespace CsvFormat {
// Longest text formatNumber writes ("-1.23457e-308" and the like fit easily).
constexpr int MaxNumberLength = 32;

#ifdef Q_OS_WIN
inline constexpr char kLineEnd[] = "\r\n";
#else
inline constexpr char kLineEnd[] = "\n";
#endif
constexpr std::size_t kLineEndLength = sizeof(kLineEnd) - 1;

// Opens each frame of a frames file, followed by the frame's time.
inline constexpr char kTimePrefix[] = "Time: ";
// The time of a frame as a run's frames files write it, local time (QDateTime format).
inline constexpr char kTimestampFormat[] = "yyyy/MM/dd HH:mm:ss.zzz";

// Room one matrix block may take: every value at its longest, plus its separator.
constexpr std::size_t kCurrentsBlockCapacity =
    std::size_t(Zk128::PixelCount) * (std::size_t(MaxNumberLength) + 1) + std::size_t(Zk128::Side) * kLineEndLength;
constexpr std::size_t kGrayBlockCapacity =
    std::size_t(Zk128::PixelCount) * (4 + 1) + std::size_t(Zk128::Side) * kLineEndLength;

// Writes `value` as printf("%g") would at `out` and returns the end.
char *formatNumber(double value, char *out);

// Writes the matrix block of 16384 values (128 lines, each with its line
// end) at `out` and returns the end; the files above hold exactly these bytes.
char *formatBlock(const double *values, char *out);
char *formatBlock(const std::uint8_t *values, char *out);
} // namespace CsvFormat
