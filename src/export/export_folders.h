// export_folders.h — the folders one export writes in, opened once and held
// for its whole run, and the lock that keeps every other export out of the
// export folder meanwhile.
//
// Index
//   ExportFolders          the export folder (locked) and each folder below it the export writes in
//   OpenExportFolders      make and open the export folder (its parents too)
//   TryLockExportFolders / WaitForExportFolders   one export per folder, across programs
//   kWaitingForFolderText  the status line while another export holds the folder
//   PrepareExportFolder    make or open a folder below the export folder, held from then on
//   HeldFolderFor          the held folder a file of the export is written in
//   RemoveExportFile       a file the pass made and gives up again
//   RemoveFoldersMadeAbove(Now)   the export folder and the parents an export made for it, when empty
//
// A delivery folder is often shared: another copy of the program, a sync
// tool or another user may work in it while an export runs. So an export
// takes an exclusive lock (flock) on a descriptor of its folder for its whole
// run; the kernel lets it go when the process dies, so a kill leaves no lock
// behind. A second export into a locked folder, from this program or another
// copy of it, waits for it; settling an export a kill interrupted acts
// only under the same lock. Every folder below the export folder is opened
// once (O_DIRECTORY | O_NOFOLLOW, from its parent's descriptor) and every
// file the export makes, renames or removes is reached from that descriptor:
// a folder swapped for a link after it was opened changes nothing outside
// it, and a file the export writes lands in the folder it opened or fails.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/export_staging.h"
#include "platform/file_util.h"
#include "platform/folder_beneath.h"

struct ExportJob;
struct ExportRollback;

inline constexpr const char* kWaitingForFolderText = "Waiting for another export into this folder";

struct ExportFolders {
    std::string outDir;
    FolderFd root;     // the export folder
    bool locked = false;
    // A test's seam that every file made in a held folder meets (each held
    // folder carries it); null in the program.
    FileFaultHook fileFault = nullptr;
    // Folders made to reach the export folder (absolute, oldest first): an
    // export that leaves nothing behind removes them again when empty.
    std::vector<std::string> madeAbove;
    // The export's token, control folder and staging folders, once it holds
    // the lock (BeginStaging): every file of the export is made in them.
    std::unique_ptr<ExportStaging> staging;
    // Begins the staging (the note in `noteFolder`, the control folder, the
    // manifest) and stages the export folder itself; false (noted as the
    // write failure) when the folder or its drive refuses.
    bool BeginStaging(const std::string& noteFolder);

    ExportFolders() = default;
    ExportFolders(const ExportFolders&) = delete;
    ExportFolders& operator=(const ExportFolders&) = delete;

    // The held folder of `path` (the export folder or one below it, as the
    // export names it), or null when the export holds no such folder.
    const HeldFolder* Find(const std::string& path) const;
    // Holds `fd` as the folder `relative` below the export folder ("" is the
    // export folder); the one held already wins.
    const HeldFolder* Hold(const std::string& relative, FolderFd fd);
    // Every held folder by its path below the export folder ("" for itself).
    std::map<std::string, int> Relative() const;
    // Tells the hook of every file made in a held folder.
    void SetMadeHook(std::function<void(const std::string& path, const FileIdentity& identity)> hook);
    // Removes the file the export made at `path`, when the entry there is
    // still that file (by its identity); false when it is not, or is gone.
    bool RemoveMade(const std::string& path);

private:
    struct Held {
        FolderFd fd;
        HeldFolder folder;
    };
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<Held>> held_;  // by relative path
    std::function<void(const std::string&, const FileIdentity&)> madeHook_;
    std::map<std::string, FileIdentity> made_;  // every file made, by path
    void Made(const std::string& path, const FileIdentity& identity);
};

// Opens `outDir`, making it and its missing parents first when `create`
// (each noted in madeAbove). The export folder is the user's choice and may
// be reached through a link; everything below it is not. Null (logged) when
// it cannot be made or opened. `fault` becomes the folders' fileFault.
std::shared_ptr<ExportFolders> OpenExportFolders(const std::string& outDir, bool create,
                                                 FileFaultHook fault = nullptr);

// Takes the folder's lock without waiting; true when this export holds it.
bool TryLockExportFolders(ExportFolders& folders);
// Takes the lock, waiting while another export holds it: `waiting` is
// called once when it has to wait, and the wait ends when `stop` is raised.
// True once the lock is held.
bool WaitForExportFolders(ExportFolders& folders, const std::atomic<bool>* stop,
                          const std::function<void()>& waiting);

// The folder `path` for the export's files: with the job's held folders,
// the folder the files of `path` are staged in. A component below the
// export folder that exists gets a staging folder of its own (same drive);
// one that does not is made inside its parent's staging folder (recorded in
// the manifest first) and moves into place whole at the commit; each is
// opened without following a link and held until the export ends. A
// component that is a link or a file is refused (logged). Without held
// folders (a pass run on its own) the folder is made by path
// (MakeExportFolder). False when it cannot be had.
bool PrepareExportFolder(const ExportJob& job, const std::string& path, ExportRollback& rollback);

// The held folder that a file at `path` of the job's export is made in;
// null for a job that holds no folders (files go by their path). A folder
// the job does not hold gives a folder no file can be made in: nothing is
// ever written by path once the export holds its folders.
const HeldFolder* HeldFolderFor(const ExportJob& job, const std::string& path);

// Removes a file the export made and no longer wants (an essence no clip
// uses, a session file that failed): through the held folder and only while
// it is still the file made, or by its path for a job that holds no folders.
void RemoveExportFile(const ExportJob& job, const std::string& path);

// The folders made at and above the export folder (`madeAbove`, outermost
// first, ending with the export folder `exportFd` when that was made too),
// newest first: each is reached from the one below it through "..", and
// removed only while its name there still names that very folder and it is
// empty. The first that stays keeps every one above it.
void RemoveFoldersMadeAbove(int exportFd, const std::vector<std::string>& madeAbove);
// The same walk over the last component of each (`leaves`, outermost
// first), by system calls alone: it also runs in a process forked from the
// program, where nothing may be allocated.
void RemoveFoldersMadeAboveNow(int exportFd, const char* const* leaves, size_t count);
