// replacement_journal.cpp — the record of a pass, its note in the data
// folder, and settling it through descriptors.
//
// Index
//   Texts and records     RandomHex, RelativeTo, Record, AppendRecord, ParseManifest, note texts
//   Reading and folders   ReadWhole, ExistsAt, ForEachEntry, RemoveFolderWhenEmpty
//   Files the pass made   IsOwnMadeFile, IsOwnWaitingFile, PutBack
//   SettleRecord          undo or finish a record below the export folder's descriptor
//   Journal               OpenReplacementJournal, SetAsideEarlierFile, RemoveUntouchedOwnFile,
//                         NoteMade, NoteSucceeded, SettleJournal
//   Noted replacements    SettleNoted, SettleReplacementsIn, SettleNotedReplacements
#include "export/replacement_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <system_error>

#include "export/bwf_writer.h"
#include "platform/file_util.h"
#include "platform/folder_beneath.h"

namespace {

constexpr const char* kManifestName = "manifest";
constexpr const char* kManifestHeader = "Tessaloom replacement 1\n";
constexpr const char* kNoteExtension = ".replacing";
// 5,000 earlier files of 200-byte paths and as many new ones take 2 MB.
constexpr uint64_t kMaxManifestBytes = uint64_t(256) << 20;
constexpr uint64_t kMaxNoteBytes = 1 << 16;

// ---------------------------------------------------------------------------
// Texts and records
// ---------------------------------------------------------------------------

std::string RandomHex(size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    FillRandomBytes(raw.data(), raw.size());
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : raw) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 15]);
    }
    return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Every path an export makes lies in its folder; one that does not is
// stored absolute and never settled (SplitBeneathPath refuses it).
std::string RelativeTo(const std::string& folder, const std::string& path) {
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    if (!prefix.empty() && path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
        return path.substr(prefix.size());
    return "/" + path;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool WriteWhole(int fd, const std::string& bytes) {
    const char* at = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        left -= size_t(n);
    }
    return true;
}

std::string Record(char tag, const std::string& path) {
    std::string record(1, tag);
    record += path;
    record.push_back('\0');
    return record;
}

// Into the record in memory, and, with one write on a descriptor opened for
// appending, into the manifest: a kill leaves whole records behind, and at
// worst a torn last one, which the reader drops.
void AppendRecord(ReplacementJournal& journal, char tag, const std::string& path) {
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (tag == 'C') journal.record.succeeded = true;
    else journal.record.made.push_back({tag, path});
    if (journal.manifestFd < 0) return;
    if (!WriteWhole(journal.manifestFd, Record(tag, path))) {
        std::printf("[Export] Could not add to the manifest in %s (%s)\n", journal.folder.c_str(),
                    std::strerror(errno));
        ::close(journal.manifestFd);
        journal.manifestFd = -1;
    }
}

struct Manifest {
    bool readable = false;  // the header was there
    bool listed = false;    // the earlier files were all written (L)
    std::string token;
    ReplacementRecord record;
};

Manifest ParseManifest(const std::string& text) {
    Manifest m;
    const size_t header = std::strlen(kManifestHeader);
    if (text.compare(0, header, kManifestHeader) != 0) return m;
    m.readable = true;
    for (size_t at = header; at < text.size();) {
        const size_t end = text.find('\0', at);
        if (end == std::string::npos) break;  // a record the kill tore
        const char tag = text[at];
        std::string path = text.substr(at + 1, end - at - 1);
        at = end + 1;
        switch (tag) {
            case 'K': m.token = path; break;
            case 'E':  // the i-th E is "<i>"
                if (!m.listed) m.record.earlier.push_back(std::move(path));
                break;
            case 'L': m.listed = true; break;
            case 'N':
            case 'T':
            case 'D': m.record.made.push_back({tag, std::move(path)}); break;
            case 'C': m.record.succeeded = true; break;
            default: break;  // 'R' and what a later version adds
        }
    }
    return m;
}

// The note: the hidden folder's path on the first line (all a note of an
// earlier version holds), then "token <hex>" and "export <device> <inode>".
struct NoteText {
    std::string folder;
    std::string token;
    bool hasExport = false;
    dev_t device = 0;
    ino_t inode = 0;
};

std::string NoteTextOf(const std::string& folder, const std::string& token, const struct stat& exportStat) {
    return folder + "\ntoken " + token + "\nexport " + std::to_string(uint64_t(exportStat.st_dev)) + " " +
           std::to_string(uint64_t(exportStat.st_ino)) + "\n";
}

bool ParseNote(const std::string& text, NoteText& note) {
    size_t at = 0;
    bool first = true;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first) {
            note.folder = line;
            first = false;
        } else if (line.rfind("token ", 0) == 0) {
            note.token = line.substr(6);
        } else if (line.rfind("export ", 0) == 0) {
            unsigned long long device = 0, inode = 0;
            if (std::sscanf(line.c_str() + 7, "%llu %llu", &device, &inode) == 2) {
                note.hasExport = true;
                note.device = dev_t(device);
                note.inode = ino_t(inode);
            }
        }
    }
    const size_t slash = note.folder.find_last_of('/');
    return slash != std::string::npos && note.folder.compare(slash + 1, std::strlen(kReplacingFolderPrefix),
                                                             kReplacingFolderPrefix) == 0;
}

