// export_names.cpp — base names, cleaned names and free names for exports.
//
// Index
//   SplitExportPath / ExportBaseName
//   CleanExportName
//   WithoutAudioExtension / FitFileName / WavFileBase / AafFileName
//   ExportNameTable::Claim
//   ExportGroupNames
#include "export/export_names.h"

#include "document/project.h"
#include "document/text_util.h"
#include "platform/file_names.h"
#include "platform/file_util.h"

namespace {

std::string CutAtCharacter(const std::string& text, size_t maxBytes) {
    return text.substr(0, Utf8SafeCutLength(text, maxBytes));
}

}  // namespace

void SplitExportPath(const std::string& chosen, std::string& outDir, std::string& baseName) {
    const size_t slash = chosen.find_last_of('/');
    if (slash == std::string::npos) {
        outDir = chosen;
        baseName = chosen;
    } else {
        outDir = slash == 0 ? std::string("/") : chosen.substr(0, slash);
        baseName = chosen.substr(slash + 1);
    }
    if (EndsWithNoCase(baseName, ".wav") || EndsWithNoCase(baseName, ".aaf")) baseName.resize(baseName.size() - 4);
    if (baseName.empty()) baseName = "Tessaloom";
}

std::string ExportBaseName(const std::string& baseName, const std::string& outDir) {
    if (!baseName.empty()) return baseName;
    const std::string last = FileNameOf(outDir);
    return last.empty() ? std::string("Tessaloom") : last;
}

std::string CleanExportName(const std::string& name, const std::string& fallback) {
    if (name.empty()) return fallback;
    std::string clean = name;
    for (char& c : clean) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\' || c == ':' || byte < 0x20 || byte == 0x7F) c = '_';
    }
    return clean;
}

std::string WithoutAudioExtension(const std::string& name) {
    static const char* const kExtensions[] = {".wav", ".aif", ".aiff", ".flac", ".ogg", ".mp3",
                                              ".w64", ".caf", ".rf64", ".opus"};
    for (const char* e : kExtensions) {
        const size_t n = std::string_view(e).size();
        if (name.size() > n && EndsWithNoCase(name, e)) return name.substr(0, name.size() - n);
    }
    return name;
}

std::string FitFileName(const std::string& stem, const std::string& ending) {
    const size_t fixed = ending.size() + kTempSuffixBytes;
    const size_t room = fixed < kMaxFileNameBytes ? kMaxFileNameBytes - fixed : 0;
    return CutAtCharacter(stem, room) + ending;
}

std::string WavFileBase(const std::string& base) {
    // " - ", the part and ".wav" follow the base in the longest names.
    return CutAtCharacter(base, kMaxFileNameBytes - kTempSuffixBytes - (3 + kExportPartBytes + 4));
}

std::string AafFileName(const std::string& session) { return FitFileName(session, ".aaf"); }

std::string ExportNameTable::Claim(const std::string& name, size_t maxBytes) {
    std::string candidate = CutAtCharacter(name, maxBytes);
    for (int n = 2; taken_.count(candidate); ++n) {
        std::string suffix(1, '_');
        suffix += std::to_string(n);
        const size_t room = maxBytes > suffix.size() ? maxBytes - suffix.size() : 0;
        candidate = CutAtCharacter(name, room) + suffix;
    }
    taken_.insert(candidate);
    return candidate;
}

std::array<std::string, 3> ExportGroupNames(const MixGroup* groups) {
    ExportNameTable table;
    table.Reserve(kReverbStemName);
    std::array<std::string, 3> names;
    for (int g = 0; g < 3; ++g) {
        const std::string fallback = "Group " + std::to_string(g + 1);
        names[size_t(g)] = table.Claim(CleanExportName(std::string(TextFieldView(groups[g].name)), fallback));
    }
    return names;
}
