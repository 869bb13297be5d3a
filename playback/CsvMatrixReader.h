#pragma once

// Reads back the matrix blocks the CSV export writes (acquisition/CsvWriter):
// 128 lines of 128 numbers in printf's "%g" form (nan and inf included)
// separated by ",", each line ended by "\n" or "\r\n".
namespace CsvMatrixReader {

// Parses the block at [begin, end) into `values` (16384 doubles, row-major);
// returns where the block ends (after the last line end), or null when the
// bytes are not a whole block.
const char *parseBlock(const char *begin, const char *end, double *values);

// The value of pixel (x, y) of the block at [begin, end), found by skipping
// lines and values rather than parsing them; false when it is not there.
bool valueAt(const char *begin, const char *end, int x, int y, double *value);

} // namespace CsvMatrixReader
