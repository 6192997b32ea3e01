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
//   BackupRecovery / CheckBackupRecovery    whether opening a project should load its newest backup
//
// Paths are UTF-8 with '/' separators; the folder of a project is the parent
// folder of its file. Nothing here reports a failure to the user: callers
// decide. UI thread (the lock's owner is the application state).
#pragma once

#include <cstdint>
#include <string>

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

// Opening a project loads backup slot 1 instead of the file only after a
// real crash: a lock that no live process holds, and a backup written after
// the file. A lock of this process (a revert) or of a running copy, or an
// older backup (a crash soon after a save), keeps the saved file.
struct BackupRecovery {
    CrashLockHolder holder = CrashLockHolder::None;
    bool backupFound = false;
    bool backupNewer = false;
    bool recover = false;
};
BackupRecovery CheckBackupRecovery(const std::string& projectPath);
