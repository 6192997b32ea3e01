// inspector_logic.h — the events tab inspector's plain rules: level and pitch
// maps, the edits its controls make on one event or on the selection, the
// Clip card's texts and header cache, and the Bed layer lists.
//
// Index
//   PitchToSemitones / SemitonesToPitch   the pitch drag's map (the volume's,
//                       and the volume and mute edits: operations/level_edits.h)
//   BatchMeanDb / NextScaleTune / BatchScaleTuneShowsForceOff
//   DragWeightOffset / DragIntensityScale / FillLayersShown / SyncOffsetAt
//   SaveEventRecipe / DeleteRecipe                 recipe files
//   TimecodeCharAllowed
//   FormatClipDuration / FormatSampleRate / ClipDetailsText / MiddleEllipsis
//   ClipHeader / ClipHeaderCache                   one header read per file
//   InspectorExportBlocks                          controls that wait while an export runs
//
// The edits the controls make are operations (event_settings.h,
// pinned_sound_edits.h, level_edits.h); what stays here are the maps the
// drags use and the card's texts. UI thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "operations/level_edits.h"
#include "operations/event_settings.h"
#include "operations/pinned_sound_edits.h"

struct AppState;
struct AudioEngine;
struct DocumentContext;
struct Event;
struct EventPreset;
struct OpticalTrace;
struct Project;

// ---- Maps -------------------------------------------------------------------

float PitchToSemitones(float pitchVariation);
float SemitonesToPitch(float semitones);

// ---- Levels -----------------------------------------------------------------

// The selection's mean gain in dB (−24 when the mean is 0.001 or less).
float BatchMeanDb(const Project& project, const std::vector<int>& selected);

// ---- Single-event controls ------------------------------------------------------

// 0 or 1 → 2 ("Force Off"); 2 → 0.
int NextScaleTune(int current);
// True when at least as many selected events are at 2 as at 0.
bool BatchScaleTuneShowsForceOff(const Project& project, const std::vector<int>& selected);
float DragWeightOffset(float offset, float dragPoints, float curveHeight);   // −1..1
float DragIntensityScale(float scale, float dragPoints, float curveHeight);  // 0..2
int FillLayersShown(int fillLayers);                                         // 3 for Auto (0)
// clamp((mouseX − left) / width, 0, 1) × duration.
float SyncOffsetAt(float mouseX, float left, float width, float duration);

// ---- Recipes ----------------------------------------------------------------

enum class RecipeSaveOutcome { Saved, Declined, Failed, NoName };
// The recipe of the event under `name` in `folder`; a recipe file already
// there (of this name, or of another that leaves the same file name) is
// replaced only when `confirm` says yes. A failure shows
// the toast "Recipe save failed". The folder is read again after a save.
RecipeSaveOutcome SaveEventRecipe(AppState& app, const Project& project, int event, std::string_view name,
                                  const std::string& folder,
                                  const std::function<bool(const char*, const char*)>& confirm);
// Once `confirm` says yes: deletes the recipe's preview and its file, then
// reads the folder again. True when the file went.
bool DeleteRecipe(AppState& app, const EventPreset& recipe, const std::string& folder,
                  const std::function<bool(const char*, const char*)>& confirm);

// ---- Clips ------------------------------------------------------------------

// Digits and ':' only.
bool TimecodeCharAllowed(unsigned int c);

// ---- Bed layers -------------------------------------------------------------

// ---- Card texts ----------------------------------------------------------------

std::string FormatClipDuration(float seconds);  // "1:02:03", "2:05.3", "4.20s"
std::string FormatSampleRate(int rate);         // "48k", "44.1k", "800"
std::string ClipDetailsText(float seconds, int rate, int channels, int bits);
// The name cut in the middle ("head…tail") between whole characters until
// `fits` accepts it (a file name keeps its extension). Texts cut at their end
// use ShortenedText (document/shortened_text.h).
std::string MiddleEllipsis(const std::string& name, const std::function<bool(const std::string&)>& fits);

struct ClipHeader {
    bool opened = false;
    int sampleRate = 0;
    int bits = 0;
    int channels = 0;
    float duration = 0;
    std::string description;
    // The cut description for the width it was cut at.
    float cutWidth = -1;
    std::string cutDescription;
};
// Headers by path, read once (a failed read is remembered too). `opens`
// counts the files opened, for tests.
struct ClipHeaderCache {
    std::unordered_map<std::string, ClipHeader> headers;
    int opens = 0;
};
ClipHeader& ClipHeaderFor(ClipHeaderCache& cache, const std::string& path);
void ForgetClipHeader(ClipHeaderCache& cache, const std::string& path);
extern ClipHeaderCache gClipHeaderCache;

// True while an export runs: rebuilds, re-renders, recipes, the bus and the
// scale tune wait (their tooltip says why).
bool InspectorExportBlocks(const AppState& app);
inline constexpr const char kExportBlockTip[] = "Not available while exporting";
