// export_sounds.h — what an export finds of each layer's sound before it
// writes anything, so that every file and the final text tell the same.
//
// Index
//   ExportSounds        every layer's finding, and the decodes that failed on the way
//   CheckExportSounds   look at every sound the export's layers name, once each
//
// A layer's sound was measured (fingerprinted by the scan or the open) when
// its layer was made. At export each file a layer names is looked at once,
// as an open looks (library/layer_sound_look.h):
//   - gone, or no longer a sound that opens: the layer is silent in every
//     file (mix, stems, tracks, clips; no AAF clip), counted "sound missing";
//   - there but not what was measured (cut, or other content): the layer is
//     decoded afresh from the file as it is now, in every file alike (the
//     AAF clip is that rendered sound, not a region read apart), and
//     counted "from a changed sound";
//   - an alloy with some of its sources away: the morph of the sources left,
//     made afresh, counted "alloy layer without one of its sources";
//   - a placeholder (matched no sound) is silent and counted apart.
// The voices keep the levels they have: a layer's level never depends on
// what the export finds of its sound (the voice builds keep the measures).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/layer_counts.h"

struct ExportJob;
struct FileRegistry;
struct Project;

struct ExportSounds {
    // Per result of the document, in result order.
    std::vector<LayerSound> byResult;
    // Per result: whether the export counts it (it sounds in the export:
    // in range, neither it nor its event muted, with a voice to play).
    std::vector<uint8_t> counted;
    // Per result: a fresh decode of it failed during a pass, so every file
    // holds it as silence. Written by the export thread only.
    mutable std::vector<uint8_t> decodeFailed;

    // Silent in every file: a placeholder or a missing sound.
    bool Silent(size_t result) const;
    // Decoded afresh for the export, never taken from the voice as it is held.
    bool Fresh(size_t result) const;
    // Its sound is not what was measured (changed, or an alloy short of a
    // source): no part of it is read from its files apart from the decode.
    bool Changed(size_t result) const;
    // A fresh decode failed: the layer is silent after all.
    void NoteDecodeFailed(size_t result) const;
    // The layers the export counts, by what it found; a layer whose fresh
    // decode failed counts as missing.
    LayerSoundCounts Counts() const;
};

// Looks at every file the project's layers name (each once), against the
// fingerprint the registry keeps for the layer's file id. Files are read
// (opened as sound, two 64 KiB windows); nothing is written. What the
// session decoded or morphed from a file changed or gone since is let go
// (ForgetDecodedSounds), so that the export's fresh decodes read the files
// as they are, as a reopen of the saved project reads them. Runs on the
// export thread.
ExportSounds CheckExportSounds(const ExportJob& job, const Project& project, FileRegistry& registry);
