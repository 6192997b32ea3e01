// folder_beneath.h — files and folders under a folder held open, reached one
// component at a time without following a link.
//
// Index
//   SplitBeneathPath     a relative path into its components, or refused
//   FolderFd             an open folder descriptor, closed with its owner
//   OpenFolderBeneath    walk (and, when asked, make) folders below a descriptor
//   OpenParentBeneath    the folder holding a relative path's last component
//   EntryNamesOf         the names in a folder held open, sorted
//
// A folder that other people may write to (a shared delivery folder, an
// export folder from someone else) can hold links where a program expects
// folders: a path built from text and handed to open(2) or rename(2) then
// leads wherever the link points. Here every component is opened with
// O_NOFOLLOW relative to the one before, so a link, "..", "." or an absolute
// path anywhere in the path is refused, and a folder is made only with
// mkdirat(2) in a folder that was itself reached that way: nothing is ever
// made through a link. Any thread.
#pragma once

#include <string>
#include <vector>

// The components of `relative` ("a/b/c" gives a, b, c); false for an empty
// path, an absolute one, or one with an empty, "." or ".." component.
bool SplitBeneathPath(const std::string& relative, std::vector<std::string>& parts);

// A descriptor closed when its owner goes; -1 when nothing is open.
class FolderFd {
public:
    FolderFd() = default;
    explicit FolderFd(int fd) : fd_(fd) {}
    ~FolderFd();
    FolderFd(FolderFd&& other) noexcept : fd_(other.Release()) {}
    FolderFd& operator=(FolderFd&& other) noexcept;
    FolderFd(const FolderFd&) = delete;
    FolderFd& operator=(const FolderFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();

private:
    int fd_ = -1;
};

// Opens the folder reached from `root` through `parts[0 .. count)`, each
// component opened with O_NOFOLLOW | O_DIRECTORY. With `create`, a missing
// component is made (mode 0777 less the umask) before it is opened. An invalid FolderFd,
// with *error set (ELOOP or ENOTDIR for a link or a file in the way, ENOENT
// for a missing folder, EINVAL for a component that may not be used), when
// the walk stops. `count` 0 gives a new descriptor of `root` itself.
FolderFd OpenFolderBeneath(int root, const std::vector<std::string>& parts, size_t count, bool create,
                           int* error = nullptr);

// The folder that holds the last component of `relative` below `root`, and
// that component in *leaf; invalid (with *error, EINVAL for a refused path)
// when the path cannot be used or its folders cannot be reached (made, with
// `create`) without following a link.
FolderFd OpenParentBeneath(int root, const std::string& relative, bool create, std::string* leaf,
                           int* error = nullptr);

// The names of the entries of the folder open as `folder` ("." and ".."
// left out), sorted; read through a descriptor of its own, so the caller's
// position in the folder is not moved. Empty when it cannot be read.
std::vector<std::string> EntryNamesOf(int folder);
