// stream_mix.h — the offline voice mix every WAV pass and the reverb stem
// share: voices into buffers on every core, handed on as they are made.
//
// Index
//   VoicesOfLayers   which voices an export takes at all: the first of each layer
//   SliceGrid        the slices (about 1.4 s) a pass's frames are mixed in
//   VoiceMix / MixOf / ReverbSendMix   which voices a mix takes, beside-gain and send
//   StreamMix        a pass's mix, a window of slices at a time: load, mix,
//                    turn wet, dry on top, hand on, let go
//
// Two words with two meanings: a slice is a cell of the grid, mixed by one
// core in one call per voice, so the grid alone decides the float sums; a
// window is the run of slices covering about the job's window length
// (kExportWindowSeconds), whose voices are prepared before it and let go
// after it, and between which the progress is told and a stop looked at.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "export/wav_export.h"
#include "playback/audio_engine.h"

class ExportVoices;
struct OfflineReverb;

// Per voice: whether it is the first voice of a layer. A voice whose layer
// the document no longer has (the job relinked it to -1), or a second voice
// of one layer, is never exported.
std::vector<uint8_t> VoicesOfLayers(const AudioEngine& engine);

// About 1.4 s at 48 kHz: enough slices to keep every core busy, few enough
// that each voice's set-up per slice is nothing.
inline constexpr int64_t kSliceFrames = int64_t(1) << 16;

// The slices a pass's frames are mixed in: as many as needed of at most
// kSliceFrames, equal but the last. Each slice takes one call per voice, and
// a voice's gains run from where that call begins, so the grid decides the
// float rounding: it depends on the pass's length alone, never on how many
// slices are mixed at once or which voices are loaded.
struct SliceGrid {
    int64_t frames = 0;
    int64_t size = 0;
    int count = 0;

    explicit SliceGrid(int64_t passFrames);
    int64_t First(int c) const { return std::min(frames, int64_t(c) * size); }
    int64_t End(int c) const { return std::min(frames, First(c) + size); }
};

// What a mix takes: per voice whether it is mixed at all (so a window loads
// only what it sounds), its gain beside its own (PlayingGain's group gain;
// 0: left out) and, with send buses, its reverb send (voices sending less
// than 1e-6 are left out of the send buses).
struct VoiceMix {
    std::vector<uint8_t> mixed;
    std::function<float(size_t, const PlaybackVoice&)> extraGain;
    std::function<float(const PlaybackVoice&)> sendOf;
};

// Which voices a mix takes: first voices of layers, unmuted, with samples
// to give and a gain (sends: a send) that is heard.
VoiceMix MixOf(const AudioEngine& engine, std::function<float(size_t, const PlaybackVoice&)> extraGain,
               std::function<float(const PlaybackVoice&)> sendOf = nullptr);

// The sends as the real-time mixer feeds its reverb: each voice at its
// group's fader and its own send (or its group's).
VoiceMix ReverbSendMix(const AudioEngine& engine, const ReverbParams& reverb, const ExportMixLevels& mix);

// A pass's mix (`frames` frames from project sample `first`) handed to a
// sink in order, as its frames are complete: its buffers hold only the
// frames from the first one not yet handed on to the current window's end,
// whatever the pass's length. With a reverb, the `sends` are mixed into the
// buffers and turned wet behind the windows; with `dry`, the voices' dry
// sound goes on top, slice by slice as soon as a slice's wet is complete (at
// once without a reverb): every frame is the wet sound plus the voices in
// voice order, mixed into zeroed frames slice by slice as the whole pass
// would be. The voices a slice needs stay loaded only until both of its mixes
// are done.
class StreamMix {
public:
    // `reverb` and `sends` together, or neither; `dry` may be null only with them.
    StreamMix(ExportVoices& voices, int rate, int64_t first, int64_t frames, const ReverbParams* reverb,
              const VoiceMix* sends, const VoiceMix* dry);
    ~StreamMix();
    StreamMix(const StreamMix&) = delete;
    StreamMix& operator=(const StreamMix&) = delete;

    // Runs the windows in order. `progress` hears the share of the frames
    // done before each window and at the end; false from it (a stop) ends
    // the mix, and Run gives false (the sink may have been handed part of
    // the mix then).
    bool Run(const MixSink& sink, const MixProgress& progress);

private:
    // The steps of one window, in the order Run takes them.
    void MakeRoom(int64_t windowEnd);
    void LoadVoices(int firstSlice, int64_t windowEnd);
    void MixFirstLayer(int firstSlice, int pastSlice);
    void FinishWindow(int64_t windowEnd, const MixSink& sink);
    void LetGo(int64_t windowEnd);

    // Pass frames before this are no longer needed by any mix still to come.
    int64_t KeepFrom(int64_t windowFrame) const;
    void MixDryUpTo(int64_t complete);
    void HandOn(int64_t end, const MixSink& sink);

    ExportVoices& voices_;
    const int rate_;
    const int64_t first_;  // project sample of pass frame 0
    const SliceGrid grid_;
    const VoiceMix* sends_;
    const VoiceMix* dry_;
    std::unique_ptr<OfflineReverb> wet_;
    std::vector<uint8_t> load_;  // the voices either mix takes
    std::vector<float> left_, right_;
    int64_t origin_ = 0;  // the pass frame left_[0] holds
    int dryDone_ = 0;     // slices mixed dry
};
