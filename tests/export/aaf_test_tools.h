// aaf_test_tools.h — reading written AAF files back through readers that
// share no code with the writer.
//
// Index
//   AafReadBack            what a reader printed, parsed, or why it failed
//   ReadStoredObjects      our Python reader of the stored format (olefile)
//   ReadWithOracle         pyaaf2 from the shared oracles folder
//   ReadWithAaftool        LibAAF's aaftool (built by the test build): tracks, clips, markers
//   FindStoredProperty     one property of a reader's object by pid
//   StoredChild / StoredElements   the object or elements behind a property
//   HexOf / FileBytes / PatchOnce   byte helpers for checks and fault injection
//   ParseWaveSummary       the facts of a WAVE descriptor's 44-byte summary
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "persistence/json_value.h"

struct AafReadBack {
    bool ok = false;
    std::string message;  // the reader's complaint, or why it could not run
    JsonValue tree;
};

AafReadBack ReadStoredObjects(const std::string& path);
AafReadBack ReadWithOracle(const std::string& path, bool withMobs = false);

// What aaftool lists of a session, positions in samples. Its "[ error ]"
// lines are kept apart: a file it reads cleanly has none.
struct AaftoolClip {
    int track = 0;  // 1-based, in the order aaftool lists the audio tracks
    int64_t start = 0, length = 0, sourceOffset = 0;
    int64_t fadeIn = 0, fadeOut = 0;  // 0: none
    bool hasGain = false;
    double gainDb = 0;  // as printed, to a tenth of a dB
    bool automation = false;
    std::vector<std::pair<double, double>> points;  // time 0..1, linear value
    std::string file;  // the essence file's name
};
struct AaftoolCrossfade {
    int track = 0;
    int64_t length = 0, cutPoint = 0;
};
struct AaftoolMarker {
    int64_t start = 0, length = 0;
    std::string comment;
};
struct AaftoolReadBack {
    bool ok = false;
    std::string message;              // why it could not run or open the file
    std::vector<std::string> errors;  // its "[ error ]" lines
    std::vector<std::string> trackNames;
    std::vector<AaftoolClip> clips;   // in listed order: by track, then position
    std::vector<AaftoolCrossfade> crossfades;
    std::vector<AaftoolMarker> markers;
};
AaftoolReadBack ReadWithAaftool(const std::string& path);

// A property record of a reader's object, or nullptr. Both readers name
// properties by "pid" and put referenced objects under "object" and "elements".
const JsonValue* FindStoredProperty(const JsonValue& object, int pid);
const JsonValue& StoredChild(const JsonValue& object, int pid);
const JsonValue& StoredElements(const JsonValue& object, int pid);

std::string HexOf(const uint8_t* bytes, size_t size);
std::string HexOf(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> FileBytes(const std::string& path);
// Replaces the one occurrence of `from` in the file by `to` (same length);
// false when it occurs not exactly once.
bool PatchOnce(const std::string& path, const std::vector<uint8_t>& from, const std::vector<uint8_t>& to);
std::vector<uint8_t> Utf16Bytes(const std::string& ascii);

// A descriptor's summary (hex, as the readers print it): the RIFF header of
// a PCM WAV file. ok is false unless it has 44 bytes and its three tags.
struct WaveSummaryFacts {
    bool ok = false;
    int format = 0, channels = 0, bits = 0;
    uint32_t sampleRate = 0, riffSize = 0, dataSize = 0;
};
WaveSummaryFacts ParseWaveSummary(const std::string& hex);
