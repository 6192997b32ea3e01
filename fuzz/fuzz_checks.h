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
//   CheckTimecodeAnyRate  timecode text at any frame rate, NaN and 2^60 included
//   CheckProjectFile / CheckRecipeFile / CheckChainFile / CheckPreferencesText
//                       documents: read, write, read, write gives the same text
//   CheckSoundReaders / CheckVideoProbe / CheckImageFile / CheckSessionMarkers
//                       other programs' files: bounded, finite, no crash
//   CheckAafFile        an AAF file read, saved, read and saved gives the same bytes
//   CheckUpdateResponse / CheckDropPayload / CheckTestScript   the shell's inputs
//   IsValidUtf8         the UTF-8 test the checks share
//   WriteFuzzInput      an input as a file, for readers that take a path
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
std::string CheckTimecodeAnyRate(const uint8_t* data, size_t size);
std::string CheckProjectFile(const uint8_t* data, size_t size);
std::string CheckRecipeFile(const uint8_t* data, size_t size);
std::string CheckChainFile(const uint8_t* data, size_t size);
std::string CheckPreferencesText(const uint8_t* data, size_t size);
std::string CheckSoundReaders(const uint8_t* data, size_t size);
std::string CheckVideoProbe(const uint8_t* data, size_t size);
std::string CheckImageFile(const uint8_t* data, size_t size);
std::string CheckSessionMarkers(const uint8_t* data, size_t size);
std::string CheckUpdateResponse(const uint8_t* data, size_t size);
std::string CheckDropPayload(const uint8_t* data, size_t size);
std::string CheckTestScript(const uint8_t* data, size_t size);
std::string CheckAafFile(const uint8_t* data, size_t size);

constexpr int kFuzzTargetCount = 17;
extern const FuzzTarget kFuzzTargets[kFuzzTargetCount];
// nullptr when no target has that name.
const FuzzTarget* FindFuzzTarget(std::string_view name);

bool IsValidUtf8(std::string_view text);

// Readers that take a path get the input as a file: `name` in a folder of
// this process (removed at exit), rewritten for every input. Returns its path.
std::string WriteFuzzInput(const uint8_t* data, size_t size, const char* name);
