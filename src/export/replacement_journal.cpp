// replacement_journal.cpp — the manifest of a replacing pass, the note in the
// data folder, and settling a replacement that was interrupted.
//
// Index
//   Paths and records    RelativeTo, Resolve, AppendRecord, Manifest, ReadManifest, RemoveNote
//   Journal              OpenReplacementJournal, NoteMade, NoteSucceeded, CloseReplacementJournal
//   Settling             SettleReplacement, SettleReplacementsIn, SettleNotedReplacements
#include "export/replacement_journal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "export/export_replacement.h"
#include "platform/file_util.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kManifestName = "manifest";
constexpr const char* kManifestHeader = "Tessaloom replacement 1\n";
constexpr const char* kNoteExtension = ".replacing";
// 5,000 earlier files of 200-byte paths and as many new ones take 2 MB.
constexpr uint64_t kMaxManifestBytes = uint64_t(256) << 20;

// ---------------------------------------------------------------------------
// Paths and records
// ---------------------------------------------------------------------------

// Every path an export makes lies in its folder; one that does not is
// stored as it is and never settled (Resolve refuses it).
std::string RelativeTo(const std::string& folder, const std::string& path) {
    const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    if (!prefix.empty() && path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0)
        return path.substr(prefix.size());
    return "/" + path;
}

// A stored path inside the export folder, or "" for one that would lead
// out of it: a manifest is a file in a folder anyone may have written to,
// and settling moves and removes what it names.
std::string Resolve(const std::string& folder, const std::string& stored) {
    if (stored.empty() || stored[0] == '/') return std::string();
    for (size_t at = 0; at <= stored.size();) {
        const size_t end = std::min(stored.find('/', at), stored.size());
        const std::string part = stored.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") return std::string();
        at = end + 1;
    }
    return folder.empty() || folder.back() == '/' ? folder + stored : folder + "/" + stored;
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

// One write per record, on a descriptor opened for appending: a kill leaves
// whole records behind, and at worst a torn last one, which the reader drops.
void AppendRecord(ReplacementJournal& journal, char tag, const std::string& path) {
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (journal.fd < 0) return;
    if (!WriteWhole(journal.fd, Record(tag, path))) {
        std::printf("[Export] Could not add to the manifest in %s (%s)\n", journal.folder.c_str(),
                    std::strerror(errno));
        ::close(journal.fd);
        journal.fd = -1;
    }
}

struct Manifest {
    bool readable = false;  // the header was there
    bool listed = false;    // the earlier files were all written (L)
    bool succeeded = false;  // C
    std::string note;
    std::vector<std::string> earlier;  // absolute
    std::vector<std::string> made, madeOver, folders;
};

Manifest ReadManifest(const std::string& folder, const std::string& exportFolder) {
    Manifest m;
    std::string text;
    if (ReadFileText(folder + "/" + kManifestName, kMaxManifestBytes, text) != kReadOk) return m;
    const size_t header = std::strlen(kManifestHeader);
    if (text.compare(0, header, kManifestHeader) != 0) return m;
    m.readable = true;
    for (size_t at = header; at < text.size();) {
        const size_t end = text.find('\0', at);
        if (end == std::string::npos) break;  // a record the kill tore
        const char tag = text[at];
        const std::string path = text.substr(at + 1, end - at - 1);
        at = end + 1;
        const std::string resolved = Resolve(exportFolder, path);
        switch (tag) {
            case 'R': m.note = path; break;
            case 'E':  // kept when refused: the i-th E is "<i>"
                if (!m.listed) m.earlier.push_back(resolved);
                break;
            case 'L': m.listed = true; break;
            case 'N': m.made.push_back(resolved); break;
            case 'T': m.madeOver.push_back(resolved); break;
            case 'D': m.folders.push_back(resolved); break;
            case 'C': m.succeeded = true; break;
            default: break;
        }
    }
    return m;
}

// The note of the replacement in `folder`: only a note that names the
// folder is removed, whatever the manifest says.
void RemoveNote(const std::string& note, const std::string& folder) {
    if (note.size() <= std::strlen(kNoteExtension) ||
        note.compare(note.size() - std::strlen(kNoteExtension), std::string::npos, kNoteExtension) != 0)
        return;
    std::string text;
    if (ReadFileText(note, 1 << 16, text) != kReadOk) return;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text == folder) ::unlink(note.c_str());
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

// True when nothing but (perhaps) the manifest is left in the folder; then
// both are gone.
bool RemoveEmptyReplacingFolder(const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename() != kManifestName) return false;
    ::unlink((folder + "/" + kManifestName).c_str());
    return ::rmdir(folder.c_str()) == 0 || errno == ENOENT;
}

}  // namespace

