// preset_text.h — building expected recipe and chain texts line by line.
#pragma once

#include <string>

// A curve member of 256 equal points as the writer lays it out on one line:
// `indent` blanks, the key, then the points separated by commas.
inline std::string CurveLine(int indent, const char* key, const char* point) {
    std::string line(static_cast<size_t>(indent), ' ');
    line += std::string("\"") + key + "\": [";
    for (int i = 0; i < 256; ++i) line += (i ? "," : "") + std::string(point);
    return line + "]";
}
