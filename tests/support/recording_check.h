// recording_check.h — a recording of a sound server's sink against the mix
// it should hold, sample for sample, where the program answers for it.
//
// Index
//   HeardStretch      a stretch of a recording, in its frames
//   MixStretch        a stretch of the mix, in its frames
//   RecordingCheck    what the comparison found: agreement, the first fault, how much it compared
//   CheckRecording    the comparison
//   CheckRecordingAcrossEdits   the same where the mix is known only between edits
//   ReadStereoFile, FirstAudibleFrame   a recording or an export as frames, and where it starts
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

// Frames [from, to) of a mix.
struct MixStretch {
    int64_t from = 0;
    int64_t to = 0;
};

struct RecordingCheck {
    bool ok = false;
    bool shortRecording = false;  // not ok only because the recording ends too soon
    std::string problem;          // what parted, and where, when not ok
    int jumps = 0;                // the program's silent blocks the recording came back from
    int skippedStretches = 0;     // the server's stretches the comparison met and left out
    int64_t spanFrames = 0;       // the mix frames asked for (the edits' stretches left out)
    int64_t editFrames = 0;       // the mix frames of the edits' stretches met
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

// The same for a program edited while it plays: the mix is the export of the
// project as each edit left it, and `edits` (in order, not overlapping, mix
// frames) are the stretches in which an edit's work was under way, where the
// recording may hold a blend of the mix before and after it. Within one the
// recording is not compared frame by frame, but it may not fall silent
// (exact zeros in both channels) for longer than `blockFrames` where the mix
// has sound, except for the program's silent blocks (`silentBlocks` in all,
// shared with the rest of the span); a mix frame that is NaN is one no export
// covers, and counts as sound. After the stretch the recording must hold the
// mix again, as far on as the recording went with its silent blocks taken
// out: never earlier (a stretch heard twice), never later (a stretch
// skipped), except for what the server's own stretches account for.
RecordingCheck CheckRecordingAcrossEdits(const std::vector<float>& heard, const std::vector<float>& mix,
                                         int64_t mixFrom, int64_t frames, int64_t start,
                                         const std::vector<HeardStretch>& serverStretches, int silentBlocks,
                                         const std::vector<MixStretch>& edits, int blockFrames, int rate = 48000);

// The interleaved frames of a stereo sound file; empty when it cannot be read
// or is not stereo.
std::vector<float> ReadStereoFile(const std::string& path);

// The first frame from `from` on with a sample louder than `threshold`; -1
// when there is none.
int64_t FirstAudibleFrame(const std::vector<float>& interleaved, float threshold, int64_t from = 0);
