// path_refusal.cpp — the kind at a path and the sentence that refuses it.
//
// Index
//   DisplayName       the part of the path the sentence names
//   InspectPath
//   RefusalSentence
//   FolderRefusal
#include "platform/path_refusal.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/text_direction.h"

namespace {

// "/a/b/Reel.mov" -> "Reel.mov", "/a/Sounds/" -> "Sounds"; a path with no
// last part ("/", "") is named whole.
std::string DisplayName(const std::string& path) {
    size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return path;
    const size_t slash = path.find_last_of('/', end);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(start, end + 1 - start);
}

const char* KindText(PathKind kind) {
    switch (kind) {
        case PathKind::Regular: return "a file";
        case PathKind::Folder: return "a folder";
        case PathKind::NamedPipe: return "a named pipe";
        case PathKind::Socket: return "a socket";
        case PathKind::CharacterDevice: return "a character device";
        case PathKind::BlockDevice: return "a block device";
        default: return nullptr;
    }
}

}  // namespace

PathKind InspectPath(const std::string& path, int* error) {
    if (error) *error = 0;
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) {
        const int e = path.empty() ? ENOENT : errno;
        if (error) *error = e;
        // A name below a file, or a link that leads nowhere, is as absent as
        // a name that was never made.
        return e == ENOENT || e == ENOTDIR || e == ELOOP || e == ENAMETOOLONG ? PathKind::Missing
                                                                            : PathKind::Unreadable;
    }
    if (S_ISREG(st.st_mode)) return PathKind::Regular;
    if (S_ISDIR(st.st_mode)) return PathKind::Folder;
    if (S_ISFIFO(st.st_mode)) return PathKind::NamedPipe;
    if (S_ISSOCK(st.st_mode)) return PathKind::Socket;
    if (S_ISCHR(st.st_mode)) return PathKind::CharacterDevice;
    if (S_ISBLK(st.st_mode)) return PathKind::BlockDevice;
    return PathKind::OtherKind;
}

std::string RefusalSentence(const std::string& path, PathKind kind, PathWanted wanted, int error) {
    const bool wantsFile = wanted == PathWanted::File;
    if ((kind == PathKind::Regular && wantsFile) || (kind == PathKind::Folder && !wantsFile)) return std::string();
    const std::string name = QuotedName(DisplayName(path));
    const char* wantedText = wantsFile ? "a file" : "a folder";
    switch (kind) {
        case PathKind::Missing: return name + " was not found";
        case PathKind::Unreadable:
            return name + " is unreadable (" + std::strerror(error != 0 ? error : EACCES) + ")";
        case PathKind::OtherKind: return name + " is not " + wantedText;
        default: return name + " is " + KindText(kind) + ", not " + wantedText;
    }
}

std::string FolderRefusal(const std::string& path) {
    int error = 0;
    const PathKind kind = InspectPath(path, &error);
    if (kind != PathKind::Folder) return RefusalSentence(path, kind, PathWanted::Folder, error);
    DIR* folder = ::opendir(path.c_str());
    if (!folder) return RefusalSentence(path, PathKind::Unreadable, PathWanted::Folder, errno);
    ::closedir(folder);
    return std::string();
}
