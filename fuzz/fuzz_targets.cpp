// fuzz_targets.cpp — the table of fuzz targets, the UTF-8 test they share and
// the input file of readers that take a path.
#include "fuzz_checks.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

const FuzzTarget kFuzzTargets[kFuzzTargetCount] = {
    {"json_lenient", CheckLenientJson},
    {"json_manifest", CheckManifestJson},
    {"library_index", CheckLibraryIndex},
    {"text", CheckTextRoutines},
    {"timecode", CheckTimecodeAnyRate},
    {"project", CheckProjectFile},
    {"recipe", CheckRecipeFile},
    {"chain", CheckChainFile},
    {"preferences", CheckPreferencesText},
    {"sound_readers", CheckSoundReaders},
    {"video_probe", CheckVideoProbe},
    {"image", CheckImageFile},
    {"session_markers", CheckSessionMarkers},
    {"update_response", CheckUpdateResponse},
    {"drop_payload", CheckDropPayload},
    {"test_script", CheckTestScript},
    {"aaf_file", CheckAafFile},
};

const FuzzTarget* FindFuzzTarget(std::string_view name) {
    for (const FuzzTarget& target : kFuzzTargets)
        if (name == target.name) return &target;
    return nullptr;
}

// Shortest forms only, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        size_t len = 0;
        uint32_t c = 0, min = 0;
        if (b < 0x80) { ++i; continue; }
        if ((b & 0xE0) == 0xC0) { len = 2; c = b & 0x1F; min = 0x80; }
        else if ((b & 0xF0) == 0xE0) { len = 3; c = b & 0x0F; min = 0x800; }
        else if ((b & 0xF8) == 0xF0) { len = 4; c = b & 0x07; min = 0x10000; }
        else return false;
        if (i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

namespace {

// Never destroyed: the exit handler that removes the folder still reads it.
const std::string& FuzzFolder() {
    static const std::string* folder = [] {
        auto* path = new std::string(
            (std::filesystem::temp_directory_path() / ("tl_fuzz_" + std::to_string(::getpid()))).string());
        std::error_code ec;
        std::filesystem::create_directories(*path, ec);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(FuzzFolder(), ignored);
        });
        return path;
    }();
    return *folder;
}

}  // namespace

std::string WriteFuzzInput(const uint8_t* data, size_t size, const char* name) {
    const std::string path = FuzzFolder() + "/" + name;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        if (size > 0) std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    return path;
}
