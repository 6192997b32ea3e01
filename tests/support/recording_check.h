// recording_check.h — a recording of a sound server's sink against the mix
// it should hold, sample for sample, where the program answers for it.
//
// Index
//   HeardStretch      a stretch of a recording, in its frames
//   RecordingCheck    what the comparison found: agreement, the first fault, how much it compared
//   CheckRecording    the comparison
//
// The server may play something else than our stream where the stream ran
// dry (an underrun it logs): silence, and when the stream comes back part of
// what the sink had already rendered again, or less of what was waiting.
// Those stretches are the server's, not the program's: the caller names them
// (PulseServer::UnderrunStretches) and they are left out, the recording
// taken up again after each where it holds the mix anew, never earlier in
// the mix than where it left. The program's mixer may leave a block silent
// too (another thread held its lock; it counts them) and fades the next one
// in over 5 ms: the recording may come back through such a fade, as many
// times as the caller counts. Anything else (a difference, a jump back in
// the mix, a gap outside the server's stretches and the program's count) is
// a fault of the program. A comparison that could compare less than half
// of its span has shown too little to pass.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Frames [from, to) of a recording.
struct HeardStretch {
    int64_t from = 0;
    int64_t to = 0;
};

struct RecordingCheck {
    bool ok = false;
    bool shortRecording = false;  // not ok only because the recording ends too soon
    std::string problem;          // what parted, and where, when not ok
    int jumps = 0;                // the program's silent blocks the recording came back from
    int skippedStretches = 0;     // the server's stretches the comparison met and left out
    int64_t spanFrames = 0;       // the mix frames asked for
    int64_t comparedFrames = 0;   // of them, those compared and found equal
    double largest = 0;           // the largest magnitude compared
    int rate = 48000;             // frames a second (for the messages)
    double ComparedShare() const { return spanFrames > 0 ? double(comparedFrames) / double(spanFrames) : 0; }
    // "compared 9.42 of 9.50 s of the span ..." for a test's log.
    std::string Summary() const;
};

// Compares `frames` frames of `mix` (interleaved stereo) from frame
// `mixFrom` with `heard`, whose frame `start` (to within 64 frames) holds mix
// frame `mixFrom`. `serverStretches` (in order, not overlapping) are left
// out; `silentBlocks` is how many blocks the program itself left silent.
// The mix may run on past the span: a recording taken up again after a
// stretch is looked for there too.
RecordingCheck CheckRecording(const std::vector<float>& heard, const std::vector<float>& mix, int64_t mixFrom,
                              int64_t frames, int64_t start, const std::vector<HeardStretch>& serverStretches,
                              int silentBlocks, int rate = 48000);
