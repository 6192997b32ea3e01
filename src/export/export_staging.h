// export_staging.h — an export writes every file into staging folders of its
// own and touches nothing at its final names until every pass has
// succeeded (export_commit.h then moves the files into place in one commit).
//
// Index
//   ExportStaging          the token, the control folder, the manifest and the staging folders
//   BeginExportStaging     the note, the control folder and the first manifest, in that order
//   StageFolder            the folder the files of one destination folder are written in
//   SaveManifest           the manifest rewritten durably
//   IsOwnStagedName        what the export itself puts in a staging folder
//   RemoveOwnEntriesNow    the export's own entries of a folder removed (system calls only)
//   DiscardStaging / DiscardStagingDetached   a failed or stopped export's staged files removed
//   VisibleFolderName      "Earlier export, set aside <date>" and the like, made unique
//   RemoveExportNote / OpenDestination
//
// A destination folder that exists gets a staging folder
// ".tessaloom-export-<token>.new" inside it: the same file system as the
// final names (a subfolder on another drive included), so the commit is a
// rename. A destination folder that does not exist yet is made inside its
// parent's staging folder and moves into place whole at the commit. The
// staged files keep their final names, so a name of 255 bytes is staged
// as it is. Discarding removes only what the export itself puts there (its
// WAV and AAF files, the writers' hidden temporary files and the folders it
// made, each recorded before it was made); anything else found in a staging
// folder is another program's and stays, visible, in a folder named
// "Unfinished export, <date>".
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/export_manifest.h"
#include "platform/folder_beneath.h"

struct ExportStaging {
    std::string outDir;
    std::string notePath;  // the note in the data folder; empty: none
    int exportFd = -1;     // borrowed: the export folder, locked by its holder
    FolderFd control;      // the control folder
    ExportManifest manifest;
    struct Destination {
        FolderFd folder;   // the destination folder itself
        FolderFd staging;  // its staging folder
    };
    std::map<std::string, Destination> destinations;  // by path below the export folder
    std::mutex mutex;
};

// Writes the note (in `noteFolder`, when given), makes the control folder in
// the export folder open as `exportFd` (held and locked by the caller) and
// writes the first manifest, each on disk before the next. Null with
// *problem set (a sentence for the status) when the folder refuses them.
std::unique_ptr<ExportStaging> BeginExportStaging(int exportFd, const std::string& outDir,
                                                 const std::string& noteFolder, std::string* problem);

// The staging folder of the destination folder `relative` open as
// `destination` (taken): recorded in the manifest, made, and tried with a
// rename; -1 with *problem and errno set when the drive cannot hold it.
// The descriptor returned is the staging's own (borrowed).
int StageFolder(ExportStaging& staging, const std::string& relative, FolderFd destination, std::string* problem);
// Records `relative` as a folder the export makes inside a staging folder
// (before it is made).
bool NoteMadeFolder(ExportStaging& staging, const std::string& relative);
bool SaveManifest(ExportStaging& staging);

// Whether an entry named `name` in a staging folder (or in a folder the
// export made inside one) is of the kind the export puts there: a WAV or
// AAF file, or a writer's hidden temporary file.
bool IsOwnStagedName(const char* name);
// Removes from the folder open as `fd` every regular file IsOwnStagedName
// accepts and every folder below it whose own entries all went, by system
// calls alone (it also runs in a process forked from the program). Returns
// the number of entries left (another program's).
size_t RemoveOwnEntriesNow(int fd, int depth = 0);

// What discarding left visible: folders named "Unfinished export, <date>"
// (paths) holding another program's entries found in a staging folder.
struct DiscardResult {
    int removedFolders = 0;
    std::vector<std::string> unfinished;
};
// Removes the staging folders of `manifest` in the export folder open as
// `exportFd` and what the export put in them; a staging folder that keeps
// another program's entries is renamed to a visible "Unfinished export,
// <date>" folder. Then the control folder goes (when `control` >= 0 names
// it: its manifest and marker first). Shared by a failed export and the
// settling of one a kill interrupted.
// `held` (may be null): the destination folders a running export holds, by
// their path below the export folder, used rather than reached again.
DiscardResult DiscardStagingIn(int exportFd, const ExportManifest& manifest,
                               const std::map<std::string, int>* held = nullptr);

// A failed or stopped export: its staged files go, then its control folder
// and note. `detached`: in a process of its own, started in a session of
// its own and deaf to the signals that end this one, so that a program being
// ended does not wait on the disk; what that process cannot remove (another
// program's entries) is left for the next start to make visible.
void DiscardStaging(ExportStaging& staging, bool detached, DiscardResult* result = nullptr);

// "<what> <YYYY-MM-DD HH.MM>" of `when` (local time), with " (2)", " (3)"...
// when the folder open as `folder` has that name already.
std::string VisibleFolderName(int folder, const std::string& what, int64_t when);

void RemoveExportNote(const std::string& notePath);

// The destination folder `relative` (below the export folder open as
// `exportFd`, "" for itself), reached without following a link.
FolderFd OpenDestination(int exportFd, const std::string& relative);
