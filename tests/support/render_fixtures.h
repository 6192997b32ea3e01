// render_fixtures.h — synthetic library entries and small libraries of generated sounds
// for tests and benchmarks of the render engine.
//
// Index
//   MakeEntry              one LibraryEntry with its defaults and a consistent spectrum
//   SetEntrySpectrum       bandEnergy / bandCentroid / brightness from a 0..1 spectral weight
//   MakeSyntheticEntries   a large varied pool (names from a small word list)
//   MakeLibrary            a LibraryIndex around given entries
//   AddMixedLibraries      four libraries of groups, filters, twins and damaged entries
//   EntryPointers          the candidate-list view of a vector of entries
//   Burst / BurstSound     a generated file: silence with tone or noise bursts at known times
//   WriteBurstSound        write one to disk
//   EntryForBurstSound     the LibraryEntry that describes it (duration, spectrum, onset)
//   MakeBurstLibrary       write several into a folder and return their library
//   FixedRenderSeeds       reproducible seeds for a render pass
//   LayersOfEvent          the layers of one event
//   DifferingResults       results of two projects that differ, ids of layers made since a mark aside
#pragma once

#include <string>
#include <vector>

#include "library/sound_library.h"
#include "render/layer_builders.h"

// Every field at its library default except path ("/lib/<name>.wav"), name and
// duration; the spectrum is centred on `weight` (see SetEntrySpectrum).
LibraryEntry MakeEntry(const std::string& name, float duration = 1.0f, float weight = 0.5f);

// bandEnergy peaks at the band nearest `weight` (relative to the strongest band,
// which is 1), bandCentroid is the energy-weighted mean of the band centres
// 0.1 .. 0.9 (close to `weight`), brightness = weight.
void SetEntrySpectrum(LibraryEntry& entry, float weight);

// `count` entries with names like "metal_hit_0042", durations 0.2..12 s, spread
// spectral weights and analysis features; the same seed gives the same pool.
std::vector<LibraryEntry> MakeSyntheticEntries(int count, unsigned seed = 1);

LibraryIndex MakeLibrary(const std::string& name, std::vector<LibraryEntry> entries, int group = -1,
                         bool enabled = true);

// "Main" (2300 entries, every group), "Foley" (group 1, once named "Old
// Foley": 600 entries, 40 twins of Main entries under other paths, a few
// entries with values that are not numbers), "Ambience" (group 2, 300) and
// "Off" (disabled, 100). Twins score exactly alike; Main spans three chunks.
void AddMixedLibraries(SoundLibrary& library, unsigned seed);

std::vector<const LibraryEntry*> EntryPointers(const std::vector<LibraryEntry>& entries);

// A burst of sound inside a silent file. attack and release are linear ramps
// inside [start, start + length).
struct Burst {
    double start = 0;          // s
    double length = 0.2;       // s
    double amplitude = 0.8;    // peak of the burst
    double frequency = 1000;   // Hz of the sine; 0 = white noise
    double attack = 0.002;     // s
    double release = 0.01;     // s
};

struct BurstSound {
    std::string name;          // file stem; the file is <folder>/<name>.wav
    double seconds = 1.0;
    int sampleRate = 48000;
    int channels = 1;
    std::vector<Burst> bursts;
};

std::vector<float> MakeBurstSamples(const BurstSound& sound);  // interleaved
bool WriteBurstSound(const std::string& path, const BurstSound& sound);

// Describes a generated sound the way an analysis would, from what is known of
// it: duration, rate, channels, spectrum from the burst frequencies (noise
// counts as flat), onsetPosition / attackTime from the first burst.
LibraryEntry EntryForBurstSound(const std::string& path, const BurstSound& sound);

// Writes every sound into `folder` and returns the library of them (in order).
// Returns a library with fewer entries when a file could not be written.
LibraryIndex MakeBurstLibrary(const std::string& folder, const std::string& name,
                              const std::vector<BurstSound>& sounds, int group = -1);

// Seeds that make a render pass reproducible: the pass seed and a fixed salt
// for Fill's scored pick.
RenderSeeds FixedRenderSeeds(uint32_t passSeed, uint32_t fillSalt);

// The layers of one event, in result order.
std::vector<const RenderResult*> LayersOfEvent(const Project& project, int eventIdx);

// How many results of `a` differ from `b`'s at the same index, every field
// compared; -1 when the counts differ. Layers both made after id `madeAfter`
// have ids of their own in each project: `b`'s take `a`'s first, so that
// later comparisons see them equal.
int DifferingResults(const Project& a, Project& b, int32_t madeAfter);
