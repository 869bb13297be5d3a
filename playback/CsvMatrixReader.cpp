#include "playback/CsvMatrixReader.h"

#include "acquisition/FrameTypes.h"

#include <charconv>
#include <cstring>

namespace CsvMatrixReader {

const char *parseBlock(const char *begin, const char *end, double *values)
{
    const char *p = begin;
    for (int row = 0; row < Zk128::Side; ++row) {
        for (int column = 0; column < Zk128::Side; ++column) {
            const std::from_chars_result parsed = std::from_chars(p, end, *values++);
            if (parsed.ec != std::errc() || parsed.ptr == end)
                return nullptr;
            p = parsed.ptr;
            if (column + 1 < Zk128::Side) {
                if (*p++ != ',')
                    return nullptr;
            }
        }
        if (*p == '\r' && p + 1 < end)
            ++p;
        if (*p++ != '\n')
            return nullptr;
    }
    return p;
}

bool valueAt(const char *begin, const char *end, int x, int y, double *value)
{
    const char *p = begin;
    for (int row = 0; row < y && p; ++row) {
        p = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
        if (p)
            ++p;
    }
    for (int column = 0; column < x && p; ++column) {
        p = static_cast<const char *>(std::memchr(p, ',', std::size_t(end - p)));
        if (p)
            ++p;
    }
    return p && std::from_chars(p, end, *value).ec == std::errc();
}

} // namespace CsvMatrixReader
