// fuzz_checks.h — the properties every fuzz target checks on each input,
// shared by the libFuzzer entry point and the seed-corpus regression test.
//
// Index
//   FuzzCheck / FuzzTarget / kFuzzTargets / FindFuzzTarget   the targets by name
//   CheckLenientJson    the lenient reader ends on anything; what it read, written
//                       again, reads back the same and intact
//   CheckManifestJson   the strict reader stays inside its bytes; a manifest it
//                       accepts, written again, parses to the same tree
//   CheckLibraryIndex   a library read from any text can be saved again, and
//                       one write/read reaches the fixed point
//   CheckTextRoutines   timecode round trips, UTF-8/UTF-16, CopyTextField,
//                       search queries and wildcards
//   IsValidUtf8         the UTF-8 test the checks share
//
// A check returns "" when its properties hold for the input, else a short
// description of the first one that failed. Memory errors and undefined
// behaviour are left to the sanitizers the targets are built with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using FuzzCheck = std::string (*)(const uint8_t* data, size_t size);

struct FuzzTarget {
    const char* name;  // also the name of its seed folder under fuzz/corpus
    FuzzCheck check;
};

std::string CheckLenientJson(const uint8_t* data, size_t size);
std::string CheckManifestJson(const uint8_t* data, size_t size);
std::string CheckLibraryIndex(const uint8_t* data, size_t size);
std::string CheckTextRoutines(const uint8_t* data, size_t size);

constexpr int kFuzzTargetCount = 4;
extern const FuzzTarget kFuzzTargets[kFuzzTargetCount];
// nullptr when no target has that name.
const FuzzTarget* FindFuzzTarget(std::string_view name);

bool IsValidUtf8(std::string_view text);
