// legacy_presets.cpp — the start-up move of older preset folders.
//
// Index
//   Helpers               EntryExists, RenameNoReplace, StagingPath, ListEntryNames
//   Copying               CopyTree
//   MoveLegacyEntry / CopyThenRemoveEntry
//   MoveFolderEntries / CopyLegacyPresetFolder
//   MigrateLegacyPresetFolders
#include "recipes/legacy_presets.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "persistence/json_writer.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"

namespace fs = std::filesystem;

namespace {

constexpr const char kLogTag[] = "[Recipes]";

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// Anything at the path, a dangling link included. A path that cannot be
// examined counts as taken: it is never a place to move into.
bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

// 0 on success, else the error number. The kernel refuses to replace on its
// own; where the file system cannot (EINVAL), the check comes first.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    int error = errno;
    if (error != EINVAL && error != ENOSYS) return error;
    if (EntryExists(to)) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// A fresh name beside `to` for the copy under way; ".tmp" at the end, so the
// tidy-up of the recipes folder removes one that a crash left behind.
std::string StagingPath(const std::string& to) {
    uint32_t salt = 0;
    FillRandomBytes(&salt, sizeof salt);
    return to + "." + U64ToHex(salt).substr(8) + ".tmp";
}

void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The entries of a folder, taken whole before anything moves. False when
// the folder could not be listed to its end (the names read so far are kept).
bool ListEntryNames(const std::string& folder, std::vector<std::string>& names) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec))
        names.push_back(it->path().filename().string());
    return !ec;
}

// ---------------------------------------------------------------------------
// Copying
// ---------------------------------------------------------------------------

// Copies files, folders (with everything in them) and links. Anything else
// (a FIFO, a socket, a device) cannot be carried over, which fails the copy:
// a folder is only ever moved whole.
bool CopyTree(const std::string& from, const std::string& to) {
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return false;
    const mode_t mode = st.st_mode & 07777;
    if (S_ISREG(st.st_mode)) return CopyFileContents(from, to) && ::chmod(to.c_str(), mode) == 0;
    if (S_ISLNK(st.st_mode)) {
        std::vector<char> target(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t n = ::readlink(from.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<size_t>(n) >= target.size()) return false;
        return ::symlink(std::string(target.data(), static_cast<size_t>(n)).c_str(), to.c_str()) == 0;
    }
    if (!S_ISDIR(st.st_mode)) return false;
    if (::mkdir(to.c_str(), 0700) != 0) return false;
    std::vector<std::string> names;
    if (!ListEntryNames(from, names)) return false;
    for (const std::string& name : names)
        if (!CopyTree(from + "/" + name, to + "/" + name)) return false;
    ::chmod(to.c_str(), mode | S_IRWXU);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// MoveLegacyEntry / CopyThenRemoveEntry
// ---------------------------------------------------------------------------

bool MoveLegacyEntry(const std::string& from, const std::string& to) {
    int error = RenameNoReplace(from, to);
    if (error == 0) return true;
    if (error == EXDEV) return CopyThenRemoveEntry(from, to);
    if (error != EEXIST)
        std::printf("%s could not move %s: %s\n", kLogTag, from.c_str(), std::strerror(error));
    return false;
}

bool CopyThenRemoveEntry(const std::string& from, const std::string& to) {
    if (EntryExists(to) || !EntryExists(from)) return false;
    // Copied under a name of its own first, so that `to` only ever appears
    // complete, and the source goes only after it has.
    const std::string staging = StagingPath(to);
    std::error_code ec;
    if (!CopyTree(from, staging)) {
        fs::remove_all(staging, ec);
        std::printf("%s could not copy %s; it stays where it is\n", kLogTag, from.c_str());
        return false;
    }
    if (RenameNoReplace(staging, to) != 0) {
        fs::remove_all(staging, ec);
        return false;
    }
    SyncFolder(fs::path(to).parent_path().string());
    fs::remove_all(from, ec);
    if (ec) std::printf("%s copied %s, but could not remove the old copy\n", kLogTag, from.c_str());
    return true;
}

// ---------------------------------------------------------------------------
// CopyLegacyPresetFolder
// ---------------------------------------------------------------------------

namespace {

// Moves each entry of `source` to the path `targetOf` gives for its name
// (empty: the entry stays) unless something is there already, then removes
// `source` when nothing is left in it.
template <typename TargetOf>
void MoveFolderEntries(const std::string& source, const std::string& target, TargetOf targetOf) {
    std::error_code ec;
    if (!fs::is_directory(source, ec)) return;
    fs::create_directories(target, ec);
    std::vector<std::string> names;
    if (!ListEntryNames(source, names))
        std::printf("%s could not list all of %s\n", kLogTag, source.c_str());
    int moved = 0;
    for (const std::string& name : names) {
        const std::string to = targetOf(name);
        if (to.empty() || EntryExists(to)) continue;  // the user's current file wins
        if (MoveLegacyEntry(source + "/" + name, to)) ++moved;
    }
    if (moved > 0)
        std::printf("%s moved %d of %zu entries from %s to %s\n", kLogTag, moved, names.size(),
                    source.c_str(), target.c_str());
    if (fs::is_empty(source, ec) && !ec) fs::remove(source, ec);
}

}  // namespace

void CopyLegacyPresetFolder(const std::string& source, const std::string& target) {
    MoveFolderEntries(source, target, [&](const std::string& name) { return target + "/" + name; });
}

// ---------------------------------------------------------------------------
// MigrateLegacyPresetFolders
// ---------------------------------------------------------------------------

void MigrateLegacyPresetFolders() {
    const char* home = std::getenv("HOME");
    // An empty HOME would put the old folders at the file-system root.
    if (home == nullptr || home[0] == '\0') return;
    const std::string documents = DocumentsDir();
    if (documents.empty()) return;
    const std::string h = home;
    const std::string recipes = documents + "/Recipes";
    CopyLegacyPresetFolder(h + "/Library/Preferences/TessaloomPresets", recipes);
    CopyLegacyPresetFolder(h + "/Library/Preferences/TessaloomGroupPresets", documents + "/Chains");
    // An old preview takes the name a recipe's preview has now.
    MoveFolderEntries(h + "/Library/Application Support/Tessaloom/RecipePreviews", recipes,
                      [&](const std::string& name) {
                          fs::path entry(name);
                          if (entry.extension() != ".wav") return std::string();  // exactly: "Wind.WAV" stays
                          return recipes + "/" + entry.stem().string() + "_preview.wav";
                      });
}
