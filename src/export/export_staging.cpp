// export_staging.cpp — the export's control folder, staging folders and
// their removal.
//
// Index
//   Begin            BeginExportStaging, SaveManifest, StageFolder (with its rename probe), NoteMadeFolder
//   Own entries      IsOwnStagedName, RemoveOwnEntriesNow (getdents64, no allocation)
//   Discard          DiscardStagingIn, DiscardStaging, CloseAllBut (the detached process)
//   Names and notes  VisibleFolderName, RemoveExportNote
#include "export/export_staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "export/write_fault.h"
#include "platform/file_util.h"

// ---------------------------------------------------------------------------
// Begin
// ---------------------------------------------------------------------------

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

FolderFd MakeNoteFolder(const std::string& noteFolder) {
    std::vector<std::string> parts;
    std::string at;
    for (size_t i = 1; i <= noteFolder.size(); ++i)
        if (i == noteFolder.size() || noteFolder[i] == '/') {
            at = noteFolder.substr(0, i);
            ::mkdir(at.c_str(), 0777);  // each may exist
        }
    return FolderFd(::open(noteFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

}  // namespace

bool SaveManifest(ExportStaging& staging) {
    if (WriteDurablyAt(staging.control.Get(), kManifestFileName, ManifestJson(staging.manifest))) return true;
    std::printf("[Export] Could not write the export's manifest in %s (%s)\n", staging.outDir.c_str(),
                std::strerror(errno));
    return false;
}

std::unique_ptr<ExportStaging> BeginExportStaging(int exportFd, const std::string& outDir,
                                                 const std::string& noteFolder, std::string* problem) {
    auto staging = std::make_unique<ExportStaging>();
    staging->outDir = outDir;
    staging->exportFd = exportFd;
    staging->manifest.token = NewExportToken();
    staging->manifest.exportFolder = outDir;
    staging->manifest.started = int64_t(std::time(nullptr));
    const std::string& token = staging->manifest.token;
    // The note comes first: a kill from here on is found by the next start.
    if (!noteFolder.empty()) {
        FolderFd notes = MakeNoteFolder(noteFolder);
        if (notes.Valid() && WriteDurablyAt(notes.Get(), token + ".json", NoteJson({outDir, token})))
            staging->notePath = noteFolder + "/" + token + ".json";
        else
            std::printf("[Export] Could not note the export in %s (%s): the next export into %s settles it if "
                        "it is cut short\n",
                        noteFolder.c_str(), std::strerror(errno), outDir.c_str());
    }
    const std::string control = ControlName(token);
    if (::mkdirat(exportFd, control.c_str(), 0777) != 0) {
        const int error = errno;
        // A full FAT drive through FUSE refuses the folder yet leaves its
        // entry: the name is the token's, so nothing else can stand there.
        ::unlinkat(exportFd, control.c_str(), AT_REMOVEDIR);
        NoteWriteFailure(outDir + "/" + control, error, true);
        if (problem) *problem = std::strerror(error);
        RemoveExportNote(staging->notePath);
        errno = error;
        return nullptr;
    }
    staging->control = FolderFd(::openat(exportFd, control.c_str(), kFolderFlags));
    if (!staging->control.Valid() || !SaveManifest(*staging)) {
        const int error = errno;
        NoteWriteFailure(outDir + "/" + control, error, true);
        if (problem) *problem = std::strerror(error);
        if (staging->control.Valid()) ::unlinkat(staging->control.Get(), kManifestFileName, 0);
        ::unlinkat(exportFd, control.c_str(), AT_REMOVEDIR);
        RemoveExportNote(staging->notePath);
        errno = error;
        return nullptr;
    }
    return staging;
}

bool NoteMadeFolder(ExportStaging& staging, const std::string& relative) {
    std::lock_guard<std::mutex> lock(staging.mutex);
    staging.manifest.made.push_back(relative);
    return SaveManifest(staging);
}

namespace {

// The staging folder and its destination can hold the commit's moves: a
// file made in the staging folder is moved into the destination and back
// without replacing anything. The error of the step that failed, else 0.
int ProbeRenames(int staging, int destination) {
    const std::string first = NewTemporaryPathFor("probe"), second = NewTemporaryPathFor("probe");
    const int fd = ::openat(staging, first.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return errno;
    ::close(fd);
    int error = 0;
    if (!MoveWithoutReplacing(staging, first, destination, second)) {
        error = errno;
        ::unlinkat(staging, first.c_str(), 0);
        return error;
    }
    if (!MoveWithoutReplacing(destination, second, staging, first)) {
        error = errno;
        ::unlinkat(destination, second.c_str(), 0);
        return error;
    }
    ::unlinkat(staging, first.c_str(), 0);
    return 0;
}

}  // namespace

int StageFolder(ExportStaging& staging, const std::string& relative, FolderFd destination, std::string* problem) {
    std::lock_guard<std::mutex> lock(staging.mutex);
    const std::string shown = relative.empty() ? staging.outDir : staging.outDir + "/" + relative;
    auto fail = [&](int error, const std::string& sentence) {
        // Named as the folder made in the destination: the destination is
        // the folder that refused it.
        NoteWriteFailure(shown + "/" + StagingName(staging.manifest.token), error, true, sentence);
        if (problem) *problem = sentence;
        errno = error;
        return -1;
    };
    // Recorded before it is made: a folder carrying the token that the
    // manifest names is the export's own.
    staging.manifest.staging.push_back(relative);
    const std::string name = StagingName(staging.manifest.token);
    if (!SaveManifest(staging)) return fail(errno, "");
    if (::mkdirat(destination.Get(), name.c_str(), 0777) != 0) {
        const int error = errno;
        ::unlinkat(destination.Get(), name.c_str(), AT_REMOVEDIR);  // as above: a refused folder may stand
        return fail(error, "");
    }
    FolderFd folder(::openat(destination.Get(), name.c_str(), kFolderFlags));
    if (!folder.Valid()) return fail(errno, "");
    if (const int error = ProbeRenames(folder.Get(), destination.Get())) {
        // A drive that cannot rename without replacing (nor at all): said as
        // what the drive lacks, not as the folder's permissions.
        std::printf("[Export] %s is on a drive that cannot rename files without replacing them (%s)\n",
                    shown.c_str(), std::strerror(error));
        ::unlinkat(destination.Get(), name.c_str(), AT_REMOVEDIR);
        return fail(error, "the drive of the folder cannot rename files (" + std::string(std::strerror(error)) + ")");
    }
    ExportStaging::Destination& d = staging.destinations[relative];
    d.folder = std::move(destination);
    d.staging = std::move(folder);
    return d.staging.Get();
}

// ---------------------------------------------------------------------------
// Own entries
// ---------------------------------------------------------------------------

namespace {

bool EndsWithText(const char* name, size_t length, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return length > n && std::memcmp(name + length - n, suffix, n) == 0;
}

}  // namespace

bool IsOwnStagedName(const char* name) {
    const size_t length = std::strlen(name);
    if (EndsWithText(name, length, ".wav") || EndsWithText(name, length, ".aaf")) return true;
    // The writers' hidden temporary names: ".tessaloom-" 16 hex ".tmp".
    if (length != 31 || std::memcmp(name, ".tessaloom-", 11) != 0 || std::memcmp(name + 27, ".tmp", 4) != 0)
        return false;
    for (size_t i = 11; i < 27; ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))) return false;
    return true;
}

size_t RemoveOwnEntriesNow(int fd, int depth) {
    struct LinuxDirent {
        unsigned long long ino;
        long long off;
        unsigned short reclen;
        unsigned char type;
        char name[1];
    };
    alignas(8) char buffer[8192];
    size_t left = 0;
    // Scanned again until a scan removes nothing: removing entries while a
    // folder is read may hide some from that read.
    for (bool removed = true; removed;) {
        removed = false;
        left = 0;
        if (::lseek(fd, 0, SEEK_SET) != 0) return 1;
        for (;;) {
            const long n = ::syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            if (n <= 0) break;
            for (long at = 0; at < n;) {
                const auto* e = reinterpret_cast<const LinuxDirent*>(buffer + at);
                at += e->reclen;
                const char* name = e->name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
                struct stat st {};
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                if (S_ISREG(st.st_mode) && IsOwnStagedName(name)) {
                    if (::unlinkat(fd, name, 0) == 0) removed = true;
                    else ++left;
                } else if (S_ISDIR(st.st_mode) && depth < 4) {
                    const int inner = ::openat(fd, name, kFolderFlags);
                    const size_t innerLeft = inner >= 0 ? RemoveOwnEntriesNow(inner, depth + 1) : 1;
                    if (inner >= 0) ::close(inner);
                    if (innerLeft == 0 && ::unlinkat(fd, name, AT_REMOVEDIR) == 0) removed = true;
                    else ++left;
                } else {
                    ++left;
                }
            }
        }
    }
    return left;
}

// ---------------------------------------------------------------------------
// Discard
// ---------------------------------------------------------------------------

namespace {

void RemoveControl(int exportFd, const std::string& token) {
    const std::string name = ControlName(token);
    FolderFd control(::openat(exportFd, name.c_str(), kFolderFlags));
    if (control.Valid()) {
        ::unlinkat(control.Get(), kCommittedFileName, 0);
        ::unlinkat(control.Get(), kManifestFileName, 0);
        RemoveOwnEntriesNow(control.Get());  // a manifest's temporary a kill left
    }
    ::unlinkat(exportFd, name.c_str(), AT_REMOVEDIR);
    ::fsync(exportFd);
}

}  // namespace

DiscardResult DiscardStagingIn(int exportFd, const ExportManifest& manifest,
                               const std::map<std::string, int>* held) {
    DiscardResult result;
    const std::string name = StagingName(manifest.token);
    for (const std::string& relative : manifest.staging) {
        const auto it = held ? held->find(relative) : std::map<std::string, int>::const_iterator();
        FolderFd destination = held && it != held->end() ? FolderFd(::fcntl(it->second, F_DUPFD_CLOEXEC, 0))
                                                          : OpenDestination(exportFd, relative);
        if (!destination.Valid()) continue;  // gone with what was in it
        FolderFd folder(::openat(destination.Get(), name.c_str(), kFolderFlags));
        if (!folder.Valid()) continue;
        RemoveOwnEntriesNow(folder.Get());
        if (::unlinkat(destination.Get(), name.c_str(), AT_REMOVEDIR) == 0) {
            ++result.removedFolders;
            continue;
        }
        // Another program's entries: kept, and in sight.
        const std::string visible = VisibleFolderName(destination.Get(), "Unfinished export,", manifest.started);
        if (MoveWithoutReplacing(destination.Get(), name, destination.Get(), visible)) {
            const std::string where = manifest.exportFolder + (relative.empty() ? "" : "/" + relative);
            result.unfinished.push_back(where + "/" + visible);
            std::printf("[Export] Another program's entries found among the export's own were kept in %s/%s\n",
                        where.c_str(), visible.c_str());
        }
    }
    RemoveControl(exportFd, manifest.token);
    return result;
}

namespace {

// In the removing process: everything it inherited goes but the descriptors
// it needs, so that it holds no window, socket or device of the program.
void CloseAllBut(const std::vector<int>& keep) {
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0)
        for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    int highest = 2;
    for (int fd : keep) highest = fd > highest ? fd : highest;
    for (int fd = 3; fd <= highest + 1; ++fd) {
        bool kept = false;
        for (int k : keep) kept = kept || k == fd;
        if (!kept) ::close(fd);
    }
    ::close_range(unsigned(highest + 1), ~0u, 0);
}

}  // namespace

