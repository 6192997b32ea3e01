// palette_saving_logic.cpp — grouping the project's sounds and saving the
// ticked groups as a palette.
//
// Index
//   Collecting        CollectProjectSoundGroups
//   Naming sounds     IsPaletteVocabularyWord, NameForUnassignedSounds
//   View texts        TickedFileCount, GroupCheckboxLabel, PaletteNameForGroups
//   Saving            SavePaletteFromGroups
#include "ui/palette_saving_logic.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/palettes.h"
#include "library/sound_library.h"
#include "ui/library_panel_logic.h"

namespace {

constexpr const char* kUnassigned = "Unassigned";

}  // namespace

// ---------------------------------------------------------------------------
// Collecting
// ---------------------------------------------------------------------------

void CollectProjectSoundGroups(const Project& project, SavePaletteGroups& out) {
    out.Clear();
    UsageGroups& g = out.groups;
    for (const RenderResult& r : project.results) {
        if (!r.placeholder) AddFileToUsageGroup(g, project, r.filepath, r.eventIdx);
        AddFileToUsageGroup(g, project, r.alloyMid.filepath, r.eventIdx);
        AddFileToUsageGroup(g, project, r.alloyHigh.filepath, r.eventIdx);
        AddFileToUsageGroup(g, project, r.alloyEnv.filepath, r.eventIdx);
    }
    for (size_t i = 0; i < project.events.size(); ++i) {
        const Event& e = project.events[i];
        const int index = static_cast<int>(i);
        if (e.hasPinnedFiles && e.pinnedFile[0])
            AddFileToUsageGroup(g, project, std::string(TextFieldView(e.pinnedFile)), index);
        for (const std::string& path : e.pinnedFiles) AddFileToUsageGroup(g, project, path, index);
    }
    const auto it = g.groupIndexByName.find(kUnassigned);
    if (it == g.groupIndexByName.end()) return;
    out.unassigned = it->second;
    if (g.usageGroupCounts[size_t(out.unassigned)] > 0)
        g.usageGroupNames[size_t(out.unassigned)] = NameForUnassignedSounds(g.usageGroupFiles[size_t(out.unassigned)]);
}

// ---------------------------------------------------------------------------
// Naming sounds
// ---------------------------------------------------------------------------

bool IsPaletteVocabularyWord(std::string_view word) {
    // The summary's vocabulary without its interface and material words,
    // which say little about what a project's sounds are.
    static const char* const kLeftOut[] = {"ui",    "interface", "notification", "alert",  "confirm", "cancel",
                                           "scroll", "leather",  "fabric",       "zipper", "velcro",  "paper",
                                           "cardboard", "page",  "tear",         "crumple", "rope",   "cable",
                                           "wire",  "spring",    "rubber"};
    if (!IsSummaryVocabularyWord(word)) return false;
    return std::none_of(std::begin(kLeftOut), std::end(kLeftOut), [&](const char* w) { return word == w; });
}

namespace {

bool IsWordSeparator(char c) {
    return c == ' ' || c == '(' || c == ')' || c == '-' || c == '.' || c == '[' || c == ']' || c == '_';
}

bool IsLowerAscii(char c) { return c >= 'a' && c <= 'z'; }
bool IsUpperAscii(char c) { return c >= 'A' && c <= 'Z'; }

template <typename Visit>
void ForEachFileNameWord(std::string_view name, Visit visit) {
    size_t start = 0;
    auto emit = [&](size_t end) {
        const size_t length = end - start;
        if (length >= 2 && length <= 29 && !std::isdigit(static_cast<unsigned char>(name[start])))
            visit(ToLowerCopy(name.substr(start, length)));
    };
    for (size_t i = 0; i < name.size(); ++i) {
        if (IsWordSeparator(name[i])) {
            emit(i);
            start = i + 1;
        } else if (i > start && IsLowerAscii(name[i - 1]) && IsUpperAscii(name[i])) {
            emit(i);
            start = i;
        }
    }
    emit(name.size());
}

}  // namespace

std::string NameForUnassignedSounds(const std::vector<std::string>& paths) {
    std::map<std::string, int> counts;
    for (const std::string& path : paths) {
        const size_t slash = path.find_last_of('/');
        const std::string_view name = slash == std::string::npos ? std::string_view(path)
                                                                  : std::string_view(path).substr(slash + 1);
        ForEachFileNameWord(name, [&](const std::string& word) {
            if (IsPaletteVocabularyWord(word)) ++counts[word];
        });
    }
    if (counts.empty()) return "Project Sounds";
    std::vector<std::pair<std::string, int>> ranked(counts.begin(), counts.end());
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string name;
    for (size_t i = 0; i < ranked.size() && i < 3; ++i) {
        if (i) name += ", ";
        name += ranked[i].first;
    }
    return name;
}

// ---------------------------------------------------------------------------
// View texts
// ---------------------------------------------------------------------------

int TickedFileCount(const SavePaletteGroups& groups) {
    const UsageGroups& g = groups.groups;
    int count = 0;
    for (size_t i = 0; i < g.usageGroupNames.size(); ++i)
        if (g.usageGroupChecked[i]) count += g.usageGroupCounts[i];
    return count;
}

std::string GroupCheckboxLabel(const std::string& name, int count) {
    char tail[48];
    std::snprintf(tail, sizeof tail, "  \xE2\x80\x94  %d file%s", count, PluralSuffix(count));
    return name + tail;
}

std::string PaletteNameForGroups(const std::vector<std::string>& names) {
    std::string name;
    if (names.size() == 1) {
        name = names[0];
    } else if (names.size() == 2) {
        name = names[0] + " + " + names[1];
    } else if (names.size() > 2) {
        name = names[0] + " + " + std::to_string(names.size() - 1) + " more";
    }
    for (char& c : name)
        if (c == ',' || c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return TrimmedCopy(name);
}

// ---------------------------------------------------------------------------
// Saving
// ---------------------------------------------------------------------------

PaletteSaveOutcome SavePaletteFromGroups(SoundLibrary& library, const SavePaletteGroups& groups,
                                         const std::string& projectPath) {
    const UsageGroups& g = groups.groups;
    std::vector<std::string> files;
    std::vector<std::string> names;
    for (size_t i = 0; i < g.usageGroupNames.size(); ++i) {
        if (!g.usageGroupChecked[i]) continue;
        files.insert(files.end(), g.usageGroupFiles[i].begin(), g.usageGroupFiles[i].end());
        if (static_cast<int>(i) != groups.unassigned) names.push_back(g.usageGroupNames[i]);
    }
    PaletteSaveOutcome outcome;
    outcome.added = files.empty() ? 0 : CreatePaletteFromFiles(library, files, projectPath, PaletteNameForGroups(names));
    if (outcome.added < 1) {
        outcome.added = 0;
        outcome.message = "No valid audio files found.";
        return outcome;
    }
    outcome.newIndex = static_cast<int>(library.libraries.size()) - 1;
    outcome.name = outcome.newIndex >= 0 ? library.libraries.back().name : "Palette";
    char count[24];
    std::snprintf(count, sizeof count, ": %d files", outcome.added);
    outcome.message = outcome.name + count;
    return outcome;
}
