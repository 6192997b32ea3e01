// layer_sound_look.h — the one look at the files a layer's sound is made of:
// there as they were measured, changed since, or away.
//
// Index
//   SoundFileState    one file against the fingerprint its id was measured with
//   SoundLooks        each file looked at once; the files not as measured
//   LookAtLayerSound  a layer's finding from the looks at its files
//
// An open and an export look alike, so that a layer is the same state to
// both and a reopened project delivers what the session delivered:
//   - a file gone, or no longer a sound that opens, is away;
//   - a file there but not what was measured (cut, or other content) is
//     changed, and is decoded afresh from what it holds now;
//   - an alloy with some of its sources away is morphed from the rest, and
//     with all of them away is missing.
// A placeholder (the render matched no sound) is told apart.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>

#include "document/layer_counts.h"

struct FileRegistry;
struct RenderResult;

enum class SoundFileState : uint8_t { AsMeasured, Changed, Away };

struct SoundLooks {
    explicit SoundLooks(FileRegistry& registry) : registry_(registry) {}

    // Whether the file at `path` is still a sound that opens, and whether its
    // fingerprint is the one the registry keeps for `id` (a file without an
    // id, or with an id never fingerprinted, is taken as measured). Reads
    // the file (opened as sound, two 64 KiB windows) the first time only.
    SoundFileState Of(const std::string& path, const std::string& id);

    // The paths looked at that were changed or away, in byte order: what was
    // decoded or morphed from them stands for files no longer there.
    const std::set<std::string>& NotAsMeasured() const { return notAsMeasured_; }

private:
    FileRegistry& registry_;
    std::unordered_map<std::string, SoundFileState> seen_;  // by path and id
    std::set<std::string> notAsMeasured_;
};

// Placeholders are Unmatched; a layer whose files (an alloy's main sound and
// sources) are all away is Missing, an alloy with some away AlloyPartial, a
// layer with a changed file Changed, any other AsMeasured.
LayerSound LookAtLayerSound(const RenderResult& result, SoundLooks& looks);
