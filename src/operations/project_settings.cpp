// project_settings.cpp — the project's settings changed in place, the
// project marked unsaved, and the voices rebuilt where the audio changes.
//
// Index
//   Helpers
//   Rebuilding the voices
//   Timing
//   Sample rate
//   Loudness
//   Track budget
//   Musical scale
//   Saved values no voice reads
#include "operations/project_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <type_traits>

#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/sample_rate.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "render/scale_tuning.h"
#include "render/track_assignment.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

bool ValidGroup(int group) { return group >= 0 && group < 3; }

// The one place a setting is stored: the unsaved flag only when the value
// moved (a timecode field reports every keystroke, most of which parse to
// the value it already holds).
template <class T>
bool Store(AppState& app, T& field, const std::type_identity_t<T>& value) {
    if (field == value) return false;
    field = value;
    app.modified = true;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Rebuilding the voices
// ---------------------------------------------------------------------------

RebuildRequest RequestVoiceRebuild(const DocumentContext& ctx, const char* status) {
    if (ctx.project->results.empty()) return RebuildRequest::NotNeeded;
    if (RebuildCacheAsync(ctx, status, false)) return RebuildRequest::Queued;
    // The job protocol turns the flag into "Updating audio..." on the first
    // frame that may change the document.
    ctx.app->deferredRebuild.store(true);
    return RebuildRequest::Deferred;
}

// ---------------------------------------------------------------------------
// Timing
// ---------------------------------------------------------------------------

std::optional<float> ParseTimecodeField(const Project& project, const char* text) {
    const float seconds = ParseTimecode(project, text);
    if (seconds < 0) return std::nullopt;
    // The reader keeps up to 99 hours; these fields stop at 23:59:59 and the
    // last frame, keeping the minutes, seconds and frames typed.
    constexpr double kDay = 24.0 * 3600.0;
    const double s = seconds;
    if (s < kDay) return seconds;
    return float(23.0 * 3600.0 + std::fmod(s, 3600.0));
}

bool SetFrameRate(const DocumentContext& ctx, float fps) {
    if (!(fps > 0) || !std::isfinite(fps) || EditRefused(ctx, "Frame rate")) return false;
    return Store(*ctx.app, ctx.project->fps, fps);
}

bool SetStartTimecode(const DocumentContext& ctx, const char* text) {
    const std::optional<float> s = ParseTimecodeField(*ctx.project, text);
    if (!s || EditRefused(ctx, "Start timecode")) return false;
    return Store(*ctx.app, ctx.project->startTC, *s);
}

bool SetTimelineDuration(const DocumentContext& ctx, const char* text) {
    const std::optional<float> s = ParseTimecodeField(*ctx.project, text);
    if (!s || EditRefused(ctx, "Timeline duration")) return false;
    return Store(*ctx.app, ctx.project->totalDuration, std::max(*s, 1.0f));
}

bool SetVideoStart(const DocumentContext& ctx, std::atomic<float>& videoStart, float videoDuration, const char* text) {
    const std::optional<float> s = ParseTimecodeField(*ctx.project, text);
    if (!s || EditRefused(ctx, "Video start")) return false;
    const float start = std::max(*s, 0.0f);
    bool changed = false;
    if (videoStart.load() != start) {
        videoStart.store(start);
        ctx.app->modified = true;
        changed = true;
    }
    if (std::isfinite(videoDuration))
        changed = Store(*ctx.app, ctx.project->totalDuration, std::max(ctx.project->totalDuration, start + videoDuration)) ||
                  changed;
    return changed;
}

// ---------------------------------------------------------------------------
// Sample rate
// ---------------------------------------------------------------------------

RebuildRequest ChangeProjectSampleRate(const DocumentContext& ctx, AudioOutput& output, int rate) {
    AppState& app = *ctx.app;
    if (rate < 1 || !Store(app, app.projectSampleRate, rate)) return RebuildRequest::NotNeeded;
    SwitchEngineSampleRate(*ctx.engine, output, rate);
    std::printf("[Audio] project sample rate %d Hz\n", rate);
    std::fflush(stdout);
    DocumentContext at = ctx;
    at.sampleRate = rate;
    return RequestVoiceRebuild(at, "Changing sample rate...");
}

// ---------------------------------------------------------------------------
// Loudness
// ---------------------------------------------------------------------------

RebuildRequest SetNormalizeLoudness(const DocumentContext& ctx, bool on) {
    if (!Store(*ctx.app, ctx.project->normalizeLUFS, on)) return RebuildRequest::NotNeeded;
    // Voice builds read the engine's copy; a running task keeps the copy it
    // started with, and the rebuild asked for below copies it again.
    if (DocumentMayChange(*ctx.app)) CopyLoudnessTargets(*ctx.project, *ctx.engine);
    return RequestVoiceRebuild(ctx, "Applying loudness normalization...");
}

bool SetLoudnessTarget(const DocumentContext& ctx, int group, float lufs) {
    if (!ValidGroup(group) || !std::isfinite(lufs) || EditRefused(ctx, "Loudness target")) return false;
    return Store(*ctx.app, ctx.project->groups[group].targetLUFS, std::clamp(lufs, -60.0f, -6.0f));
}

RebuildRequest CommitLoudnessTarget(const DocumentContext& ctx) {
    if (DocumentMayChange(*ctx.app)) CopyLoudnessTargets(*ctx.project, *ctx.engine);
    return RequestVoiceRebuild(ctx, "Adjusting loudness target...");
}

// ---------------------------------------------------------------------------
// Track budget
// ---------------------------------------------------------------------------

int ClampTrackCount(int count) { return std::clamp(count, 1, 48); }

RebuildRequest SetTrackBudget(const DocumentContext& ctx, bool on) {
    if (!Store(*ctx.app, ctx.project->budgetMode, on)) return RebuildRequest::NotNeeded;
    return ApplyTrackBudget(ctx);
}

bool SetGroupTrackCount(const DocumentContext& ctx, int group, int count) {
    if (!ValidGroup(group) || EditRefused(ctx, "Track count")) return false;
    return Store(*ctx.app, ctx.project->groups[group].trackCount, ClampTrackCount(count));
}

RebuildRequest ApplyTrackBudget(const DocumentContext& ctx) {
    // The results' tracks belong to the worker while a task or an export runs.
    if (!DocumentMayChange(*ctx.app)) {
        if (!ctx.project->results.empty()) ctx.app->deferredRebuild.store(true);
        return ctx.project->results.empty() ? RebuildRequest::NotNeeded : RebuildRequest::Deferred;
    }
    AssignTracks(*ctx.project);
    return RequestVoiceRebuild(ctx, "Applying track budget...");
}

// ---------------------------------------------------------------------------
// Musical scale
// ---------------------------------------------------------------------------

RebuildRequest SetScaleType(const DocumentContext& ctx, int scaleType) {
    if (!Store(*ctx.app, ctx.project->scaleType, std::clamp(scaleType, 0, kScaleCount - 1)))
        return RebuildRequest::NotNeeded;
    return RequestVoiceRebuild(ctx, "Applying musical scale...");
}

RebuildRequest SetScaleRoot(const DocumentContext& ctx, int scaleRoot) {
    if (!Store(*ctx.app, ctx.project->scaleRoot, std::clamp(scaleRoot, 0, 11))) return RebuildRequest::NotNeeded;
    return RequestVoiceRebuild(ctx, "Applying musical scale...");
}

// ---------------------------------------------------------------------------
// Saved values no voice reads
// ---------------------------------------------------------------------------

bool SetProjectDescription(AppState& app, const std::string& text) { return Store(app, app.projectDescription, text); }

bool SetTraceThreshold(AppState& app, float detail) {
    if (!std::isfinite(detail)) return false;
    return Store(app, app.opticalDetail, detail);
}