// ---------------------------------------------------------------------------
// Journal
// ---------------------------------------------------------------------------

ReplacementJournal::~ReplacementJournal() {
    if (fd >= 0) ::close(fd);
}

std::unique_ptr<ReplacementJournal> OpenReplacementJournal(const std::string& exportFolder,
                                                          const std::vector<std::string>& earlier,
                                                          const std::string& noteFolder) {
    std::string pattern = exportFolder + "/" + kReplacingFolderPrefix + "XXXXXX";
    if (!::mkdtemp(pattern.data())) return nullptr;
    auto journal = std::make_unique<ReplacementJournal>();
    journal->exportFolder = exportFolder;
    journal->folder = pattern;
    if (!noteFolder.empty()) {
        uint64_t id = 0;
        FillRandomBytes(&id, sizeof id);
        char name[32];
        std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(id));
        journal->note = noteFolder + "/" + name + kNoteExtension;
    }

    // The whole list is one write, forced to disk with the folders that
    // name it before the first file moves: whatever stops the program from
    // then on, the numbered files never lose their names.
    std::string text = kManifestHeader;
    if (!journal->note.empty()) text += Record('R', journal->note);
    for (const std::string& path : earlier) text += Record('E', RelativeTo(exportFolder, path));
    text += Record('L', "");
    const std::string manifest = journal->folder + "/" + kManifestName;
    const int fd = ::open(manifest.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
    if (fd >= 0 && WriteWhole(fd, text) && ::fsync(fd) == 0 && SyncToDisk(journal->folder) &&
        SyncToDisk(exportFolder)) {
        journal->fd = fd;
    } else {
        std::printf("[Export] Could not write the manifest in %s (%s): a kill now would leave the earlier "
                    "files there without their names\n",
                    journal->folder.c_str(), std::strerror(errno));
        if (fd >= 0) ::close(fd);
        ::unlink(manifest.c_str());
        journal->note.clear();
        return journal;
    }

    if (!journal->note.empty()) {
        std::error_code ec;
        fs::create_directories(noteFolder, ec);
        if (!WriteTextFileAtomic(journal->note, journal->folder + "\n")) {
            std::printf("[Export] Could not note the replacement in %s; the next export to %s settles it\n",
                        noteFolder.c_str(), exportFolder.c_str());
            journal->note.clear();
        }
    }
    return journal;
}

void NoteMade(ReplacementJournal& journal, const std::string& path, bool isFolder) {
    const char tag = isFolder ? 'D' : Exists(path) ? 'T' : 'N';
    AppendRecord(journal, tag, RelativeTo(journal.exportFolder, path));
}

void NoteSucceeded(ReplacementJournal& journal) {
    AppendRecord(journal, 'C', "");
    std::lock_guard<std::mutex> lock(journal.mutex);
    if (journal.fd >= 0) ::fsync(journal.fd);
}

void CloseReplacementJournal(ReplacementJournal& journal) {
    {
        std::lock_guard<std::mutex> lock(journal.mutex);
        if (journal.fd >= 0) ::close(journal.fd);
        journal.fd = -1;
    }
    // The manifest stays beside files that could not go back: it names them.
    if (!journal.folder.empty() && !RemoveEmptyReplacingFolder(journal.folder))
        std::printf("[Export] %s keeps earlier files that could not go back; its manifest names them\n",
                    journal.folder.c_str());
    if (!journal.note.empty()) ::unlink(journal.note.c_str());
}

