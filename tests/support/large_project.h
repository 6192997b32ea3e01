// large_project.h — projects of a working designer's size for tests and
// benchmarks: events of every shape over a long timeline, a library of
// generated sounds on disk, and the layers either absent, made directly or
// rendered by the render pass itself.
//
// Index
//   LargeProjectLayers   none, made (fast, every field filled) or rendered
//   LargeProjectSpec     the size: events, timeline, layers, library, seed
//   LargeProject         what was made: the document and its analysed library
//   LargeLibrary         the library alone: sounds written once into a folder
//   MakeLargeProject     the document over a library in a folder
//   WriteLargeProject    the document as a project file naming its library
//   FixProbedWeights     Clip and Bed weights set, so the sound probe changes nothing
//
// Everything depends only on the spec: the same spec gives the same events,
// the same sounds and the same layers (ids aside) in every run. The events
// repeat a short scene (a Bed under it, Spots, a Bloom, a Contour, a Fill, a
// Scatter and a Clip, the Clip and the Bed pinned to library sounds) across
// the timeline; their keywords find the library's sounds by the category
// words of the file names.
//
// Typical sizes: MakeLargeProject({.eventCount = 2000}, folder) gives 2,000
// events over 20 minutes; with layers = Rendered some 2.4 layers per event
// (4,800 for 2,000 events, 16,000 for 6,600: about 7 s of rendering); with
// layers = Made exactly layersPerEvent per event (a Clip and a Bed one), so
// about 18,000 layers are {.eventCount = 2000, .layers = Made,
// .layersPerEvent = 10}. Made Beds are what the program makes of a Bed: one
// looping fill per pinned file (RebuildBedEvent), unless inconsistentBeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/project.h"
#include "export/export_settings.h"
#include "library/sound_library.h"

enum class LargeProjectLayers {
    None,      // the events only: the project as it is before its first render
    Made,      // layersPerEvent layers per event, made here from the library: plain
               // regions, fills, clip regions and bed loops with fades, gains, tracks
               // and groups; fast at any size
    Rendered,  // the render pass over every event at once with fixed seeds, then the
               // post passes (seconds per thousand events)
};

struct LargeProjectSpec {
    int eventCount = 2000;
    float seconds = 1200;          // timeline length; events are spread over it
    LargeProjectLayers layers = LargeProjectLayers::None;
    int layersPerEvent = 3;        // Made only (a Clip always gets one, a Bed one per pinned file)
    // Made only: Beds get layersPerEvent layers of sounds of their kind, most
    // of them not among the Bed's pinned files, as earlier generated projects
    // had them; opening such a project rebuilds the Beds to their layer lists.
    bool inconsistentBeds = false;
    int soundCount = 48;           // sounds of the generated library
    float soundSeconds = 0;        // 0: each sound's natural length (0.3..4 s), else this
    // The sounds as libraries of recordings hold them: rates from 11,025 to
    // 96,000 Hz, 8 to 24 bit, lengths that are no round number.
    bool fieldRecordings = false;
    uint32_t seed = 1;
};

struct LargeLibrary {
    std::string folder;            // the sounds, "<folder>/<category>_<n>.wav"
    LibraryIndex index;            // every sound analysed, enabled, named after the folder
    std::vector<std::string> paths;
};

struct LargeProject {
    Project project;
    LargeLibrary library;
};

// Writes the spec's sounds into `folder` (created when missing) and analyses them.
LargeLibrary MakeLargeLibrary(const LargeProjectSpec& spec, const std::string& folder);

// The library in `folder` (MakeLargeLibrary) and the document over it.
LargeProject MakeLargeProject(const LargeProjectSpec& spec, const std::string& folder);

// Writes `large` as "<folder>/<name>/<name>.tlproj" with the library folder
// among its libraries (so the program scans it when it opens the project),
// the layers' files referenced by id, and the export settings given (the
// defaults when null); returns the path ("" on failure).
std::string WriteLargeProject(const LargeProject& large, const std::string& folder, const std::string& name,
                              const ExportSettings* exportSettings = nullptr);

// Gives every Clip and Bed layer the weight `weight` instead of the
// automatic 0.5 the sound probe fills in once the voices are built: a
// project written after this opens unmodified and stays so.
void FixProbedWeights(Project& project, float weight = 0.6f);
