// settings_panel_logic.h — what the Settings tab's controls do, without the GUI.
//
// Index
//   SampleRateItem / FrameRateItem / IntervalItem / ScaleMenuItem   the value tables
//   SampleRateItemIndex / FrameRateItemIndex / AutoSaveIntervalIndex the combos' current entry
//   TimecodeCharAccepted / FormatTimecodeField / ParseTimecodeField  the timecode fields
//   ApplyStartTimecode / ApplyTimelineDuration / ApplyVideoStart      what a typed timecode sets
//   RebuildRequest / RequestVoiceRebuild   the voices again, now or on a later frame
//   ChangeProjectSampleRate  the sample-rate sequence (the engine's part: operations/sample_rate.h)
//   SetNormalizeLoudness / CommitLoudnessTarget / GroupFieldLabel / ClampTrackCount / ApplyTrackBudget
//   ApplyScaleType / ApplyScaleRoot   musical scale
//   ShowsUpdateAvailable / UpToDateLines / UpdateNoteLine / LastCheckedText   the update texts
//   DeviceMenuName / ShownDeviceIndex   the output device combo
//
// UI thread. Controls that change results or voices call these only while
// the document may change (no busy task, no export); the rebuilds they ask
// for wait for a free frame through deferredRebuild.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AppState;
struct AudioEngine;
struct AudioOutput;
struct AudioOutputStatus;
struct DocumentContext;
struct OutputDevice;
struct Project;

// ---------------------------------------------------------------------------
// Value tables
// ---------------------------------------------------------------------------

struct SampleRateItem {
    const char* text;
    int rate;
};
extern const std::array<SampleRateItem, 5> kSampleRateItems;

struct FrameRateItem {
    const char* text;
    float fps;
};
extern const std::array<FrameRateItem, 10> kFrameRateItems;

struct IntervalItem {
    const char* text;
    float seconds;
};
extern const std::array<IntervalItem, 6> kAutoSaveIntervalItems;

// The scales the menu offers, a separator before "Maj7".
struct ScaleMenuItem {
    int scaleType;
    bool separatorBefore;
};
extern const std::array<ScaleMenuItem, 7> kScaleMenuItems;

// The entry equal to the rate, else the "48000 Hz" entry.
int SampleRateItemIndex(int rate);
// The first entry within 0.005 of fps, else "24".
int FrameRateItemIndex(float fps);
// The first entry within 1 s, else "5 min".
int AutoSaveIntervalIndex(float seconds);

// ---------------------------------------------------------------------------
// Timecode fields
// ---------------------------------------------------------------------------

constexpr int kTimecodeFieldBytes = 32;

// Digits and ':' only (never a character code of 256 or more).
bool TimecodeCharAccepted(unsigned int c);
// "HH:MM:SS:FF" at the project's nominal frame rate (25 when it has none).
void FormatTimecodeField(const Project& project, float seconds, char* out, size_t size);
// Seconds of a typed "H:M:S[:F]", hours clamped to 0..23, minutes and seconds
// to 0..59, frames to the rate; nothing with fewer than 3 numbers.
std::optional<float> ParseTimecodeField(const Project& project, const char* text);

// What each field sets from a text the user typed; false (nothing changed)
// when the text does not parse.
bool ApplyStartTimecode(Project& project, const char* text);
bool ApplyTimelineDuration(Project& project, const char* text);  // at least 1 s
// The video's place on the timeline (at least 0); the timeline then reaches
// at least to the video's end.
bool ApplyVideoStart(Project& project, std::atomic<float>& videoStart, float videoDuration, const char* text);

// ---------------------------------------------------------------------------
// Rebuilding the voices
// ---------------------------------------------------------------------------

enum class RebuildRequest {
    NotNeeded,  // the document has no results
    Queued,     // the busy task with the given status text
    Deferred,   // a task is queued or runs, or an export runs: deferredRebuild is raised
};

// After a change that alters rendered audio.
RebuildRequest RequestVoiceRebuild(const DocumentContext& ctx, const char* status);

// The sample-rate sequence: nothing when the rate is the project's already;
// else the project's and the engine's rate, the reverb, the stream reopened
// at the new rate when one runs at another (the playing flag paused meanwhile),
// and "Changing sample rate..." rebuilding the voices when results exist.
RebuildRequest ChangeProjectSampleRate(const DocumentContext& ctx, AudioOutput& output, int rate);

// ---------------------------------------------------------------------------
// Loudness, track budget, scale
// ---------------------------------------------------------------------------

// normalizeLUFS and the engine's copy, then "Applying loudness normalization...".
RebuildRequest SetNormalizeLoudness(const DocumentContext& ctx, bool on);
// After a target drag ends: the engine's copy, then "Adjusting loudness target...".
RebuildRequest CommitLoudnessTarget(const DocumentContext& ctx);

// "<group name> <what>##<id><group>", e.g. "FX A target##lufs1".
std::string GroupFieldLabel(const char* groupName, const char* what, const char* id, int group);

int ClampTrackCount(int count);  // 1..48
// The track layout again (tracks numbered in the export's group order), then
// "Applying track budget...".
RebuildRequest ApplyTrackBudget(const DocumentContext& ctx);

RebuildRequest ApplyScaleType(const DocumentContext& ctx, int scaleType);
RebuildRequest ApplyScaleRoot(const DocumentContext& ctx, int scaleRoot);

// ---------------------------------------------------------------------------
// Updates
// ---------------------------------------------------------------------------

// A newer version is known and has not been dismissed.
bool ShowsUpdateAvailable(const AppState& app);
// The dim lines shown when no update is to be offered. `checkPossible`: the
// program has somewhere to ask (UpdateCheckPossible); without it the checks
// are off whatever the setting says, and nothing claims the version is the
// latest.
std::vector<std::string> UpToDateLines(const AppState& app, const char* runningVersion, bool checkPossible);
// "  • %s"
std::string UpdateNoteLine(const std::string& note);
// "Last checked ..." from whole seconds since the last check; "" when none.
std::string LastCheckedText(int64_t now, int64_t lastCheck);

// ---------------------------------------------------------------------------
// Output devices
// ---------------------------------------------------------------------------

// The name, with " (Default)" for the system's default device.
std::string DeviceMenuName(const OutputDevice& device);
// The entry of the list the stream runs on (by name, then by index); -1 when none.
int ShownDeviceIndex(const AudioOutputStatus& status);