// ---------------------------------------------------------------------------
// Settling
// ---------------------------------------------------------------------------

ReplacementSettled SettleReplacement(const std::string& folder) {
    ReplacementSettled settled;
    const std::string exportFolder = ParentOf(folder);
    const Manifest m = ReadManifest(folder, exportFolder);
    if (!m.readable || !m.listed) {
        // No moves happen before the list is whole on disk: a folder with
        // a torn list holds nothing else. Anything else without a list is
        // not ours to guess at.
        if (!RemoveEmptyReplacingFolder(folder))
            std::printf("[Export] %s holds files without a manifest; left as it is\n", folder.c_str());
        RemoveNote(m.note, folder);
        return settled;
    }
    settled.found = true;
    settled.succeeded = m.succeeded;

    // A temporary file a writer left is the pass's either way.
    for (const std::vector<std::string>* list : {&m.made, &m.madeOver})
        for (const std::string& path : *list)
            if (!path.empty()) ::unlink((path + ".tmp").c_str());
    if (!m.succeeded) {
        // A new file under an earlier file's name is gone already when the
        // earlier file is back (the pass failed and was putting its files
        // back): what is there then is the earlier file.
        std::map<std::string, size_t> earlierAt;
        for (size_t i = 0; i < m.earlier.size(); ++i) earlierAt.emplace(m.earlier[i], i);
        for (const std::string& path : m.made) {
            const auto earlier = earlierAt.find(path);
            if (path.empty() || (earlier != earlierAt.end() && !Exists(folder + "/" + std::to_string(earlier->second))))
                continue;
            if (::unlink(path.c_str()) == 0) ++settled.removed;
        }
    }
    for (size_t i = 0; i < m.earlier.size(); ++i) {
        const std::string waiting = folder + "/" + std::to_string(i);
        if (m.earlier[i].empty() || !Exists(waiting)) continue;  // never moved, or already settled
        switch (SettleEarlierFile(m.earlier[i], waiting, m.succeeded)) {
            case EarlierFileFate::Removed: ++settled.removed; break;
            case EarlierFileFate::PutBack: ++settled.restored; break;
            case EarlierFileFate::Left: ++settled.left; break;
        }
    }
    if (!m.succeeded)
        for (auto it = m.folders.rbegin(); it != m.folders.rend(); ++it)
            if (!it->empty()) ::rmdir(it->c_str());  // stays when not empty

    if (!RemoveEmptyReplacingFolder(folder))
        std::printf("[Export] %s keeps earlier files that could not go back; its manifest names them\n",
                    folder.c_str());
    RemoveNote(m.note, folder);
    std::printf("[Export] Interrupted replacement in %s %s: %d earlier files put back, %d files removed\n",
                exportFolder.c_str(), m.succeeded ? "finished" : "undone", settled.restored, settled.removed);
    return settled;
}

void SettleReplacementsIn(const std::string& exportFolder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(exportFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        std::error_code kind;
        if (name.rfind(kReplacingFolderPrefix, 0) == 0 && it->is_directory(kind) && !it->is_symlink(kind))
            found.push_back(it->path().string());
    }
    for (const std::string& folder : found) SettleReplacement(folder);
}

void SettleNotedReplacements(const std::string& noteFolder) {
    if (noteFolder.empty()) return;
    std::vector<std::string> notes;
    std::error_code ec;
    for (fs::directory_iterator it(noteFolder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == kNoteExtension) notes.push_back(it->path().string());
    for (const std::string& note : notes) {
        std::string text;
        if (ReadFileText(note, 1 << 16, text) == kReadOk) {
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            const std::string name = FileNameOf(text);
            struct stat st {};
            if (name.rfind(kReplacingFolderPrefix, 0) == 0 && ::lstat(text.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                SettleReplacement(text);
        }
        ::unlink(note.c_str());
    }
}
