// project_disk.h — the files that belong to an open project besides its
// project file: the folder a save puts it in, the crash lock, the rotating
// backups and the thumbnail.
//
// Index
//   kProjectExtension / kBackupNameMax
//   WithProjectExtension    ".tlproj" appended when the path does not end with it
//   ProjectFolderPath       where a save writes: a folder named after the file's stem
//   ProjectStem             the file name without its last extension
//   ProjectParentFolder     the folder the project file lies in
//   ThumbnailPathFor        the path up to its last ".tlproj", then ".thumb.png"
//   LockFilePath / LockFileExists / WriteCrashLock
//   CrashLockHolder / ReadCrashLockHolder   who wrote a lock: this process, a running copy, or nobody alive
//   BackupFolderPath / BackupFilePath / BackupExists / RotateBackups
//   PendingBackupPath / BackupCandidates    the backup being moved into slot 1, and every backup newest first
//   RetireBackups           a save, a discard or a close: the backups no longer count
//   BackupWrittenAfter      the old rule for backups that do not name the save they extend
//   UntitledRecoveryFolder / UntitledRecoveryPath / FindCrashedUntitledRecovery
//                           the never-saved project's backup in the program's data folder
//
// Paths are UTF-8 with '/' separators; the folder of a project is the parent
// folder of its file. Nothing here reports a failure to the user: callers
// decide. UI thread (the lock's owner is the application state).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AppState;

inline constexpr const char* kProjectExtension = ".tlproj";

// Longest file name a backup gets: the system's 255 bytes less the 8 of the
// temporary names written beside it (".new" while an autosave is written,
// ".tmp" while that file is replaced), so every name of a backup fits.
constexpr size_t kBackupNameMax = 255 - 8;

std::string WithProjectExtension(const std::string& path);

// The stem of the file is compared, byte for byte, with the name of its
// parent folder: equal gives the path unchanged; otherwise
// <parent>/<stem>/<file name> is returned. The folder returned is created
// when missing (a failure is ignored).
std::string ProjectFolderPath(const std::string& path);

std::string ProjectStem(const std::string& path);

// "/a/b.tlproj" -> "/a"; "b.tlproj" -> "".
std::string ProjectParentFolder(const std::string& projectPath);

std::string ThumbnailPathFor(const std::string& projectPath);

// path + ".lock"
std::string LockFilePath(const std::string& projectPath);
bool LockFileExists(const std::string& projectPath);
// Writes "pid=<this process>\n" to the lock (replacing it); when it cannot
// be written nothing is. Either way `crashLockPath` names the lock.
void WriteCrashLock(AppState& app, const std::string& projectPath);

enum class CrashLockHolder {
    None,         // no lock
    ThisProcess,  // written by this process (a revert, a reopen)
    RunningCopy,  // another copy of the program that still runs holds it
    Gone,         // its process ended (or the lock names no process we can read)
};
CrashLockHolder ReadCrashLockHolder(const std::string& projectPath);

// <folder>/Backups
std::string BackupFolderPath(const std::string& projectPath);
// <folder>/Backups/<stem>.backup<slot>.tlproj; a stem too long for
// kBackupNameMax is cut at a character boundary, the suffix never.
std::string BackupFilePath(const std::string& projectPath, int slot);
// Whether backup slot 1 exists.
bool BackupExists(const std::string& projectPath);
// Nothing for an empty path or slots < 1. Otherwise creates the Backups
// folder, deletes slot `slots` and moves slot i to i + 1 for i = slots-1
// down to 1, replacing what is there. Every failure is ignored.
void RotateBackups(const std::string& projectPath, int slots);

// Slots a backup can have: the preference "maxBackups" goes up to 50.
constexpr int kMaxBackupSlots = 50;

// Slot 1's path with ".new": an autosave writes its backup here whole, then
// rotates the slots and moves it into slot 1. A kill in between leaves it
// here, complete, with slot 1 empty.
std::string PendingBackupPath(const std::string& projectPath);

// The backups that exist, newest first: the pending one, then slots 1 to
// kMaxBackupSlots (a lower "maxBackups" may have left higher slots).
std::vector<std::string> BackupCandidates(const std::string& projectPath);

// Deletes every backup of the project (the pending one and all slots): the
// work they hold was saved, or thrown away by the user. Their collected audio
// stays for the next backups. Returns how many files went.
int RetireBackups(const std::string& projectPath);

// Whether `backup` was last written after the project file (both must
// exist): how a backup that does not name the save it extends is judged.
bool BackupWrittenAfter(const std::string& backup, const std::string& projectPath);

// A project that was never saved has one backup, in the program's data
// folder: <AppDataDir>/Recovery/Untitled-<process id>.tlproj. Empty when
// there is no data folder.
std::string UntitledRecoveryFolder();
std::string UntitledRecoveryPath();
// The newest of those files whose process is gone (or has this process's
// id: it is left from before this start); a running copy's is its own.
// Empty when there is none.
std::string FindCrashedUntitledRecovery();