// ---------------------------------------------------------------------------
// Reading and folders
// ---------------------------------------------------------------------------

bool ReadWhole(int fd, uint64_t maxBytes, std::string& out) {
    out.clear();
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > maxBytes) return false;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.append(buffer, size_t(n));
        if (out.size() > maxBytes) return false;
    }
}

bool ExistsAt(int folder, const std::string& name) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// Each entry's name in the folder open as `folder` ("." and ".." left out).
void ForEachEntry(int folder, const std::function<void(const std::string&)>& each) {
    const int fd = ::dup(folder);
    if (fd < 0) return;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    ::rewinddir(dir);
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : names) each(name);
}

// True when nothing but (perhaps) the manifest is left in the hidden folder
// `name` of the export folder; then both are gone.
bool RemoveFolderWhenEmpty(int exportFd, const std::string& name, int folderFd) {
    bool empty = true;
    ForEachEntry(folderFd, [&empty](const std::string& entry) { empty = empty && entry == kManifestName; });
    if (!empty) return false;
    ::unlinkat(folderFd, kManifestName, 0);
    return ::unlinkat(exportFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT;
}

bool TryLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

// ---------------------------------------------------------------------------
// Files the pass made
// ---------------------------------------------------------------------------

bool IsCompoundFile(int fd) {
    static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    unsigned char head[8];
    return ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) && std::memcmp(head, kMagic, 8) == 0;
}

