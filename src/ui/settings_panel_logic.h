// settings_panel_logic.h — the Settings tab's tables and texts, without the GUI.
//
// Index
//   SampleRateItem / FrameRateItem / IntervalItem / ScaleMenuItem   the value tables
//   SampleRateItemIndex / FrameRateItemIndex / AutoSaveIntervalIndex the combos' current entry
//   TimecodeCharAccepted / FormatTimecodeField   the timecode fields
//   GroupFieldLabel                              the loudness and track fields' labels
//   ShowsUpdateAvailable / UpToDateLines / UpdateNoteLine / LastCheckedText   the update texts
//   DeviceMenuName / ShownDeviceIndex   the output device combo
//
// UI thread. What the controls change is done by the operations of
// operations/project_settings.h; here are the texts and tables they show.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct AppState;
struct AudioOutputStatus;
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

// ---------------------------------------------------------------------------
// Loudness and track fields
// ---------------------------------------------------------------------------

// "<group name> <what>##<id><group>", e.g. "FX A target##lufs1".
std::string GroupFieldLabel(const char* groupName, const char* what, const char* id, int group);

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
