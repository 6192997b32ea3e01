// preferences.h — the settings that survive a restart, in one key=value file.
//
// Index
//   PreferenceTargets   the records the file reads into and writes from
//   LoadPreferences     read the file, then settle the recent list and the libraries
//   SavePreferences     write every setting, durably
//   LoadPreferencesText / PreferencesText   the same on the file's text
//
// The file holds the export settings, default project settings, display
// options, the reverb settings, the picture-trace model, the update-check
// state, the recent projects and the state of every library folder. Both
// run on the UI thread; the reverb values go into the engine without its
// lock (plain floats the audio thread reads).
#pragma once

#include <string>
#include <string_view>

struct AppState;
struct Project;
struct AudioEngine;
struct SoundLibrary;

struct PreferenceTargets {
    AppState& app;
    Project& project;       // the document settings kept as defaults
    AudioEngine& engine;    // reverb settings, deconfliction bypass
    SoundLibrary& library;  // folder flags, the add queue
    std::string path;       // empty: nothing is read or written
};

// The program's globals and PreferencesFilePath().
PreferenceTargets GlobalPreferenceTargets();

// Reads the file into the settings; a missing file changes nothing, a line
// without "=" or with an unknown key is skipped, out-of-range values are
// clamped. After the last line: the automatic font preset is applied, recent
// entries whose files are gone are dropped, the diagnostic display options
// are switched off, saved library folders take their flags or are queued to
// be scanned, and, when stale recent entries were dropped, the file is
// rewritten at once.
void LoadPreferences();
void LoadPreferences(PreferenceTargets& targets);
// The same from the text of a file (targets.path is not used); true when
// the file should be written again (stale recent entries were dropped).
bool LoadPreferencesText(std::string_view text, PreferenceTargets& targets);

// Writes every setting to path + ".tmp" and moves it over the file; on any
// failure the previous file stays. Nothing is reported.
void SavePreferences();
void SavePreferences(PreferenceTargets& targets);
// The text SavePreferences writes.
std::string PreferencesText(PreferenceTargets& targets);
