// aaf_clip_list.h — the clip list the AAF export hands to the AAF session
// writer: one entry per clip, held as parallel vectors (the same index in
// every vector), in the order the export appended them; the names of the
// AAF tracks and the timeline markers beside them. Records only.
//
// Index
//   kAafGainCurvePoints   points of a clip's volume automation
//   AafGainCurve          a clip's volume automation
//   AafMarker             one timeline marker
//   AafClipList           the clip entries, track names and markers
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct WriteFault;

inline constexpr int kAafGainCurvePoints = 64;

// Linear gain at 64 evenly spaced instants from the clip's start (point 0)
// to its end (point 63). A curve that is not present has every point 0 and
// means the clip has no volume automation.
struct AafGainCurve {
    std::array<float, kAafGainCurvePoints> points{};
    bool present = false;
};

struct AafMarker {
    int64_t position = 0;  // samples at the export rate, the project start included
    std::string label;
};

// Positions, lengths and offsets are in samples at the export rate; AAF
// tracks are mono and indexed from 0.
struct AafClipList {
    std::vector<std::string> essencePaths;  // session folder + "/Audio Files/" + file name
    std::vector<std::string> essenceNames;  // the essence file's name alone
    std::vector<int64_t> positions;         // timeline position of the clip's first sample
    std::vector<int64_t> lengths;           // clip length
    std::vector<int64_t> sourceOffsets;     // where the clip starts inside its essence file
    std::vector<int64_t> fileLengths;       // essence file length in frames
    std::vector<int32_t> tracks;            // AAF track index
    std::vector<int32_t> fadeIns;           // fade-in length (0: none)
    std::vector<int32_t> fadeOuts;          // fade-out length (0: none)
    std::vector<AafGainCurve> gainCurves;   // volume automation
    std::vector<float> gains;               // static gain, linear

    std::vector<std::string> trackNames;    // by AAF track index; "" where a track has no name
    std::vector<AafMarker> markers;
    // Where the session file is made when not at the path the writer is
    // given: the session folder the export holds, named through its
    // descriptor ("/proc/self/fd/<n>/<name>"), so that the file lands in the
    // folder the export opened whatever the path now leads to. Empty: the path.
    std::string sessionFileAt;
    // A test's full disk (ExportJob::writeFault) the session file's writes meet.
    WriteFault* writeFault = nullptr;
};
