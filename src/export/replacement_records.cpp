// replacement_records.cpp — the manifest and note formats, files of the
// program's own, and settling one record below an export folder's descriptor.
//
// Index
//   Texts and records     RandomHex, EndsWith, RelativeTo, ParentOf, WriteWhole, IdentityText,
//                         ParseIdentityRecord, Record
//   Manifests and notes   ParseManifest, NoteTextOf, ParseNote, WriteNote
//   Reading and folders   ReadWhole, ExistsAt, ForEachEntry, RemoveFolderWhenEmpty, TryLock, CloseFd
//   Files the pass made   IsOwnMadeFile, IsOwnWaitingFile, PutBack
//   RemoveEntryAt
//   SettleRecord          Settler: parents reached once (held ones first), files by identity, refusals logged once
#include "export/replacement_records.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "document/text_util.h"
#include "export/bwf_writer.h"
#include "platform/file_util.h"
#include "platform/folder_beneath.h"

namespace replacement {

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

std::string IdentityText(const FileIdentity& id) {
    return std::to_string(uint64_t(id.device)) + " " + std::to_string(uint64_t(id.inode)) + " " +
           std::to_string(id.size) + " " + std::to_string(id.birth) + " c" + std::to_string(id.change) + " g" +
           std::to_string(id.generation);
}

namespace {

// "<device> <inode> <size> <birth> " at the start of `text`; the bytes read in *used.
bool ParseIdentity(const std::string& text, FileIdentity* id, int* used) {
    unsigned long long device = 0, inode = 0;
    long long size = -1, birth = 0;
    *used = 0;
    if (std::sscanf(text.c_str(), "%llu %llu %lld %lld %n", &device, &inode, &size, &birth, used) != 4 || *used <= 0)
        return false;
    // The change time follows as "c<ns>" (a manifest of an earlier version
    // has none: its identities then prove nothing).
    long long change = 0, generation = -1;
    int more = 0;
    if (size_t(*used) < text.size() && text[size_t(*used)] == 'c' &&
        std::sscanf(text.c_str() + *used, "c%lld %n", &change, &more) == 1 && more > 0)
        *used += more;
    more = 0;
    if (size_t(*used) < text.size() && text[size_t(*used)] == 'g' &&
        std::sscanf(text.c_str() + *used, "g%lld %n", &generation, &more) == 1 && more > 0)
        *used += more;
    *id = FileIdentity{dev_t(device), ino_t(inode), size, birth, change, generation};
    return true;
}

}  // namespace

bool ParseIdentityRecord(const std::string& text, FileIdentity* id, std::string* path) {
    int used = 0;
    if (!ParseIdentity(text, id, &used) || size_t(used) >= text.size()) return false;
    *path = text.substr(size_t(used));
    return true;
}

bool ParseMovedRecord(const std::string& text, size_t* index, FileIdentity* id) {
    unsigned long long i = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%llu %n", &i, &used) != 1 || used <= 0 || i >= (1u << 24)) return false;
    int rest = 0;
    if (!ParseIdentity(text.substr(size_t(used)), id, &rest)) return false;
    *index = size_t(i);
    return true;
}

std::string Record(char tag, const std::string& path) {
    std::string record(1, tag);
    record += path;
    record.push_back('\0');
    return record;
}

// ---------------------------------------------------------------------------
// Manifests and notes
// ---------------------------------------------------------------------------

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
            case 'J': {
                unsigned long long index = 0;
                int used = 0;
                FileIdentity id;
                if (!m.listed && std::sscanf(path.c_str(), "%llu %n", &index, &used) == 1 && index < (1u << 24) &&
                    ParseIdentity(path.substr(size_t(used)), &id, &used)) {
                    if (m.record.earlierIds.size() <= index) m.record.earlierIds.resize(size_t(index) + 1);
                    m.record.earlierIds[size_t(index)] = id;
                }
                break;
            }
            case 'I': {
                FileIdentity id;
                std::string made;
                if (ParseIdentityRecord(path, &id, &made)) m.record.identities[made] = id;
                break;
            }
            case 'A':
                if (!m.listed) m.record.asideTag = path;
                break;
            case 'M': {
                size_t index = 0;
                FileIdentity id;
                if (ParseMovedRecord(path, &index, &id)) {
                    if (m.record.movedIds.size() <= index) m.record.movedIds.resize(index + 1);
                    m.record.movedIds[index] = id;
                }
                break;
            }
            case 'L': m.listed = true; break;
            case 'N':
            case 'T':
            case 'D': m.record.made.push_back({tag, std::move(path)}); break;
            case 'C': m.record.succeeded = true; break;
            case 'X': m.trash = true; break;
            default: break;  // 'R' and what a later version adds
        }
    }
    return m;
}

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

