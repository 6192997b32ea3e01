// file_util.h — durable file writes, random bytes and readability checks.
//
// Index
//   FillRandomBytes       bytes from the kernel's random generator
//   WriteTextFileAtomic   write "<path>.tmp", flush, then replace <path>
//   WriteBytesFileAtomic  the same for a block of bytes
//   FileReplaceFailure    which step of a durable replace failed, and why
//   CommitAndReplaceFile  fsync a finished temporary file and move it over the target
//   OpenNewTemporaryFile  create "<path>.tmp" new, never through a link; a stale one goes
//   CommitTemporaryFile   the same commit for a temporary file still held open
//   FileIdentity / HeldFolder   a file known by device, inode and size; a folder held open to write in
//   OpenNewTemporaryFileIn / CommitTemporaryFileIn / RemoveTemporaryIn   the same relative to a held folder
//   NewTemporaryPathFor / IsTemporaryName   a temporary name no file has had
//   MoveWithoutReplacing  a rename that never replaces what stands at the target, on any drive
//   RegularFile / OpenRegularFile / OpenRegularFileStream / RegularFileProblem
//                         open for reading without waiting, regular files only
//   OpenRegularFileAt     a regular file of a held folder; nothing else is ever opened
//   CopyFileContents      copy a file into a new file and sync it
//   FileIsReadable        whether a path opens for reading
//   FileReadStatus / ReadFileText   a whole file into memory, bounded in size
//   FileNameOf            last component of a path ('/' or '\\' separated)
//   MoveFileReplacing     rename over a target, through the fault seam
//   SyncToDisk            force a file or a folder's entries to disk
//
// The routines that write, move or open a file take a `fault` (null in the
// program): a test's seam, handed down by their caller (file_fault.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include <sys/types.h>

#include "platform/file_fault.h"

void FillRandomBytes(void* buffer, size_t length);

// The step at which a durable replace gave up, with the system's error number
// of that step, for callers whose log names the cause.
enum FileReplaceStep : int32_t {
    kReplaceDone = 0,
    kReplaceWrite = 1,   // creating or writing the temporary file
    kReplaceCommit = 2,  // forcing the temporary file to disk
    kReplaceMove = 3,    // moving it over the target
};
struct FileReplaceFailure {
    int32_t step = kReplaceDone;
    int error = 0;
};

// Writes `text` to path + ".tmp", syncs it and renames it over `path`. On any
// failure the previous target is intact, the temporary file is gone and the
// result is false (with the failing step in *failure when given).
bool WriteTextFileAtomic(const std::string& path, const std::string& text,
                         FileReplaceFailure* failure = nullptr, FileFaultHook fault = nullptr);
bool WriteBytesFileAtomic(const std::string& path, const void* data, size_t size,
                          FileReplaceFailure* failure = nullptr, FileFaultHook fault = nullptr);

// Flushes `tmpPath` to disk, renames it over `targetPath` (copying when the
// two lie on different file systems) and syncs the folder. A temporary file
// that cannot be forced to disk is never moved: on any failure it is removed,
// the target is left as it was and the result is false.
bool CommitAndReplaceFile(const std::string& tmpPath, const std::string& targetPath,
                          FileReplaceFailure* failure = nullptr, FileFaultHook fault = nullptr);

// Creates `tmpPath` as a new file (O_CREAT | O_EXCL | O_NOFOLLOW, mode 0666
// less the umask, so that a folder a group shares stays the group's)
// open for reading and writing. Whatever already stands at the name (a
// temporary file a crash left, or a link someone planted to make the writer
// truncate its target) is removed, never opened or followed, and the
// creation is tried once more; a folder there is left and refused. -1 with
// *error set (the system's error number) when no new file could be made.
int OpenNewTemporaryFile(const std::string& tmpPath, int* error = nullptr);

// CommitAndReplaceFile for a temporary file the caller still holds open as
// `fd` (not closed here): the descriptor is forced to disk, so what is
// committed is what was written through it, whatever the name meanwhile
// holds; then the name is moved over `targetPath` as above.
bool CommitTemporaryFile(int fd, const std::string& tmpPath, const std::string& targetPath,
                         FileReplaceFailure* failure = nullptr);

// A file known by what it is rather than by its name: its device, inode
// number and size. These survive what ordinary tools do to a file (a chmod,
// an extended attribute, a rename); a file another program puts at the same
// name is another inode, or, given a freed inode number again, almost
// always another size. Times and inode generations are not part of it: a
// FUSE drive reports times of its own, and a drive that keeps no birth time
// or generation gives none to compare. `size` is -1 while unknown (a file
// still being written).
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    int64_t size = -1;
    // The same inode of the same size (when both sizes are known).
    bool Same(const FileIdentity& other) const {
        return device == other.device && inode == other.inode &&
               (size < 0 || other.size < 0 || size == other.size);
    }
};
// The identity of the entry `name` in the folder open as `folder` (a link or
// a pipe is looked at, never followed or opened); false when nothing is there.
bool IdentityAt(int folder, const std::string& name, FileIdentity* identity);
// The identity of the file open as `fd`.
bool IdentityOf(int fd, FileIdentity* identity);

