// file_names.cpp — the one check of a name that becomes a file name, and the
// one comparison of a file's extension.
#include "platform/file_names.h"

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

}  // namespace

std::string FileNameProblem(std::string_view name) {
    if (name.empty()) return "The name is empty.";
    if (name == ".") return "A name cannot be \".\".";
    if (name.find('/') != std::string_view::npos) return "A name cannot contain \"/\".";
    if (name.find("..") != std::string_view::npos) return "A name cannot contain \"..\".";
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return "A name cannot contain control characters.";
    }
    return std::string();
}

bool EndsWithNoCase(std::string_view text, std::string_view tail) {
    if (tail.size() > text.size()) return false;
    const std::string_view end = text.substr(text.size() - tail.size());
    for (size_t i = 0; i < tail.size(); ++i)
        if (AsciiLower(end[i]) != AsciiLower(tail[i])) return false;
    return true;
}