// A file a pass of this program makes: a regular file of this user with a
// single name, which is a broadcast WAV the program wrote or a compound
// (AAF) file. Looked at before it is opened, and opened without following
// a link or waiting.
bool IsOwnMadeFile(int parent, const std::string& leaf) {
    struct stat st {};
    if (::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid() || st.st_nlink != 1)
        return false;
    const bool wav = EndsWith(leaf, ".wav"), aaf = EndsWith(leaf, ".aaf");
    if (!wav && !aaf) return false;
    const int fd = ::openat(parent, leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat opened {};
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev;
    const bool own = same && (wav ? IsOwnBroadcastWavFile(fd) : IsCompoundFile(fd));
    ::close(fd);
    return own;
}

// An earlier file waiting in the hidden folder that the program wrote.
bool IsOwnWaitingFile(int folder, const std::string& name) {
    const int fd = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool own = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && IsOwnBroadcastWavFile(fd);
    ::close(fd);
    return own;
}

// Moves `name` of the hidden folder to `leaf` of `parent` unless something
// stands there.
bool PutBack(int folder, const std::string& name, int parent, const std::string& leaf) {
    if (::renameat2(folder, name.c_str(), parent, leaf.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the flag: looked at just before the move.
    if (ExistsAt(parent, leaf)) return false;
    return ::renameat(folder, name.c_str(), parent, leaf.c_str()) == 0;
}

// ---------------------------------------------------------------------------
// SettleRecord
// ---------------------------------------------------------------------------

struct Settler {
    int exportFd;
    int folderFd;  // -1: no hidden folder
    const std::string& where;
    ReplacementSettled out;

    void Refuse(const char* why, const std::string& path) {
        ++out.refused;
        std::printf("[Export] Refused a record of %s: %s (%s)\n", where.c_str(), why, path.c_str());
    }

    // The folder holding `path`, reached without a link; invalid when it is
    // not there (quietly) or cannot be reached that way (refused).
    FolderFd Parent(const std::string& path, bool create, std::string& leaf) {
        int error = 0;
        FolderFd parent = OpenParentBeneath(exportFd, path, create, &leaf, &error);
        if (!parent.Valid() && error != ENOENT)
            Refuse(error == EINVAL ? "a place outside the export folder" : "a path through a link or a file", path);
        return parent;
    }

    // What a writer left beside a file it was making.
    void RemoveTemporary(const std::string& path) {
        std::string leaf;
        FolderFd parent = Parent(path, false, leaf);
        if (!parent.Valid()) return;
        const std::string tmp = leaf + ".tmp";
        struct stat st {};
        if (::fstatat(parent.Get(), tmp.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            ::unlinkat(parent.Get(), tmp.c_str(), 0);  // a link goes itself, never what it names
    }

    void RemoveMadeFile(const std::string& path) {
        std::string leaf;
        FolderFd parent = Parent(path, false, leaf);
        if (!parent.Valid() || !ExistsAt(parent.Get(), leaf)) return;
        if (!IsOwnMadeFile(parent.Get(), leaf)) {
            Refuse("a file the export did not make", path);
            return;
        }
        if (::unlinkat(parent.Get(), leaf.c_str(), 0) == 0) ++out.removed;
    }

    void RemoveMadeFolder(const std::string& path) {
        std::string leaf;
        FolderFd parent = Parent(path, false, leaf);
        struct stat st {};
        if (!parent.Valid() || ::fstatat(parent.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
            Refuse("a folder the export did not make", path);
            return;
        }
        ::unlinkat(parent.Get(), leaf.c_str(), AT_REMOVEDIR);  // stays when not empty
    }

    // The i-th earlier file, waiting as "<i>": gone, back, or left.
    void SettleEarlier(size_t i, const std::string& path, bool succeeded) {
        const std::string name = std::to_string(i);
        struct stat st {};
        if (folderFd < 0 || ::fstatat(folderFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;  // not moved
        if (!S_ISREG(st.st_mode)) {
            Refuse("an earlier file that is not a file", name);
            return;
        }
        std::string leaf;
        FolderFd parent = Parent(path, false, leaf);
        const bool taken = parent.Valid() && ExistsAt(parent.Get(), leaf);
        if (succeeded && (taken || IsOwnWaitingFile(folderFd, name))) {
            if (::unlinkat(folderFd, name.c_str(), 0) == 0) ++out.removed;
            return;
        }
        if (!taken) {
            if (!parent.Valid()) parent = Parent(path, true, leaf);  // a folder removed since, by hand
            if (parent.Valid() && PutBack(folderFd, name, parent.Get(), leaf)) {
                ++out.restored;
                return;
            }
        }
        ++out.left;
        std::printf("[Export] Could not put %s back in %s; the earlier file waits in its hidden folder as %s\n",
                    path.c_str(), where.c_str(), name.c_str());
    }
};

// Finishes or undoes `record` below the export folder `exportFd`, the
// earlier files waiting in `folderFd` (-1 when none were set aside).
ReplacementSettled SettleRecord(int exportFd, int folderFd, const ReplacementRecord& record, bool succeeded,
                                const std::string& where) {
    Settler s{exportFd, folderFd, where, {}};
    s.out.found = true;
    s.out.succeeded = succeeded;
    // A temporary file a writer left is the pass's either way.
    for (const ReplacementRecord::Made& m : record.made)
        if (m.tag != 'D') s.RemoveTemporary(m.path);
    if (!succeeded) {
        // A new file under an earlier file's name is gone already when the
        // earlier file is back (the pass failed and was putting its files
        // back): what is there then is the earlier file.
        std::map<std::string, size_t> earlierAt;
        for (size_t i = 0; i < record.earlier.size(); ++i) earlierAt.emplace(record.earlier[i], i);
        for (const ReplacementRecord::Made& m : record.made) {
            if (m.tag != 'N') continue;
            const auto earlier = earlierAt.find(m.path);
            if (earlier != earlierAt.end() && (folderFd < 0 || !ExistsAt(folderFd, std::to_string(earlier->second))))
                continue;
            s.RemoveMadeFile(m.path);
        }
    }
    for (size_t i = 0; i < record.earlier.size(); ++i) s.SettleEarlier(i, record.earlier[i], succeeded);
    if (!succeeded)
        for (auto it = record.made.rbegin(); it != record.made.rend(); ++it)
            if (it->tag == 'D') s.RemoveMadeFolder(it->path);
    return s.out;
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

// ---------------------------------------------------------------------------
// Journal
// ---------------------------------------------------------------------------

ReplacementJournal::~ReplacementJournal() {
    CloseFd(manifestFd);
    CloseFd(noteFd);
    CloseFd(folderFd);
    CloseFd(exportFd);
}

namespace {

// The note, written, locked and forced to disk before anything else of the
// replacement exists; false (nothing left) when it could not be.
bool WriteNote(ReplacementJournal& journal, const std::string& noteFolder, const std::string& token,
               const struct stat& exportStat) {
    std::error_code ec;
    std::filesystem::create_directories(noteFolder, ec);
    // Made under another name and locked before it takes its own: no other
    // program ever finds the note unlocked while this one runs.
    journal.note = noteFolder + "/" + RandomHex(8) + kNoteExtension;
    const std::string draft = journal.note + ".new";
    const int fd = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && WriteWhole(fd, NoteTextOf(journal.folder, token, exportStat)) &&
        ::fsync(fd) == 0 && ::rename(draft.c_str(), journal.note.c_str()) == 0 && SyncToDisk(noteFolder)) {
        journal.noteFd = fd;
        return true;
    }
    std::printf("[Export] Could not note the replacement in %s (%s): a kill would leave the earlier files in %s\n",
                noteFolder.c_str(), std::strerror(errno), journal.folder.c_str());
    if (fd >= 0) {
        ::unlink(draft.c_str());
        ::unlink(journal.note.c_str());
        ::close(fd);
    }
    journal.note.clear();
    return false;
}

void RemoveNote(ReplacementJournal& journal) {
    if (!journal.note.empty()) ::unlink(journal.note.c_str());
    journal.note.clear();
    CloseFd(journal.noteFd);
}

}  // namespace

std::unique_ptr<ReplacementJournal> OpenReplacementJournal(const std::string& exportFolder,
                                                          const std::vector<std::string>& earlier,
                                                          const std::string& noteFolder) {
    auto journal = std::make_unique<ReplacementJournal>();
    journal->exportFolder = exportFolder;
    for (const std::string& path : earlier) journal->record.earlier.push_back(RelativeTo(exportFolder, path));
    if (earlier.empty()) return journal;

    journal->exportFd = ::open(exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat exportStat {};
    if (journal->exportFd < 0 || ::fstat(journal->exportFd, &exportStat) != 0) {
        std::printf("[Export] Cannot open %s (%s): the earlier files are replaced in place\n", exportFolder.c_str(),
                    std::strerror(errno));
        return journal;
    }
    const std::string token = RandomHex(16);
    const std::string name = kReplacingFolderPrefix + token.substr(0, 12);
    journal->folder = exportFolder + "/" + name;

    // The note comes first: whatever stops the program from here on, the
    // next start finds the folder through it (an empty one goes).
    if (!noteFolder.empty()) WriteNote(*journal, noteFolder, token, exportStat);
    if (::mkdirat(journal->exportFd, name.c_str(), 0700) != 0 ||
        (journal->folderFd = ::openat(journal->exportFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW |
                                                                          O_CLOEXEC)) < 0) {
        std::printf("[Export] Cannot make %s (%s): the earlier files are replaced in place\n",
                    journal->folder.c_str(), std::strerror(errno));
        RemoveNote(*journal);
        journal->folder.clear();
        return journal;
    }

    // The whole list is one write, forced to disk with the folders that
    // name it before the first file moves: whatever stops the program from
    // then on, the numbered files never lose their names.
    std::string text = kManifestHeader;
    text += Record('K', token);
    if (!journal->note.empty()) text += Record('R', journal->note);
    for (const std::string& path : journal->record.earlier) text += Record('E', path);
    text += Record('L', "");
    const int fd = ::openat(journal->folderFd, kManifestName,
                            O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && WriteWhole(fd, text) && ::fsync(fd) == 0 &&
        ::fsync(journal->folderFd) == 0 && ::fsync(journal->exportFd) == 0) {
        journal->manifestFd = fd;
    } else {
        std::printf("[Export] Could not write the manifest in %s (%s): a kill now would leave the earlier "
                    "files there without their names\n",
                    journal->folder.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        ::unlinkat(journal->folderFd, kManifestName, 0);
        RemoveNote(*journal);
    }
    return journal;
}

bool SetAsideEarlierFile(ReplacementJournal& journal, size_t i) {
    if (journal.folderFd < 0 || i >= journal.record.earlier.size()) {
        errno = ENOENT;
        return false;
    }
    std::string leaf;
    int error = 0;
    FolderFd parent = OpenParentBeneath(journal.exportFd, journal.record.earlier[i], false, &leaf, &error);
    struct stat st {};
    if (!parent.Valid()) {
        errno = error;
        return false;
    }
    if (::fstatat(parent.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    return ::renameat(parent.Get(), leaf.c_str(), journal.folderFd, std::to_string(i).c_str()) == 0;
}

bool RemoveUntouchedOwnFile(ReplacementJournal& journal, const std::string& path, dev_t device, ino_t inode) {
    if (journal.exportFd < 0) journal.exportFd = ::open(journal.exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::string leaf;
    FolderFd parent = OpenParentBeneath(journal.exportFd, RelativeTo(journal.exportFolder, path), false, &leaf);
    struct stat st {};
    if (!parent.Valid() || ::fstatat(parent.Get(), leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        st.st_dev != device || st.st_ino != inode || !S_ISREG(st.st_mode) || !IsOwnWaitingFile(parent.Get(), leaf))
        return false;
    return ::unlinkat(parent.Get(), leaf.c_str(), 0) == 0;
}

void NoteMade(ReplacementJournal& journal, const std::string& path, bool isFolder) {
    const std::string relative = RelativeTo(journal.exportFolder, path);
    if (isFolder && relative[0] == '/') {
        std::lock_guard<std::mutex> lock(journal.mutex);
        journal.madeAbove.push_back(path);
        return;
    }
    struct stat st {};
    const char tag = isFolder ? 'D' : ::lstat(path.c_str(), &st) == 0 ? 'T' : 'N';
    AppendRecord(journal, tag, relative);
}

void NoteSucceeded(ReplacementJournal& journal) {
    {
        std::lock_guard<std::mutex> lock(journal.mutex);
        if (journal.record.succeeded) return;  // noted once
    }
    AppendRecord(journal, 'C', "");
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (journal.manifestFd >= 0) ::fsync(journal.manifestFd);
}

ReplacementSettled SettleJournal(ReplacementJournal& journal, bool succeeded) {
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (journal.settled) return {};
    journal.settled = true;
    if (journal.exportFd < 0) journal.exportFd = ::open(journal.exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ReplacementSettled settled;
    if (journal.exportFd >= 0) {
        settled = SettleRecord(journal.exportFd, journal.folderFd, journal.record, succeeded, journal.exportFolder);
    } else if (!journal.record.made.empty() || !journal.record.earlier.empty()) {
        std::printf("[Export] Cannot open %s (%s): nothing of the pass was settled\n", journal.exportFolder.c_str(),
                    std::strerror(errno));
    }
    // The export folder and its parents the pass made, newest first; each
    // stays when anything is in it.
    if (!succeeded)
        for (auto it = journal.madeAbove.rbegin(); it != journal.madeAbove.rend(); ++it) ::rmdir(it->c_str());
    // The manifest stays beside files that could not go back: it names them.
    if (journal.folderFd >= 0 &&
        !RemoveFolderWhenEmpty(journal.exportFd, FileNameOf(journal.folder), journal.folderFd))
        std::printf("[Export] %s keeps earlier files that could not go back; its manifest names them\n",
                    journal.folder.c_str());
    RemoveNote(journal);
    CloseFd(journal.manifestFd);  // the lock goes last
    CloseFd(journal.folderFd);
    return settled;
}

// ---------------------------------------------------------------------------
// Noted replacements
// ---------------------------------------------------------------------------

namespace {

// Settles the replacement a note names in the export folder open as
// `exportFd`. *keepNote is set while a running program holds it.
ReplacementSettled SettleNoted(const NoteText& note, int exportFd, bool* keepNote) {
    ReplacementSettled settled;
    const std::string name = FileNameOf(note.folder);
    const std::string where = ParentOf(note.folder);
    FolderFd folder(::openat(exportFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid()) {
        if (errno != ENOENT)
            std::printf("[Export] %s is not the folder this program made (%s); left as it is\n", note.folder.c_str(),
                        std::strerror(errno));
        return settled;
    }
    FolderFd manifest(::openat(folder.Get(), kManifestName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (manifest.Valid() && !TryLock(manifest.Get())) {
        settled.running = true;
        *keepNote = true;
        return settled;
    }
    std::string text;
    const Manifest m = manifest.Valid() && ReadWhole(manifest.Get(), kMaxManifestBytes, text) ? ParseManifest(text)
                                                                                             : Manifest();
    if (!m.readable || !m.listed) {
        // No moves happen before the list is whole on disk: a folder with
        // a torn list (or none yet) holds nothing else. Anything else without
        // a list is not ours to guess at.
        if (!RemoveFolderWhenEmpty(exportFd, name, folder.Get()))
            std::printf("[Export] %s holds files without a manifest; left as it is\n", note.folder.c_str());
        return settled;
    }
    if (!note.token.empty() && m.token != note.token) {
        std::printf("[Export] %s does not hold the manifest this program wrote; left as it is\n", note.folder.c_str());
        return settled;
    }
    settled = SettleRecord(exportFd, folder.Get(), m.record, m.record.succeeded, where);
    if (!RemoveFolderWhenEmpty(exportFd, name, folder.Get()))
        std::printf("[Export] %s keeps earlier files that could not go back; its manifest names them\n",
                    note.folder.c_str());
    std::printf("[Export] Interrupted replacement in %s %s: %d earlier files put back, %d files removed\n",
                where.c_str(), m.record.succeeded ? "finished" : "undone", settled.restored, settled.removed);
    return settled;
}

// One note of the data folder, locked while it is read and acted on.
struct HeldNote {
    std::string path;
    FolderFd fd;  // any descriptor; closed (and unlocked) with the note
    NoteText text;
    bool held = false;  // locked by us: no running program holds the replacement
    bool valid = false;
};

HeldNote HoldNote(const std::string& path) {
    HeldNote note;
    note.path = path;
    note.fd = FolderFd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!note.fd.Valid() || ::fstat(note.fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return note;
    note.held = TryLock(note.fd.Get());
    // A note its program removed while we waited for it is over.
    if (!note.held || ::fstat(note.fd.Get(), &st) != 0 || st.st_nlink == 0) {
        note.held = false;
        return note;
    }
    std::string text;
    note.valid = ReadWhole(note.fd.Get(), kMaxNoteBytes, text) && ParseNote(text, note.text);
    return note;
}

std::vector<std::string> NotesIn(const std::string& noteFolder) {
    std::vector<std::string> notes;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(noteFolder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == kNoteExtension) notes.push_back(it->path().string());
    return notes;
}

// Whether the note's export folder is the one open as `exportFd`.
bool NotesFolder(const NoteText& note, const struct stat& exportStat) {
    if (note.hasExport) return note.device == exportStat.st_dev && note.inode == exportStat.st_ino;
    struct stat st {};
    return ::stat(ParentOf(note.folder).c_str(), &st) == 0 && st.st_dev == exportStat.st_dev &&
           st.st_ino == exportStat.st_ino;
}

}  // namespace

ReplacementsLeftAlone SettleReplacementsIn(const std::string& exportFolder, const std::string& noteFolder) {
    ReplacementsLeftAlone result;
    FolderFd exportFd(::open(exportFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat exportStat {};
    if (!exportFd.Valid() || ::fstat(exportFd.Get(), &exportStat) != 0) return result;
    if (!noteFolder.empty())
        for (const std::string& path : NotesIn(noteFolder)) {
            HeldNote note = HoldNote(path);
            if (!note.held || !note.valid || !NotesFolder(note.text, exportStat)) continue;
            bool keepNote = false;
            const ReplacementSettled settled = SettleNoted(note.text, exportFd.Get(), &keepNote);
            if (keepNote) continue;
            ::unlink(path.c_str());
            result.settled += settled.found ? 1 : 0;
        }
    ForEachEntry(exportFd.Get(), [&](const std::string& name) {
        if (name.rfind(kReplacingFolderPrefix, 0) != 0) return;
        ++result.leftAlone;
        std::printf("[Export] %s/%s is not a replacement of this program that has ended; left as it is\n",
                    exportFolder.c_str(), name.c_str());
    });
    return result;
}

void SettleNotedReplacements(const std::string& noteFolder) {
    if (noteFolder.empty()) return;
    // A note a kill stopped before it took its name holds nothing yet.
    std::error_code ec;
    for (std::filesystem::directory_iterator it(noteFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string draft = it->path().string();
        if (!EndsWith(draft, std::string(kNoteExtension) + ".new")) continue;
        const HeldNote held = HoldNote(draft);
        if (held.held) ::unlink(draft.c_str());
    }
    for (const std::string& path : NotesIn(noteFolder)) {
        HeldNote note = HoldNote(path);
        if (!note.held) continue;  // a running program's
        if (!note.valid) {
            std::printf("[Export] %s is not a note of a replacement; removed\n", path.c_str());
            ::unlink(path.c_str());
            continue;
        }
        FolderFd exportFd(::open(ParentOf(note.text.folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat exportStat {};
        if (!exportFd.Valid() || ::fstat(exportFd.Get(), &exportStat) != 0) {
            // Its export folder is gone; one that cannot be reached now (a
            // drive not mounted) is settled by a later start.
            if (errno == ENOENT || errno == ENOTDIR) ::unlink(path.c_str());
            continue;
        }
        if (!NotesFolder(note.text, exportStat)) {
            std::printf("[Export] %s now holds another folder than the one noted; the note stays for it\n",
                        ParentOf(note.text.folder).c_str());
            continue;
        }
        bool keepNote = false;
        SettleNoted(note.text, exportFd.Get(), &keepNote);
        if (!keepNote) ::unlink(path.c_str());
    }
}
