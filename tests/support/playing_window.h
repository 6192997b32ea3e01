// playing_window.h — what the window tests that play a generated project
// into a private PulseAudio server's null sink share.
//
// Index
//   kSinkRate           the null sink's rate, and the projects'
//   PlayingWindowTest   a ProgramScriptTest with its own server's null sink ("tl_null")
//   WavExportSettings   a WAV export of the passes asked for (no AAF)
//   WritePlayableProject  a generated project, weights measured, written with its export settings
//   DumpWhole           an integer field of a state dump, expected there
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "export/export_settings.h"
#include "support/large_project.h"
#include "support/pulse_server.h"
#include "support/window_harness.h"

constexpr int kSinkRate = 48000;

// Skips the test where PulseAudio is not installed (scripts/setup installs
// it); else the server runs with a null sink "tl_null" at kSinkRate, and the
// program the test starts inherits its address.
class PlayingWindowTest : public ProgramScriptTest {
protected:
    void SetUp() override;

    PulseServer server;
};

// WAV only: the mixdown, and the stems, tracks and clips when asked for.
ExportSettings WavExportSettings(bool stems = false, bool tracks = false, bool clips = false);

// Writes `large` as "<folder>/<name>/<name>.tlproj" with `settings`, its
// weights measured already (the open changes nothing the probe would);
// the path, empty on failure.
std::string WritePlayableProject(LargeProject& large, const std::string& folder, const std::string& name,
                                 const ExportSettings& settings);

int64_t DumpWhole(std::map<std::string, std::string>& dump, const std::string& key);