// A folder a writer makes its files in, held open by its caller (an export
// holds its folders for its whole run): every create, rename and removal is
// made relative to `fd`, so a folder swapped for a link after it was opened
// changes nothing outside it. `made` (may be empty) is told of each file as
// soon as it exists under its temporary name (size -1) and again once it is
// in place under `path` (with its size). `fault` (null in the program) is
// the seam every file made in the folder meets.
struct HeldFolder {
    int fd = -1;
    std::function<void(const std::string& path, const FileIdentity& identity)> made;
    FileFaultHook fault = nullptr;
};

// OpenNewTemporaryFile, CommitTemporaryFile and the removal of a temporary
// file given up, in `folder` (the last component of each path is the name
// used there; the rest only names it in the log); by the paths themselves
// when `folder` is null.
// In a held folder the temporary name is made new and nothing that stands at
// it is removed (the open fails with EEXIST); the move into place never
// replaces what stands at the target (it fails with EEXIST).
int OpenNewTemporaryFileIn(const HeldFolder* folder, const std::string& tmpPath, int* error = nullptr);
// A hidden temporary name beside `path` that no file has had
// (".tessaloom-<16 hex>.tmp"), for a file made in a held folder; and whether
// a name is one of these.
inline constexpr const char* kTemporarySuffix = ".tmp";
std::string NewTemporaryPathFor(const std::string& path);
bool IsTemporaryName(const std::string& name);
// Renames `fromName` of the folder `fromDir` to `toName` of `toDir` (one file
// system) unless something stands at the target: then false with errno
// EEXIST, nothing moved. Drives without RENAME_NOREPLACE get a hard link and
// the removal of the old name; drives without hard links either (FAT, exFAT
// and folders on any drive) a rename after a look at the target, which is as
// much as such a drive allows: callers hold their folder's lock, which keeps
// every copy of the program out between the look and the move. False with
// the system's errno otherwise.
bool MoveWithoutReplacing(int fromDir, const std::string& fromName, int toDir, const std::string& toName);
bool CommitTemporaryFileIn(int fd, const HeldFolder* folder, const std::string& tmpPath,
                           const std::string& targetPath, FileReplaceFailure* failure = nullptr);
void RemoveTemporaryIn(const HeldFolder* folder, const std::string& tmpPath);

// Paths come from files strangers send (projects, recipes, libraries): one
// may name a pipe, which blocks an ordinary open forever, or a device such as
// /dev/zero, which never ends. Every file the program reads or copies is
// opened here without waiting and kept only when it is a regular file.
struct RegularFile {
    int fd = -1;            // open for reading (blocking reads), or -1
    uint64_t size = 0;      // the size when it was checked
    std::string problem;    // why not, for the user, when fd is -1 (RefusalSentence)
    int error = 0;          // the system's error number then (EINVAL: not a regular file)
};

// The file at `path`, or fd -1 with the sentence that refuses it: it is
// missing or unreadable (the system's reason), or it is a folder, a named
// pipe, a device or a socket. What stands at the path is looked at before it
// is opened, so nothing but a regular file is ever opened. The caller closes fd.
RegularFile OpenRegularFile(const std::string& path, FileFaultHook fault = nullptr);
// The same as a stdio stream ("rb"); null with *problem set when not.
std::FILE* OpenRegularFileStream(const std::string& path, std::string* problem = nullptr);
// "" when `path` is a regular file that opens for reading, else the message.
std::string RegularFileProblem(const std::string& path);

// The entry `name` of the folder open as `folder`, opened for reading only
// once it is known to be a regular file: it is first taken as a handle that
// opens nothing (O_PATH, never following a link) and looked at, and only
// that very file is then opened (O_NONBLOCK). An entry swapped for a named
// pipe, a device or a link at any moment is refused without ever having
// been opened, so no writer blocked on a pipe goes on and no device acts.
// -1 (errno EINVAL for an entry that is no regular file) otherwise; the
// caller closes the descriptor.
int OpenRegularFileAt(int folder, const std::string& name);

// Copies the regular file `src` into a new file `dst` (made new: whatever
// stood at the name, a link among them, is removed and never written
// through) and forces it to disk. At most the size `src` had when it
// was opened is copied, so a file that keeps growing cannot fill the disk.
// On failure `dst` is removed, *error holds the system's error number (EINVAL
// for a source that is not a regular file) and the result is false.
bool CopyFileContents(const std::string& src, const std::string& dst, int* error = nullptr,
                      FileFaultHook fault = nullptr);

// True only for a regular file that opens for reading. Never waits.
bool FileIsReadable(const std::string& path);

enum FileReadStatus : int32_t {
    kReadOk = 0,
    kReadCannotOpen = 1,    // missing, not permitted, or not a regular file
    kReadTooLarge = 2,      // more than the caller's bound
    kReadOutOfMemory = 3,   // the text could not be allocated
    kReadFailed = 4,        // the system reported an error while reading
};

// Reads the whole regular file at `path` into `out` (emptied on any failure).
// Only regular files are read, so a pipe or a device never makes it wait.
FileReadStatus ReadFileText(const std::string& path, uint64_t maxBytes, std::string& out);

// The part after the last '/' or '\\' (the whole path when there is none).
std::string FileNameOf(const std::string& path);

// rename(2) of `from` over `to`. False with *error set when it failed
// (nothing moved then).
bool MoveFileReplacing(const std::string& from, const std::string& to, int* error = nullptr,
                       FileFaultHook fault = nullptr);

// fsync(2) of the file or folder at `path`; false when it cannot be opened
// or synced.
bool SyncToDisk(const std::string& path);
