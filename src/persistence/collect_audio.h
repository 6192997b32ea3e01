// collect_audio.h — copying every sound a project uses into the "Audio" folder
// beside the file being written.
//
// Index
//   CollectedAudioMap      the sources of one collection and where each was stored
//   RecordCollectedPath    add a source (and its file id) to the map
//   LookupCollectedPath    the path to write for a sound path
//   CollectProjectAudio    gather the sources of a document and copy them
//
// The document keeps its own paths; only the written file holds the "Audio/"
// paths, and the file registry learns where the copy of each identified file
// lies. A copy already in the folder is never overwritten: a name whose file
// holds other content is passed over like a taken name, and every new copy
// is written under a temporary name, forced to disk and then moved into place.
#pragma once

#include <set>
#include <string>
#include <unordered_map>

#include "library/file_identity.h"

struct Project;

struct CollectedAudioMap {
    std::set<std::string> sourcePaths;                          // byte order
    std::unordered_map<std::string, FileId> fileIds;            // no empty ids
    std::unordered_map<std::string, std::string> storedPaths;   // source -> path to write
};

// An empty path is ignored; a non-empty id replaces the one recorded before.
void RecordCollectedPath(CollectedAudioMap& map, const std::string& path, const FileId& id);

// "" for an empty path, the stored path when one was recorded, else the path itself.
std::string LookupCollectedPath(const CollectedAudioMap& map, const std::string& path);

// Records every sound of the document (results with their alloy sources,
// events with their pinned files, bounce sources at any depth), then copies
// each existing source into `folder`/Audio. Vanished sources and failed
// copies keep their own path; failures are logged, never fatal.
CollectedAudioMap CollectProjectAudio(const Project& project, const std::string& folder);