bool WriteNote(const std::string& noteFolder, const std::string& text, const std::string& folder, std::string* path,
               int* fd) {
    std::error_code ec;
    std::filesystem::create_directories(noteFolder, ec);
    // Made under another name and locked before it takes its own: no other
    // program ever finds the note unlocked while this one runs.
    const std::string note = noteFolder + "/" + RandomHex(8) + kNoteExtension;
    const std::string draft = note + ".new";
    const int file = ::open(draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file >= 0 && ::flock(file, LOCK_EX) == 0 && WriteWhole(file, text) && ::fsync(file) == 0 &&
        ::rename(draft.c_str(), note.c_str()) == 0 && SyncToDisk(noteFolder)) {
        *path = note;
        *fd = file;
        return true;
    }
    std::printf("[Export] Could not note %s in %s (%s): a kill would leave it there\n", folder.c_str(),
                noteFolder.c_str(), std::strerror(errno));
    if (file >= 0) {
        ::unlink(draft.c_str());
        ::unlink(note.c_str());
        ::close(file);
    }
    return false;
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
// `name` of the export folder; then both are gone (a folder the system
// will not remove although it is empty is logged as empty, and true).
bool RemoveFolderWhenEmpty(int exportFd, const std::string& name, int folderFd) {
    bool empty = true;
    ForEachEntry(folderFd, [&empty](const std::string& entry) { empty = empty && entry == kManifestName; });
    if (!empty) return false;
    ::unlinkat(folderFd, kManifestName, 0);
    if (::unlinkat(exportFd, name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) return true;
    // Nothing is left in it: it is said as empty, never as keeping files
    // (the next export, or start, tries to remove it again).
    std::printf("[Export] The hidden folder %s is empty but could not be removed (%s)\n", name.c_str(),
                std::strerror(errno));
    return true;
}

bool TryLock(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// ---------------------------------------------------------------------------
// Files the pass made
// ---------------------------------------------------------------------------

namespace {

bool IsCompoundFile(int fd) {
    static const unsigned char kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    unsigned char head[8];
    return ::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) && std::memcmp(head, kMagic, 8) == 0;
}

}  // namespace

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
    const int fd = OpenRegularFileAt(parent, leaf);
    if (fd < 0) return false;
    struct stat opened {};
    const bool same = ::fstat(fd, &opened) == 0 && opened.st_ino == st.st_ino && opened.st_dev == st.st_dev;
    const bool own = same && (wav ? IsOwnBroadcastWavFile(fd) : IsCompoundFile(fd));
    ::close(fd);
    return own;
}

// An earlier file waiting in the hidden folder that the program wrote.
bool IsOwnWaitingFile(int folder, const std::string& name) {
    const int fd = OpenRegularFileAt(folder, name);
    if (fd < 0) return false;
    const bool own = IsOwnBroadcastWavFile(fd);
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

bool RemoveEntryAt(int parent, const std::string& name) {
    struct stat st {};
    if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return ::unlinkat(parent, name.c_str(), 0) == 0;
    FolderFd folder(::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid()) return false;
    ForEachEntry(folder.Get(), [&folder](const std::string& entry) { RemoveEntryAt(folder.Get(), entry); });
    return ::unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

namespace {

bool KnownIdentity(const FileIdentity& id) { return id.device != 0 || id.inode != 0; }

struct Settler {
    int exportFd;
    int folderFd;  // -1: no hidden folder
    const std::string& where;
    TrashTarget trash;
    const std::map<std::string, int>* held;
    const ReplacementRecord& record;
    std::string folderPath;
    bool afterKill;
    ReplacementSettled out;
    // Folders reached already, by their path below the export folder: a pass
    // makes thousands of files in a few folders.
    std::map<std::string, FolderFd> reached;
    std::set<std::string> refused;  // each refused once, however many steps meet it

    void Refuse(const char* why, const std::string& path) {
        if (!refused.insert(path).second) return;
        ++out.refused;
        std::printf("[Export] Refused a record of %s: %s (%s)\n", where.c_str(), why, path.c_str());
    }

    // The folder holding `path`: one the export still holds, else reached
    // without a link; -1 when it is not there (quietly) or cannot be reached
    // that way (refused). The descriptor returned is borrowed.
    int Parent(const std::string& path, bool create, std::string& leaf) {
        const size_t slash = path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash);
        std::vector<std::string> parts;
        if (!SplitBeneathPath(path, parts)) {
            Refuse("a place outside the export folder", path);
            return -1;
        }
        leaf = parts.back();
        if (held) {
            const auto it = held->find(folder);
            if (it != held->end() && it->second >= 0) return it->second;
        }
        auto it = reached.find(folder);
        if (it != reached.end() && it->second.Valid()) return it->second.Get();
        int error = 0;
        FolderFd parent = OpenParentBeneath(exportFd, path, create, &leaf, &error);
        if (!parent.Valid()) {
            if (error != ENOENT)
                Refuse(error == EINVAL ? "a place outside the export folder" : "a path through a link or a file",
                       path);
            return -1;
        }
        FolderFd& kept = reached[folder];
        kept = std::move(parent);
        return kept.Get();
    }

    // Whether the i-th earlier entry (at `path`) still waits under its
    // hidden name: when it does not, it is back, and what stands at its name
    // is the earlier entry, not the pass's file.
    bool EarlierWaits(const std::string& path, size_t i) {
        if (record.asideTag.empty()) return false;
        std::string leaf;
        const int parent = Parent(path, false, leaf);
        return parent >= 0 && ExistsAt(parent, AsideName(record.asideTag, i));
    }

    const FileIdentity* MadeIdentity(const std::string& path) const {
        const auto it = record.identities.find(path);
        return it == record.identities.end() ? nullptr : &it->second;
    }

    // A temporary file a writer began under a name no other file has had
    // (NewTemporaryPathFor) and left behind when it was killed: removed when
    // it is proven still the file begun there (it grew since, so its size
    // and change time moved on; its birth time or generation did not).
    void RemoveTemporary(const std::string& path, const FileIdentity& began) {
        std::string leaf;
        const int parent = Parent(path, false, leaf);
        FileIdentity there;
        if (parent < 0 || !IsTemporaryName(leaf) || !IdentityAt(parent, leaf, &there)) return;
        if (!there.GrewFrom(began)) {
            ++out.unproven;
            std::printf("[Export] %s in %s is not the temporary file the export began; left in place\n",
                        path.c_str(), where.c_str());
            return;
        }
        ::unlinkat(parent, leaf.c_str(), 0);
    }

    // A file the pass put at `path`: it goes only while the entry there is
    // proven to be that file (device, inode, size, change time, birth time).
    // Anything else at the name (another program's file, one written there
    // since, possibly given the very inode number ours had) is left in place
    // and counted.
    void RemoveMadeFile(const std::string& path) {
        std::string leaf;
        const int parent = Parent(path, false, leaf);
        FileIdentity there;
        if (parent < 0 || !IdentityAt(parent, leaf, &there)) return;
        const FileIdentity* made = MadeIdentity(path);
        // No identity in place: the pass never put a file there (it failed
        // or was stopped first), and what stands there is not its own.
        if (!made || made->size < 0) return;
        if (!there.Same(*made)) {
            ++out.foreign;
            std::printf("[Export] %s in %s is another program's file now; left in place\n",
                        path.c_str(), where.c_str());
            return;
        }
        if (trash.fd >= 0 && trash.count &&
            ::renameat(parent, leaf.c_str(), trash.fd, std::to_string(*trash.count).c_str()) == 0) {
            ++*trash.count;
            ++out.removed;
            return;
        }
        if (::unlinkat(parent, leaf.c_str(), 0) == 0) ++out.removed;
    }

    void RemoveMadeFolder(const std::string& path) {
        // The folders inside it were settled already: forget every folder
        // reached below it, and it, before it goes.
        for (auto it = reached.begin(); it != reached.end();)
            it = it->first == path || it->first.rfind(path + "/", 0) == 0 ? reached.erase(it) : std::next(it);
        std::string leaf;
        const int parent = Parent(path, false, leaf);
        struct stat st {};
        if (parent < 0 || ::fstatat(parent, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
            Refuse("a folder the export did not make", path);
            return;
        }
        ::unlinkat(parent, leaf.c_str(), AT_REMOVEDIR);  // stays when not empty
    }

    // Whether the entry at an earlier file's name is a later export's: a
    // file the program writes that this record did not make.
    bool TakenByLaterExport(int parent, const std::string& leaf, const std::string& path) const {
        FileIdentity there;
        const FileIdentity* made = MadeIdentity(path);
        return IdentityAt(parent, leaf, &there) && !(made && there.Same(*made)) && IsOwnMadeFile(parent, leaf);
    }

    // Whether the entry waiting as the i-th earlier one is proven to be it:
    // by the identity taken once it waited. Without that record (a kill
    // between the move and the record) it is the entry listed, moved once
    // since: only good enough to put it back, never to remove it.
    enum class Waiting { Gone, Proven, Moved, Unproven };
    Waiting WaitingEntry(int parent, const std::string& aside, size_t i) const {
        FileIdentity waiting;
        if (!IdentityAt(parent, aside, &waiting)) return Waiting::Gone;
        const FileIdentity moved = i < record.movedIds.size() ? record.movedIds[i] : FileIdentity{};
        if (moved.device != 0 || moved.inode != 0) return waiting.Same(moved) ? Waiting::Proven : Waiting::Unproven;
        const FileIdentity listed = i < record.earlierIds.size() ? record.earlierIds[i] : FileIdentity{};
        const bool sameEntry = KnownIdentity(listed) && waiting.device == listed.device &&
                               waiting.inode == listed.inode && waiting.birth == listed.birth &&
                               waiting.generation == listed.generation &&
                               (listed.size < 0 || waiting.size == listed.size) && listed.change != 0 &&
                               waiting.change >= listed.change;
        return sameEntry ? Waiting::Moved : Waiting::Unproven;
    }

    void Wait(const std::string& path, const std::string& aside, bool reached) {
        ++out.left;
        out.retry = true;
        const std::string at = ParentOf(path) == "." ? aside : ParentOf(path) + "/" + aside;
        if (out.leftIn.empty()) out.leftIn = where + "/" + at;
        std::printf("[Export] Could not put %s back in %s; the earlier entry waits as %s\n", path.c_str(),
                    where.c_str(), reached ? at.c_str() : (at + " (its folder cannot be reached now)").c_str());
    }

    // The i-th earlier entry, waiting in its own folder under its hidden
    // name: gone (the export kept the pass), back under its name, or left
    // there for a later try.
    void SettleEarlier(size_t i, const std::string& path, bool succeeded) {
        if (record.asideTag.empty()) return;  // nothing was set aside
        const std::string aside = AsideName(record.asideTag, i);
        std::string leaf;
        int parent = Parent(path, false, leaf);
        if (parent < 0) {
            // Its folder is gone, or is a link or unreachable for now: what
            // waits in it is settled by a later try.
            std::vector<std::string> parts;
            int error = 0;
            if (!SplitBeneathPath(path, parts)) return;  // refused, and logged so
            if (!OpenParentBeneath(exportFd, path, false, &leaf, &error).Valid() && error == ENOENT)
                return;  // the folder itself is gone: nothing waits there
            Wait(path, aside, false);
            return;
        }
        const Waiting waiting = WaitingEntry(parent, aside, i);
        if (waiting == Waiting::Gone) return;  // never moved, or settled before
        if (waiting == Waiting::Unproven) {
            ++out.unproven;
            std::printf("[Export] %s in %s is not the entry the export set aside; left in place\n", aside.c_str(),
                        where.c_str());
            return;
        }
        const bool taken = ExistsAt(parent, leaf);
        if (succeeded && waiting == Waiting::Proven && (taken || IsOwnWaitingFile(parent, aside))) {
            if (RemoveEntryAt(parent, aside)) ++out.removed;
            return;
        }
        if (!taken && PutBack(parent, aside, parent, leaf)) {
            ++out.restored;
            return;
        }
        if (taken && afterKill && waiting == Waiting::Proven && TakenByLaterExport(parent, leaf, path)) {
            // Since the kill a later export of the program wrote this name
            // (it asked, and it replaced what stood there): the earlier file
            // is one export behind.
            if (RemoveEntryAt(parent, aside)) ++out.superseded;
            std::printf("[Export] %s in %s was written again by a later export; the earlier file went\n",
                        path.c_str(), where.c_str());
            return;
        }
        Wait(path, aside, true);
    }
};

}  // namespace

ReplacementSettled SettleRecord(int exportFd, int folderFd, const ReplacementRecord& record, bool succeeded,
                                const std::string& where, bool afterKill, const TrashTarget& trash,
                                const std::map<std::string, int>* held, const std::string& folderPath) {
    Settler s{exportFd, folderFd, where, trash, held, record, folderPath, afterKill, {}, {}, {}};
    s.out.found = true;
    s.out.succeeded = succeeded;
    // A temporary file a writer left is the pass's either way.
    if (afterKill)
        for (const auto& [path, began] : record.identities)
            if (began.size < 0) s.RemoveTemporary(path, began);
    if (!succeeded) {
        // A new file under an earlier file's name is gone already when the
        // earlier file is back (the pass failed and was putting its files
        // back): what is there then is the earlier file.
        std::map<std::string, size_t> earlierAt;
        for (size_t i = 0; i < record.earlier.size(); ++i) earlierAt.emplace(record.earlier[i], i);
        std::set<std::string> done;
        for (const ReplacementRecord::Made& m : record.made) {
            if (m.tag == 'D' || !done.insert(m.path).second) continue;
            const auto earlier = earlierAt.find(m.path);
            if (earlier != earlierAt.end() && !s.EarlierWaits(m.path, earlier->second)) continue;
            s.RemoveMadeFile(m.path);
        }
    }
    for (size_t i = 0; i < record.earlier.size(); ++i) s.SettleEarlier(i, record.earlier[i], succeeded);
    if (!succeeded)
        for (auto it = record.made.rbegin(); it != record.made.rend(); ++it)
            if (it->tag == 'D') s.RemoveMadeFolder(it->path);
    return s.out;
}

}  // namespace replacement
