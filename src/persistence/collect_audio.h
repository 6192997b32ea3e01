// collect_audio.h — copying every sound a project uses into the "Audio" folder
// beside the file being written.
//
// Index
//   CollectFailure         a sound that stays where it is, and why
//   CollectProgress        counters and a cancel flag shared with the thread that waits
//   CollectedAudioMap      the sources of one collection and where each was stored
//   RecordCollectedPath    add a source (and its file id) to the map
//   LookupCollectedPath    the path to write for a sound path
//   CollectProjectAudio    gather the sources of a document and copy them
//   RemoveCopyLeftovers    temporary copies of a save that was killed
//   CopyFailureText        a failure's cause in a few words ("disk full")
//
// The document keeps its own paths; only the written file holds the "Audio/"
// paths, and the file registry learns where the copy of each identified file
// lies. A copy already in the folder is never overwritten: a name whose file
// holds other content is passed over like a taken name, and every new copy
// is written under a temporary name, forced to disk and then moved into place.
// Every path that lies in or under the folder of the file being written is
// stored relative to it, copied or not, so the project moves with its folder.
//
// Runs on the thread that writes the project (a save worker): it reads only
// the document it is given and takes the registry's own lock.
#pragma once

#include <atomic>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "library/file_identity.h"
#include "platform/file_fault.h"

struct Project;

struct CollectFailure {
    std::string path;  // the source, which the file keeps naming
    int error = 0;     // the system's error number of the failed step
};

struct CollectProgress {
    std::atomic<int> total{0};   // sources to place
    std::atomic<int> done{0};    // placed, copied or not
    std::atomic<bool> cancel{false};  // asked to stop: no further copy starts
};

struct CollectedAudioMap {
    std::set<std::string> sourcePaths;                          // byte order
    std::unordered_map<std::string, FileId> fileIds;            // no empty ids
    std::unordered_map<std::string, std::string> storedPaths;   // source -> path to write
    std::vector<CollectFailure> failures;  // sources that exist but were not copied
    // Sources that exist but were not copied because they are not regular
    // files that open as sound (a shared project may name any path of the
    // recipient's: "/etc/passwd", a pipe, a device). Each stays where it is
    // and the user is told. Byte order.
    std::vector<std::string> leftOut;
    bool cancelled = false;                // stopped by CollectProgress::cancel
    int inFolder = 0;                      // sources whose copy lies in the audio folder
    // The folder of the file being written, with a trailing '/', as given
    // (absolute) and with its links resolved: a path below either is stored
    // relative. Empty: every unrecorded path is stored as it is.
    std::string folderPrefix;
    std::string canonicalFolderPrefix;
};

// An empty path is ignored; a non-empty id replaces the one recorded before.
void RecordCollectedPath(CollectedAudioMap& map, const std::string& path, const FileId& id);

// "" for an empty path; the stored path when one was recorded; a path in or
// under the map's folder relative to it; otherwise the path itself.
std::string LookupCollectedPath(const CollectedAudioMap& map, const std::string& path);

// Records every sound of the document (results with their alloy sources,
// events with their pinned files, bounce sources at any depth), then copies
// each existing source into `folder`/Audio, never twice: a source whose
// content is already there under its name (a copy an earlier save made)
// keeps that copy. Vanished sources keep their path (relative when it lies
// under `folder`); failed copies keep it too and are listed in `failures`.
// Only regular files that open as sound are copied, each at most at the size
// it had when it was looked at; the others keep their path too and are
// listed in `leftOut`.
// Leftovers of killed saves in the audio folder are removed first. With
// `progress`, its counters follow the work and its cancel flag stops it
// between sources (the map then says `cancelled`). Every copy meets `fault`
// (a test's seam, file_util.h).
CollectedAudioMap CollectProjectAudio(const Project& project, const std::string& folder,
                                      CollectProgress* progress = nullptr, FileFaultHook fault = nullptr);

// Removes the temporary copies (".tlcopy-*") in `audioFolder` that no save is
// writing any more: each copy in progress holds a lock on its file, so only
// those of a save that was killed (or crashed) go. Returns how many went.
int RemoveCopyLeftovers(const std::string& audioFolder);

// "disk full" for ENOSPC (and a quota), else the system's message in lower case.
std::string CopyFailureText(int error);
