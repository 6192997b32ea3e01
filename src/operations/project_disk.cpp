// project_disk.cpp — the project's folder, crash lock, backups and thumbnail path.
//
// Index
//   Path pieces          ParentFolderOf, JoinPath
//   WithProjectExtension / ProjectStem / ProjectFolderPath / ThumbnailPathFor
//   Crash lock           LockFilePath, WriteCrashLock, ReadCrashLockHolder (with the
//                        process checks it needs)
//   Backups              BackupFilePath, RotateBackups, BackupCandidates, RetireBackups
//   Untitled recovery    UntitledRecoveryPath, FindCrashedUntitledRecovery
#include "operations/project_disk.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "document/text_util.h"
#include "operations/app_state.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"

namespace fs = std::filesystem;

namespace {

// "/a/b.tlproj" -> "/a"; "/b.tlproj" -> "/"; "b.tlproj" -> "".
std::string ParentFolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return std::string();
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names and folders
// ---------------------------------------------------------------------------

std::string WithProjectExtension(const std::string& path) {
    if (EndsWith(path, kProjectExtension)) return path;
    return path + kProjectExtension;
}

std::string ProjectStem(const std::string& path) {
    const std::string name = FileNameOf(path);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0) return name;
    return name.substr(0, dot);
}

std::string ProjectParentFolder(const std::string& projectPath) { return ParentFolderOf(projectPath); }

std::string ProjectFolderPath(const std::string& path) {
    const std::string parent = ParentFolderOf(path);
    const std::string stem = ProjectStem(path);
    const bool inItsFolder = stem == FileNameOf(parent);
    const std::string folder = inItsFolder ? parent : JoinPath(parent, stem);
    // Also when the file is already in its folder: a path remembered from
    // before may name a folder that has since been removed.
    std::error_code ec;
    if (!folder.empty()) fs::create_directories(folder, ec);
    return inItsFolder ? path : JoinPath(folder, FileNameOf(path));
}

std::string ThumbnailPathFor(const std::string& projectPath) {
    const size_t at = projectPath.rfind(kProjectExtension);
    if (at == std::string::npos) return projectPath + ".thumb.png";
    return projectPath.substr(0, at) + ".thumb.png";
}

// ---------------------------------------------------------------------------
// Crash lock
// ---------------------------------------------------------------------------

std::string LockFilePath(const std::string& projectPath) { return projectPath + ".lock"; }

bool LockFileExists(const std::string& projectPath) {
    return !projectPath.empty() && PathExists(LockFilePath(projectPath));
}

void WriteCrashLock(AppState& app, const std::string& projectPath) {
    const std::string lock = LockFilePath(projectPath);
    if (FILE* f = std::fopen(lock.c_str(), "w")) {
        std::fprintf(f, "pid=%d\n", static_cast<int>(::getpid()));
        std::fclose(f);
    }
    app.crashLockPath = lock;
}

namespace {

// The process name and state from /proc/<pid>/stat ("pid (name) S ...");
// false when the process is gone or its record cannot be read.
bool ReadProcessStat(const std::string& which, std::string& name, char& state) {
    FILE* f = std::fopen(("/proc/" + which + "/stat").c_str(), "r");
    if (!f) return false;
    char buffer[512];
    const size_t n = std::fread(buffer, 1, sizeof buffer, f);
    std::fclose(f);
    const std::string text(buffer, n);
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open || close + 2 >= text.size())
        return false;
    name = text.substr(open + 1, close - open - 1);
    state = text[close + 2];
    return true;
}

// Whether `pid` is a live process running this program (same process name).
// A process that exists but cannot be read counts as a copy: the lock is then
// left alone rather than a backup loaded over saved work.
bool IsRunningCopy(int pid) {
    if (pid <= 0) return false;
    if (::kill(pid, 0) != 0 && errno == ESRCH) return false;
    std::string theirs, ours;
    char theirState = 0, ourState = 0;
    if (!ReadProcessStat(std::to_string(pid), theirs, theirState)) return true;
    if (theirState == 'Z' || theirState == 'X') return false;  // ended, not yet reaped
    if (!ReadProcessStat("self", ours, ourState)) return true;
    return theirs == ours;
}

// "pid=<decimal>"; -1 when the text holds no such number.
int ParseLockPid(const std::string& text) {
    if (text.compare(0, 4, "pid=") != 0) return -1;
    long value = 0;
    size_t i = 4;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 0x7fffffff) return -1;
    }
    return i == 4 ? -1 : static_cast<int>(value);
}

}  // namespace

