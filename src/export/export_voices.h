// export_voices.h — the voices an export pass reads, with their samples only
// while a window of the timeline needs them.
//
// Index
//   kExportWindowSeconds  how much of the timeline one round of preparing covers (a window)
//   ExportVoices          the engine's voices as a pass reads them: Voice, Load, Release
//   VoiceSampleSpan       where a voice's samples lie on the project's sample grid
//
// The export thread holds a pin on the engine's voices for the whole export:
// no edit, rebuild or eviction touches them meanwhile. The streaming window of
// playback still gives evicted voices their samples back as the playhead nears
// them (playback goes on during an export), so a voice whose samples are loaded keeps
// them until the export ends, and is read in place. An evicted voice is
// decoded again into a copy of its own (as the window would prepare it:
// DecodeVoiceSamples) when a window needs it, and the copy is dropped once the
// pass is past the voice. So a pass keeps its own output and the samples of
// the voices of a window or two, whatever the length of the project, and the
// engine (which the audio thread may be playing from) is never changed.
//
// What the job found of the layers' sounds (export_sounds.h) decides what a
// pass hears of them, in every pass alike: a silent layer's voice is a copy
// without samples (the samples a voice still holds from before its sound
// went are never heard), and a layer to be decoded afresh is never taken
// from the voice as it is held, only from a copy decoded for the export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "document/project.h"
#include "export/export_records.h"
#include "playback/audio_engine.h"

struct ExportSounds;

inline constexpr double kExportWindowSeconds = 10.0;

// Project samples [first, past) of the voice's samples at `rate`: its first
// sample on the grid the mixers use, then sampleCount samples.
struct VoiceSampleSpan {
    int64_t first = 0;
    int64_t past = 0;
};
VoiceSampleSpan VoiceSampleSpanOf(const PlaybackVoice& voice, int rate);

class ExportVoices {
public:
    // `windowSeconds` (kExportWindowSeconds when not above 0) is how much of
    // the timeline a pass prepares voices for at a time.
    // `stats` (may be null) is told this pass's figures when it ends.
    // `sounds` (may be null: every voice as held) is what the job found of
    // the layers' sounds; a fresh decode that fails is noted in it.
    ExportVoices(const AudioEngine& engine, const std::vector<RenderResult>& results, double windowSeconds = 0,
                 ExportVoiceStats* stats = nullptr, const ExportSounds* sounds = nullptr);
    ~ExportVoices();
    ExportVoices(const ExportVoices&) = delete;
    ExportVoices& operator=(const ExportVoices&) = delete;

    const AudioEngine& Engine() const { return engine_; }
    size_t Count() const { return engine_.voices.size(); }
    double WindowSeconds() const { return windowSeconds_; }

    // Voice i as a pass mixes it: a silent layer's copy without samples, the
    // copy loaded for it (samples included), else the engine's voice while
    // its samples are loaded and its layer is not decoded afresh, else a
    // silent stand-in without samples.
    const PlaybackVoice& Voice(size_t i) const;
    // Whether voice i's layer is silent in the export.
    bool Silent(size_t i) const;

    // Every voice i with wanted[i] set whose samples meet project samples
    // [from, to) at `rate` gets samples: an evicted one, or one whose layer is
    // decoded afresh, is decoded for the export, the missing ones on every core.
    void Load(int64_t from, int64_t to, int rate, const std::vector<uint8_t>& wanted);
    // The listed voices, the same way.
    void Load(const std::vector<size_t>& indices);
    // The loaded copies of voices whose samples end at or before project
    // sample `before` are dropped.
    void ReleaseBefore(int64_t before, int rate);
    void Release(size_t i);

    size_t LoadedCount() const { return loaded_.size(); }
    // The most copies loaded at once so far, and the decodes made.
    size_t PeakLoaded() const { return peakLoaded_; }
    size_t Decodes() const { return decodes_; }

private:
    const AudioEngine& engine_;
    const std::vector<RenderResult>& results_;
    double windowSeconds_;
    ExportVoiceStats* stats_;
    const ExportSounds* sounds_;
    std::unordered_map<size_t, std::unique_ptr<PlaybackVoice>> loaded_;
    std::unordered_map<size_t, std::unique_ptr<PlaybackVoice>> silent_;  // silent layers' voices, without samples

    // The layer of voice i (by the voice's result index), or SIZE_MAX.
    size_t LayerOf(size_t i) const;
    bool Fresh(size_t i) const;
    size_t peakLoaded_ = 0;
    size_t decodes_ = 0;
};
