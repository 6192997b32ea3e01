// file_names.cpp — the one check of a name that becomes a file name.
#include "platform/file_names.h"

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
