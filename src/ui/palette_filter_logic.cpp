// palette_filter_logic.cpp — reading, ticking and rewriting library filters.
#include "ui/palette_filter_logic.h"

#include <algorithm>
#include <cstdio>

#include "library/sound_library.h"

bool PaletteListed(const LibraryIndex& library) { return library.enabled && !library.folderMissing; }

std::vector<int> ListedPalettes(const SoundLibrary& library) {
    std::vector<int> listed;
    for (size_t i = 0; i < library.libraries.size(); ++i)
        if (PaletteListed(library.libraries[i])) listed.push_back(static_cast<int>(i));
    return listed;
}

std::vector<std::string_view> PaletteFilterItems(std::string_view filter) {
    std::vector<std::string_view> items;
    auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    size_t pos = 0;
    while (pos <= filter.size()) {
        size_t comma = filter.find(',', pos);
        if (comma == std::string_view::npos) comma = filter.size();
        size_t b = pos, e = comma;
        while (b < e && isBlank(filter[b])) ++b;
        while (e > b && isBlank(filter[e - 1])) --e;
        if (e > b) items.push_back(filter.substr(b, e - b));
        pos = comma + 1;
    }
    return items;
}

namespace {

bool FilterNames(const std::vector<std::string_view>& items, std::string_view name) {
    return std::find(items.begin(), items.end(), name) != items.end();
}

}  // namespace

bool PaletteTicked(std::string_view filter, std::string_view name) {
    return filter.empty() || FilterNames(PaletteFilterItems(filter), name);
}

std::string RewritePaletteFilter(std::string_view filter, const SoundLibrary& library,
                                 const std::vector<int>& listed, int changed, bool nowTicked, size_t capacity) {
    const std::vector<std::string_view> items = PaletteFilterItems(filter);
    std::vector<const std::string*> kept;
    for (int i : listed) {
        const std::string& name = library.libraries[size_t(i)].name;
        const bool include = i == changed ? nowTicked : (filter.empty() || FilterNames(items, name));
        if (include) kept.push_back(&name);
    }
    if (kept.size() == listed.size()) return std::string();
    std::string out;
    for (const std::string* name : kept) {
        const size_t needed = out.size() + (out.empty() ? 0 : 1) + name->size();
        if (needed + 1 > capacity) continue;  // a cut name would name another library, or none
        if (!out.empty()) out += ',';
        out += *name;
    }
    return out;
}

std::string PaletteCountText(int entries) {
    char text[32];
    if (entries >= 1000)
        std::snprintf(text, sizeof text, "%.1fk", entries / 1000.0);
    else
        std::snprintf(text, sizeof text, "%d", entries);
    return text;
}

std::string PaletteCheckboxLabel(const std::string& name, int entries) {
    return name + "  (" + PaletteCountText(entries) + ")";
}
