// folder_beneath.cpp — folders below a descriptor, one component at a time.
//
// Index
//   SplitBeneathPath
//   FolderFd
//   OpenFolderBeneath / OpenParentBeneath
//   EntryNamesOf
#include "platform/folder_beneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

bool SplitBeneathPath(const std::string& relative, std::vector<std::string>& parts) {
    parts.clear();
    if (relative.empty() || relative[0] == '/') return false;
    for (size_t at = 0; at <= relative.size();) {
        size_t end = relative.find('/', at);
        if (end == std::string::npos) end = relative.size();
        std::string part = relative.substr(at, end - at);
        if (part.empty() || part == "." || part == "..") return false;
        parts.push_back(std::move(part));
        at = end + 1;
    }
    return true;
}

FolderFd::~FolderFd() {
    if (fd_ >= 0) ::close(fd_);
}

FolderFd& FolderFd::operator=(FolderFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

int FolderFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

void SetError(int* error, int value) {
    if (error) *error = value;
}

}  // namespace

FolderFd OpenFolderBeneath(int root, const std::vector<std::string>& parts, size_t count, bool create,
                           int* error) {
    SetError(error, 0);
    if (root < 0 || count > parts.size()) {
        SetError(error, EBADF);
        return FolderFd();
    }
    FolderFd at(::openat(root, ".", kFolderFlags));
    if (!at.Valid()) {
        SetError(error, errno);
        return at;
    }
    for (size_t i = 0; i < count; ++i) {
        const std::string& part = parts[i];
        if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos) {
            SetError(error, EINVAL);
            return FolderFd();
        }
        int fd = ::openat(at.Get(), part.c_str(), kFolderFlags);
        if (fd < 0 && errno == ENOENT && create) {
            // mkdirat never follows a link at the name: one there fails with
            // EEXIST, and the open below then refuses it.
            if (::mkdirat(at.Get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
                SetError(error, errno);
                return FolderFd();
            }
            fd = ::openat(at.Get(), part.c_str(), kFolderFlags);
        }
        if (fd < 0) {
            SetError(error, errno);
            return FolderFd();
        }
        at = FolderFd(fd);
    }
    return at;
}

FolderFd OpenParentBeneath(int root, const std::string& relative, bool create, std::string* leaf, int* error) {
    std::vector<std::string> parts;
    if (!SplitBeneathPath(relative, parts)) {
        SetError(error, EINVAL);
        return FolderFd();
    }
    if (leaf) *leaf = parts.back();
    return OpenFolderBeneath(root, parts, parts.size() - 1, create, error);
}

std::vector<std::string> EntryNamesOf(int folder) {
    std::vector<std::string> names;
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return names;
    }
    while (const dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}