void DiscardStaging(ExportStaging& staging, bool detached, DiscardResult* result) {
    if (!detached) {
        std::map<std::string, int> held;
        for (const auto& [relative, d] : staging.destinations) held[relative] = d.folder.Get();
        DiscardResult r = DiscardStagingIn(staging.exportFd, staging.manifest, &held);
        RemoveExportNote(staging.notePath);
        staging.destinations.clear();
        if (result) *result = std::move(r);
        return;
    }
    // Everything the removing process reads is made before it starts: it
    // runs forked from a program with threads, where nothing may be allocated.
    std::vector<int> keep = {staging.exportFd, staging.control.Get()};
    std::vector<std::pair<int, int>> folders;
    for (auto& [relative, d] : staging.destinations) {
        folders.emplace_back(d.folder.Get(), d.staging.Get());
        keep.push_back(d.folder.Get());
        keep.push_back(d.staging.Get());
    }
    const std::string name = StagingName(staging.manifest.token);
    const std::string control = ControlName(staging.manifest.token);
    const char* note = staging.notePath.c_str();
    std::fflush(stdout);
    const pid_t first = ::fork();
    if (first == 0) {
        ::setsid();
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (int signal : {SIGHUP, SIGINT, SIGTERM}) ::sigaction(signal, &ignore, nullptr);
        if (::fork() == 0) {
            CloseAllBut(keep);
            bool whole = true;
            for (const auto& [destination, folder] : folders) {
                RemoveOwnEntriesNow(folder);
                if (::unlinkat(destination, name.c_str(), AT_REMOVEDIR) != 0) whole = false;
            }
            // Another program's entries stay with the manifest that names
            // them: the next start makes them visible.
            if (whole) {
                ::unlinkat(keep[1], kManifestFileName, 0);
                RemoveOwnEntriesNow(keep[1]);
                ::unlinkat(keep[0], control.c_str(), AT_REMOVEDIR);
                if (note[0] != '\0') ::unlink(note);
            }
        }
        ::_exit(0);
    }
    if (first < 0) {
        DiscardStaging(staging, false, result);
        return;
    }
    while (::waitpid(first, nullptr, 0) < 0 && errno == EINTR) {
    }
    std::printf("[Export] The stopped export's files are being removed by a process of their own\n");
    staging.destinations.clear();
}

// ---------------------------------------------------------------------------
// Names and notes
// ---------------------------------------------------------------------------

std::string VisibleFolderName(int folder, const std::string& what, int64_t when) {
    const time_t t = time_t(when);
    struct tm local {};
    char date[32] = "";
    if (::localtime_r(&t, &local)) std::strftime(date, sizeof date, "%Y-%m-%d %H.%M", &local);
    const std::string base = what + " " + date;
    std::string name = base;
    struct stat st {};
    for (int n = 2; ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && n < 1000; ++n)
        name = base + " (" + std::to_string(n) + ")";
    return name;
}

FolderFd OpenDestination(int exportFd, const std::string& relative) {
    std::vector<std::string> parts;
    if (relative.empty()) return FolderFd(::fcntl(exportFd, F_DUPFD_CLOEXEC, 0));
    if (!SplitBeneathPath(relative, parts)) return FolderFd();
    return OpenFolderBeneath(exportFd, parts, parts.size(), false);
}

void RemoveExportNote(const std::string& notePath) {
    if (!notePath.empty()) ::unlink(notePath.c_str());
}