CrashLockHolder ReadCrashLockHolder(const std::string& projectPath) {
    if (!LockFileExists(projectPath)) return CrashLockHolder::None;
    std::string text;
    ReadFileText(LockFilePath(projectPath), 4096, text);
    const int pid = ParseLockPid(text);
    // A lock cut short was written by a process that did not get to finish it.
    if (pid < 0) return CrashLockHolder::Gone;
    if (pid == static_cast<int>(::getpid())) return CrashLockHolder::ThisProcess;
    return IsRunningCopy(pid) ? CrashLockHolder::RunningCopy : CrashLockHolder::Gone;
}

// ---------------------------------------------------------------------------
// Backups
// ---------------------------------------------------------------------------

std::string BackupFolderPath(const std::string& projectPath) {
    return JoinPath(ParentFolderOf(projectPath), "Backups");
}

std::string BackupFilePath(const std::string& projectPath, int slot) {
    const std::string suffix = ".backup" + std::to_string(slot) + kProjectExtension;
    std::string stem = ProjectStem(projectPath);
    if (stem.size() + suffix.size() > kBackupNameMax)
        stem.resize(Utf8SafeCutLength(stem, kBackupNameMax - std::min(suffix.size(), kBackupNameMax)));
    return JoinPath(BackupFolderPath(projectPath), stem + suffix);
}

bool BackupExists(const std::string& projectPath) {
    return !projectPath.empty() && PathExists(BackupFilePath(projectPath, 1));
}

void RotateBackups(const std::string& projectPath, int slots) {
    if (projectPath.empty() || slots < 1) return;
    std::error_code ec;
    fs::create_directories(BackupFolderPath(projectPath), ec);
    std::remove(BackupFilePath(projectPath, slots).c_str());
    for (int i = slots - 1; i >= 1; --i)
        std::rename(BackupFilePath(projectPath, i).c_str(), BackupFilePath(projectPath, i + 1).c_str());
}

std::string PendingBackupPath(const std::string& projectPath) { return BackupFilePath(projectPath, 1) + ".new"; }

std::vector<std::string> BackupCandidates(const std::string& projectPath) {
    std::vector<std::string> found;
    if (projectPath.empty()) return found;
    if (PathExists(PendingBackupPath(projectPath))) found.push_back(PendingBackupPath(projectPath));
    for (int slot = 1; slot <= kMaxBackupSlots; ++slot)
        if (PathExists(BackupFilePath(projectPath, slot))) found.push_back(BackupFilePath(projectPath, slot));
    return found;
}

int RetireBackups(const std::string& projectPath) {
    int retired = 0;
    for (const std::string& backup : BackupCandidates(projectPath))
        if (std::remove(backup.c_str()) == 0) ++retired;
    if (retired > 0) std::printf("[AutoSave] Retired %d backup%s of %s\n", retired, retired == 1 ? "" : "s",
                                 projectPath.c_str());
    return retired;
}

bool BackupWrittenAfter(const std::string& backup, const std::string& projectPath) {
    struct stat sa {}, sb {};
    if (::stat(backup.c_str(), &sa) != 0 || ::stat(projectPath.c_str(), &sb) != 0) return false;
    if (sa.st_mtim.tv_sec != sb.st_mtim.tv_sec) return sa.st_mtim.tv_sec > sb.st_mtim.tv_sec;
    return sa.st_mtim.tv_nsec > sb.st_mtim.tv_nsec;
}

// ---------------------------------------------------------------------------
// Untitled recovery
// ---------------------------------------------------------------------------

namespace {

constexpr const char kUntitledPrefix[] = "Untitled-";

// The process id in "Untitled-<pid>.tlproj"; -1 for any other name.
int UntitledRecoveryPid(const std::string& name) {
    const std::string prefix = kUntitledPrefix;
    const std::string suffix = kProjectExtension;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return -1;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoi(digits);
}

}  // namespace

std::string UntitledRecoveryFolder() {
    const std::string data = AppDataDir();
    return data.empty() ? std::string() : JoinPath(data, "Recovery");
}

std::string UntitledRecoveryPath() {
    const std::string folder = UntitledRecoveryFolder();
    if (folder.empty()) return folder;
    return JoinPath(folder, kUntitledPrefix + std::to_string(::getpid()) + kProjectExtension);
}

std::string FindCrashedUntitledRecovery() {
    const std::string folder = UntitledRecoveryFolder();
    std::error_code ec;
    if (folder.empty() || !fs::is_directory(folder, ec)) return std::string();
    std::string newest;
    fs::file_time_type newestTime{};
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const int pid = UntitledRecoveryPid(entry.path().filename().string());
        if (pid < 0 || !entry.is_regular_file(ec)) continue;
        // Its process still runs: that copy of the program keeps it.
        if (pid != static_cast<int>(::getpid()) && IsRunningCopy(pid)) continue;
        const fs::file_time_type written = entry.last_write_time(ec);
        if (ec) continue;
        if (newest.empty() || written > newestTime) {
            newest = entry.path().string();
            newestTime = written;
        }
    }
    return newest;
}
