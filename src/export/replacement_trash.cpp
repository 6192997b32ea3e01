// replacement_trash.cpp — the trash of a stopped export and its removal.
//
// Index
//   ~ReplacementTrash / OpenReplacementTrash
//   FoldersAfterLeaves    the folders to remove after the trash, once each, outermost first
//   RemoveTrashNow        the removal itself: system calls only, safe in a forked process
//   CloseAllBut           the removing process lets go of everything the program held
//   EmptyTrash / EmptyTrashDetached
#include "export/replacement_trash.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "export/export_folders.h"
#include "export/replacement_records.h"
#include "platform/file_util.h"

using namespace replacement;

ReplacementTrash::~ReplacementTrash() {
    CloseFd(manifestFd);
    CloseFd(noteFd);
    CloseFd(folderFd);
    CloseFd(exportFd);
}

std::unique_ptr<ReplacementTrash> OpenReplacementTrash(const std::string& exportFolder,
                                                      const std::string& noteFolder, int exportFd) {
    auto trash = std::make_unique<ReplacementTrash>();
    trash->exportFolder = exportFolder;
    // A copy of the held descriptor shares its lock: the process that empties
    // the trash keeps other exports out of the folder until it is done.
    trash->exportFd = exportFd >= 0 ? ::fcntl(exportFd, F_DUPFD_CLOEXEC, 0)
                                    : ::open(exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat exportStat {};
    if (trash->exportFd < 0 || ::fstat(trash->exportFd, &exportStat) != 0) return nullptr;
    const std::string token = RandomHex(16);
    trash->name = kReplacingFolderPrefix + token.substr(0, 12);
    const std::string folder = exportFolder + "/" + trash->name;
    if (!noteFolder.empty() &&
        !WriteNote(noteFolder, NoteTextOf(folder, token, exportStat), folder, &trash->note, &trash->noteFd))
        trash->note.clear();
    if (::mkdirat(trash->exportFd, trash->name.c_str(), 0700) != 0 ||
        (trash->folderFd = ::openat(trash->exportFd, trash->name.c_str(),
                                    O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) < 0) {
        if (!trash->note.empty()) ::unlink(trash->note.c_str());
        return nullptr;
    }
    const std::string text = std::string(kManifestHeader) + Record('K', token) +
                             (trash->note.empty() ? std::string() : Record('R', trash->note)) + Record('X', "");
    const int fd = ::openat(trash->folderFd, kManifestName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::flock(fd, LOCK_EX) != 0 || !WriteWhole(fd, text) || ::fsync(fd) != 0 ||
        ::fsync(trash->folderFd) != 0) {
        // Without its manifest nothing may move in: nothing could say what it is.
        if (fd >= 0) ::close(fd);
        ::unlinkat(trash->folderFd, kManifestName, 0);
        ::unlinkat(trash->exportFd, trash->name.c_str(), AT_REMOVEDIR);
        if (!trash->note.empty()) ::unlink(trash->note.c_str());
        return nullptr;
    }
    trash->manifestFd = fd;
    return trash;
}

namespace {

// The last component of each folder of foldersAfter, outermost first and
// once each: the export and each of its passes that made them name the
// same chain down to the export folder.
std::vector<std::string> FoldersAfterLeaves(const ReplacementTrash& trash) {
    std::vector<std::string> paths = trash.foldersAfter;
    std::sort(paths.begin(), paths.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    for (std::string& path : paths) path = FileNameOf(path);
    return paths;
}

std::vector<const char*> Pointers(const std::vector<std::string>& texts) {
    std::vector<const char*> pointers;
    for (const std::string& text : texts) pointers.push_back(text.c_str());
    return pointers;
}

// Everything of the trash goes. Only system calls and memory prepared by the
// caller: it also runs in a process forked from a program with threads.
size_t RemoveTrashNow(int folderFd, size_t count, int exportFd, const char* name, const char* note,
                      const char* const* after, size_t afterCount) {
    size_t removed = 0;
    for (size_t k = 0; k < count; ++k) {
        char number[24];
        size_t n = sizeof number;
        number[--n] = '\0';
        size_t v = k;
        do {
            number[--n] = char('0' + v % 10);
            v /= 10;
        } while (v > 0 && n > 0);
        if (::unlinkat(folderFd, number + n, 0) == 0) ++removed;
    }
    ::unlinkat(folderFd, kManifestName, 0);
    ::unlinkat(exportFd, name, AT_REMOVEDIR);
    if (note[0] != '\0') ::unlink(note);
    RemoveFoldersMadeAboveNow(exportFd, after, afterCount);
    return removed;
}

// In the removing process: everything it inherited goes but the trash's
// descriptors (whose locks it keeps), so that it holds no window, socket,
// pipe or device of the program it came from; its standard streams are
// /dev/null. System calls only.
void CloseAllBut(const int* keep, size_t count) {
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0)
        for (int fd = 0; fd < 3; ++fd) ::dup2(null, fd);
    int sorted[8];
    size_t n = 0;
    for (size_t i = 0; i < count && n < 8; ++i)
        if (keep[i] >= 3) sorted[n++] = keep[i];
    for (size_t i = 1; i < n; ++i)
        for (size_t j = i; j > 0 && sorted[j - 1] > sorted[j]; --j) std::swap(sorted[j - 1], sorted[j]);
    unsigned from = 3;
    for (size_t i = 0; i <= n; ++i) {
        const unsigned to = i < n ? unsigned(sorted[i]) : ~0u;
        if (to > from && ::close_range(from, to - 1, 0) != 0)
            for (unsigned fd = from; fd < to && fd < 65536; ++fd) ::close(int(fd));
        if (i < n) from = unsigned(sorted[i]) + 1;
    }
}

}  // namespace

void EmptyTrash(ReplacementTrash& trash) {
    const std::vector<std::string> leaves = FoldersAfterLeaves(trash);
    const std::vector<const char*> after = Pointers(leaves);
    const size_t removed = RemoveTrashNow(trash.folderFd, trash.count, trash.exportFd, trash.name.c_str(),
                                          trash.note.c_str(), after.data(), after.size());
    std::printf("[Export] The stopped export's %zu new files removed\n", removed);
    CloseFd(trash.manifestFd);
    CloseFd(trash.noteFd);
    CloseFd(trash.folderFd);
}

void EmptyTrashDetached(ReplacementTrash& trash) {
    // Everything the removing process reads is made before it starts.
    const std::vector<std::string> leaves = FoldersAfterLeaves(trash);
    const std::vector<const char*> after = Pointers(leaves);
    std::fflush(stdout);
    const pid_t first = ::fork();
    if (first == 0) {
        // A session of its own, deaf to the end of this one; the second
        // process does the work, so that no one has to wait for it.
        ::setsid();
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (int signal : {SIGHUP, SIGINT, SIGTERM}) ::sigaction(signal, &ignore, nullptr);
        if (::fork() == 0) {
            const int keep[] = {trash.folderFd, trash.exportFd, trash.manifestFd, trash.noteFd};
            CloseAllBut(keep, 4);
            RemoveTrashNow(trash.folderFd, trash.count, trash.exportFd, trash.name.c_str(), trash.note.c_str(),
                           after.data(), after.size());
        }
        ::_exit(0);
    }
    if (first < 0) {
        EmptyTrash(trash);
        return;
    }
    while (::waitpid(first, nullptr, 0) < 0 && errno == EINTR) {
    }
    std::printf("[Export] The stopped export's %zu new files are being removed by a process of their own\n",
                trash.count);
    // The removing process holds its own copies of the descriptors, and so
    // the locks, until it is done.
    CloseFd(trash.manifestFd);
    CloseFd(trash.noteFd);
    CloseFd(trash.folderFd);
}
