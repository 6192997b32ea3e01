// project_settings.h — the project's own settings changed in place: timing,
// sample rate, loudness, track budget, musical scale, the description and
// the picture trace's threshold.
//
// Index
//   RebuildRequest / RequestVoiceRebuild   the voices again, now or on a later frame
//   ParseTimecodeField                     a typed timecode, as the timing fields read it
//   SetFrameRate / SetStartTimecode / SetTimelineDuration / SetVideoStart   timing
//   ChangeProjectSampleRate                the sample-rate sequence
//   SetNormalizeLoudness / SetLoudnessTarget / CommitLoudnessTarget         loudness
//   ClampTrackCount / SetTrackBudget / SetGroupTrackCount / ApplyTrackBudget   track budget
//   SetScaleType / SetScaleRoot            musical scale
//   SetProjectDescription / SetTraceThreshold   saved texts and values no voice reads
//
// Every setting here is saved with the project, so a change marks the
// project unsaved (else it is lost on close: no question on quit, no
// auto-save). None takes an undo step: undo is for the design, and these
// settings stay as they were set when an edit is undone.
//
// Two rules while a busy task or an export owns the document:
//   - settings that only need the voices built again (sample rate,
//     loudness, budget, scale) change at once, and their rebuild waits for
//     a free frame (deferredRebuild);
//   - timing settings, which a render and an export read as they run, are
//     refused with a log line and nothing changes.
// The description and the trace threshold are read by no task and change
// at any time. Interface thread.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "operations/document_context.h"

struct AudioOutput;

// ---------------------------------------------------------------------------
// Rebuilding the voices
// ---------------------------------------------------------------------------

enum class RebuildRequest {
    NotNeeded,  // nothing changed, or the document has no results
    Queued,     // the busy task with the given status text
    Deferred,   // a task is queued or runs, or an export runs: deferredRebuild is raised
};

// After a change that alters rendered audio.
RebuildRequest RequestVoiceRebuild(const DocumentContext& ctx, const char* status);

// ---------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------

// Seconds of a typed "H:M:S[:F]" at the project's frame rate (25 when it has
// none): hours clamped to 0..23, minutes and seconds to 0..59, frames to the
// rate; nothing with fewer than 3 numbers.
std::optional<float> ParseTimecodeField(const Project& project, const char* text);

// Each is true when the setting changed (and the project is marked
// unsaved); false when refused, when the text does not parse, or when the
// value is already so.
bool SetFrameRate(const DocumentContext& ctx, float fps);  // a rate above 0
bool SetStartTimecode(const DocumentContext& ctx, const char* text);
bool SetTimelineDuration(const DocumentContext& ctx, const char* text);  // at least 1 s
// The reference video's place on the timeline (at least 0); the timeline
// then reaches at least to the video's end.
bool SetVideoStart(const DocumentContext& ctx, std::atomic<float>& videoStart, float videoDuration, const char* text);

// ---------------------------------------------------------------------------
// Sample rate
// ---------------------------------------------------------------------------

// Nothing when the rate is the project's already; else the project's and
// the engine's rate, the reverb, the stream reopened at the new rate when
// one runs at another (the playing flag paused meanwhile), and "Changing
// sample rate..." rebuilding the voices when results exist.
RebuildRequest ChangeProjectSampleRate(const DocumentContext& ctx, AudioOutput& output, int rate);

// ---------------------------------------------------------------------------
// Loudness
// ---------------------------------------------------------------------------

// normalizeLUFS and the engine's copy, then "Applying loudness normalization...".
RebuildRequest SetNormalizeLoudness(const DocumentContext& ctx, bool on);
// A step of a target drag: the group's (0..2) targetLUFS, clamped to
// -60..-6. The voices follow once the drag ends (CommitLoudnessTarget).
// False when refused or unchanged.
bool SetLoudnessTarget(const DocumentContext& ctx, int group, float lufs);
// After a target drag ends: the engine's copy, then "Adjusting loudness target...".
RebuildRequest CommitLoudnessTarget(const DocumentContext& ctx);

// ---------------------------------------------------------------------------
// Track budget
// ---------------------------------------------------------------------------

int ClampTrackCount(int count);  // 1..48
// The budget switched, then ApplyTrackBudget.
RebuildRequest SetTrackBudget(const DocumentContext& ctx, bool on);
// A step of a count drag: the group's (0..2) trackCount, clamped. The layout
// follows once the drag ends (ApplyTrackBudget). False when refused or unchanged.
bool SetGroupTrackCount(const DocumentContext& ctx, int group, int count);
// The track layout again (tracks numbered in the export's group order),
// then "Applying track budget...". While a task or an export runs the
// results' tracks are theirs: only the rebuild is asked for, later.
RebuildRequest ApplyTrackBudget(const DocumentContext& ctx);

// ---------------------------------------------------------------------------
// Musical scale
// ---------------------------------------------------------------------------

// Clamped to the known scales and to 0..11; "Applying musical scale..."
// when the value changed.
RebuildRequest SetScaleType(const DocumentContext& ctx, int scaleType);
RebuildRequest SetScaleRoot(const DocumentContext& ctx, int scaleRoot);

// ---------------------------------------------------------------------------
// Saved values no voice reads
// ---------------------------------------------------------------------------

// True when the text changed.
bool SetProjectDescription(AppState& app, const std::string& text);
// The picture trace's threshold setting (saved with the trace); true when it changed.
bool SetTraceThreshold(AppState& app, float detail);
