// library_index_checks.cpp — properties of the library index reader and writer.
#include <string>

#include "fuzz_checks.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"

// Any text read as an index file gives a library that can be saved again,
// and its saved text, read and saved once more, is the same text.
std::string CheckLibraryIndex(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string path = "/fuzz/index/Fuzzed.tllib";
    LibraryIndex first;
    const bool loaded = ReadLibraryIndexText(bytes, path, first);
    if (loaded != (!first.entries.empty() || !first.path.empty())) return "the result does not match what was read";
    if (first.name != "Fuzzed") return "the name does not come from the file name";
    for (const LibraryEntry& entry : first.entries)
        if (entry.path.empty()) return "an entry without a path was kept";
    const std::string problem = LibraryIndexHeaderProblem(first);
    if (!problem.empty()) return "a library read cannot be saved: " + problem;

    const std::string text = LibraryIndexText(first);
    LibraryIndex second;
    ReadLibraryIndexText(text, path, second);
    if (second.entries.size() != first.entries.size()) return "entries were lost by a write and read";
    if (second.path != first.path || second.previousNames != first.previousNames)
        return "header lines changed by a write and read";
    if (LibraryIndexText(second) != text) return "a second write differs from the first";
    return "";
}
