// wav_export.h — one WAV pass of an export (mixdown, stems, tracks or clips,
// with the wet reverb stem beside them) and the offline reverb mix.
//
// Index
//   ExportTrackLayout / ExportTrackLayoutOf   budget mode and the three groups
//   ExportTrackName / ExportClipName / ExportClipNameRoom   parts of track and clip file names
//   WriteWavExport        one pass; the number of files written and kept
//   MixProgress           what a long mix tells between windows, and how it is stopped
//   MixSink / StreamOfflineMix   the wet reverb of every voice through a private
//                        reverb, handed over a window at a time
//
// The two functions read the voices without the engine lock, so the voices
// must be pinned (the export job pins them). A pass holds its output and the
// samples of the voices of a window of the timeline (export_voices.h): the
// voices the streaming window released are decoded again as the pass comes
// to them and let go behind it. The engine's own reverb is never touched. Files: "<base>.wav", "<base> - <group>.wav" and
// "<base> - Reverb.wav" in the output folder; "Tracks/<base> - <group> NN.wav"
// and "Clips/<base> - <clip>.wav" below it. A clip file begins at 00:00 at the
// earliest: the frames of a layer before it are left out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "document/project.h"
#include "export/export_records.h"

class ExportVoices;

struct ExportTrackLayout {
    bool budgetMode = false;
    MixGroup groups[3];
};
ExportTrackLayout ExportTrackLayoutOf(const Project& project);

// "<group> NN" of track slot `slot` (from 0) of a group, cut to 63 bytes.
std::string ExportTrackName(const std::string& groupName, int slot);
// A result's clip file part before the clips pass makes it unique: its name
// without a sound file's extension, cleaned ("clip" when empty).
std::string ExportClipName(const RenderResult& result);
// The bytes a clip file part may take beside "<fileBase> - " and ".wav".
size_t ExportClipNameRoom(const std::string& fileBase);

// Runs the pass of options.mode, reporting its progress (ReportPassProgress)
// and looking at the job's stop flag between windows of the mix, before
// every file and, in the writers, before every block of samples: a stop
// rolls the call back and gives 0 with *failed set, noting no loss. A file
// that cannot be written, or a folder that cannot be made (or that is a
// link below the output folder), rolls the whole call back (its files, its reverb stem
// and its new folders) and gives 0 with *failed set; the file that failed and
// those taken back go into job.losses (when set). Nothing to write (no ready
// voices, an empty range) gives 0 without a failure. A reverb stem that
// cannot be written sets *failed, is noted in job.losses, and the pass goes
// on. Only voices of layers are written: a voice whose result index is
// negative (its layer is gone), or a second voice of one layer, is left out.
int32_t WriteWavExport(const ExportJob& job, const std::vector<RenderResult>& results, const AudioEngine& engine,
                       int32_t sampleRate, const ExportTrackLayout& layout, float totalDuration,
                       const WavPassOptions& options, float rangeIn, float rangeOut, bool* failed = nullptr);

// Told the share (0 to 1) of a mix done, between its windows of voices;
// false stops the mix.
using MixProgress = std::function<bool(double fraction)>;

// Handed the next `frames` frames of a streamed mix, in order (the sink may
// change them in place: they are the stream's own).
using MixSink = std::function<void(float* left, float* right, int64_t frames)>;

// The wet reverb of the voices over [start, start + length): every unmuted
// voice of a layer (as the passes take them) into two send buffers at its
// send (its own, or the group's), then a private reverb in 2048-frame
// blocks, a slice of the timeline at a time. Group gains are `levels`' (the
// engine's faders when null); no master gain. Handed to `sink` as it is
// made, a window of slices at a time, so that no more than a window of it is
// ever held: trunc(length x rate) frames in all. False when it produced
// nothing or was stopped (the sink may have been handed part of it then).
bool StreamOfflineMix(ExportVoices& voices, const ReverbParams& reverb, int32_t sampleRate, double length,
                      double start, const MixSink& sink, const ExportMixLevels* levels = nullptr,
                      const MixProgress& progress = nullptr);

