// file_util.cpp — durable replace of files, random bytes, readability.
//
// Index
//   ParentFolder / SyncPath / WriteAll / CopyDescriptor / DirOf / NameIn / CopyAcrossFileSystems   helpers
//   FillRandomBytes
//   WriteTextFileAtomic / WriteBytesFileAtomic / CommitAndReplaceFile   temporary file, fsync, rename, folder fsync
//   MoveIntoPlace / MoveCommitted   the rename into place (never over anything in a held folder)
//   CommitTemporaryFile(In) / RemoveTemporaryIn / OpenNewTemporaryFile(In)   the same for a file held open,
//                        in a held folder or by path; temporary files made new (NewTemporaryPathFor)
//   MoveWithoutReplacing  renameat2, else a hard link, else a rename after a look
//   IdentityAt / IdentityOf   device, inode and size
//   KindOfMode           a file's type as a PathKind
//   OpenRegularFile / OpenRegularFileStream / RegularFileProblem   regular files only, never waiting
//   OpenRegularFileAt    by a handle that opens nothing, then only that very file
//   CopyFileContents     durable copy into a new file, bounded by the size checked
//   FileIsReadable       a regular file that opens
//   ReadFileText         a whole regular file, bounded in size
//   MoveFileReplacing / SyncToDisk
#include "platform/file_util.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "platform/path_refusal.h"

namespace {

// 0, or the error number a test's hook wants this step to fail with.
int InjectedFault(FileFaultHook fault, FileFaultPoint point, const std::string& path) {
    return fault ? fault(point, path) : 0;
}

std::string ParentFolder(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool SyncPath(const std::string& path, int flags) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t w = ::write(fd, data, size);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += w;
        size -= static_cast<size_t>(w);
    }
    return true;
}

// Moves at most `limit` bytes of `in` to `out` in the kernel when it can, by
// reading and writing otherwise (file systems without copy_file_range
// between them).
bool CopyDescriptor(int in, int out, uint64_t limit) {
    bool kernelCopy = true;
    while (limit > 0) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(limit, uint64_t{1} << 30));
        if (kernelCopy) {
            ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
            if (n > 0) {
                limit -= static_cast<uint64_t>(n);
                continue;
            }
            if (n == 0) return true;
            if (errno == EINTR) continue;
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
                return false;
            kernelCopy = false;  // nothing was moved by the failed call: go on by hand
        }
        char buffer[1 << 16];
        ssize_t r = ::read(in, buffer, std::min(sizeof buffer, chunk));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) return true;
        if (!WriteAll(out, buffer, static_cast<size_t>(r))) return false;
        limit -= static_cast<uint64_t>(r);
    }
    return true;
}

PathKind KindOfMode(mode_t mode) {
    if (S_ISDIR(mode)) return PathKind::Folder;
    if (S_ISFIFO(mode)) return PathKind::NamedPipe;
    if (S_ISCHR(mode)) return PathKind::CharacterDevice;
    if (S_ISBLK(mode)) return PathKind::BlockDevice;
    if (S_ISSOCK(mode)) return PathKind::Socket;
    return PathKind::OtherKind;
}

// The folder a held-folder call acts in, and the name used there.
int DirOf(const HeldFolder* folder) { return folder ? folder->fd : AT_FDCWD; }
std::string NameIn(const HeldFolder* folder, const std::string& path) {
    if (!folder) return path;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Copies the committed temporary file open as `from` into a fresh file beside
// the target (made new, never through a link), syncs it and renames it into
// place: for a move between file systems.
bool CopyAcrossFileSystems(int from, const HeldFolder* folder, const std::string& tmpPath,
                           const std::string& targetPath) {
    const std::string staging = targetPath + ".copy.tmp";
    int error = 0;
    const int out = OpenNewTemporaryFileIn(folder, staging, &error);
    if (out < 0) {
        errno = error;
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(from, &st) == 0 && ::lseek(from, 0, SEEK_SET) == 0 &&
              CopyDescriptor(from, out, uint64_t(st.st_size)) && ::fsync(out) == 0;
    int saved = ok ? 0 : errno;
    if (::close(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::renameat(DirOf(folder), NameIn(folder, staging).c_str(), DirOf(folder),
                         NameIn(folder, targetPath).c_str()) == 0) {
        ::unlinkat(DirOf(folder), NameIn(folder, tmpPath).c_str(), 0);
        return true;
    }
    if (ok) saved = errno;
    ::unlinkat(DirOf(folder), NameIn(folder, staging).c_str(), 0);
    errno = saved;
    return false;
}

void NoteFailure(FileReplaceFailure* failure, FileReplaceStep step, int error) {
    if (failure) *failure = FileReplaceFailure{step, error};
}

}  // namespace

void FillRandomBytes(void* buffer, size_t length) {
    auto* p = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        ssize_t got = ::getrandom(p, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            // The kernel generator does not fail once seeded; fall back to the device.
            int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
            if (fd >= 0) {
                got = ::read(fd, p, length);
                ::close(fd);
            }
            if (got <= 0) return;
        }
        p += got;
        length -= static_cast<size_t>(got);
    }
}

bool WriteTextFileAtomic(const std::string& path, const std::string& text, FileReplaceFailure* failure,
                         FileFaultHook fault) {
    return WriteBytesFileAtomic(path, text.data(), text.size(), failure, fault);
}

bool WriteBytesFileAtomic(const std::string& path, const void* data, size_t size, FileReplaceFailure* failure,
                          FileFaultHook fault) {
    if (path.empty()) {
        NoteFailure(failure, kReplaceWrite, ENOENT);
        return false;
    }
    std::string tmp = path + ".tmp";
    if (const int error = InjectedFault(fault, FileFaultPoint::Write, tmp)) {
        NoteFailure(failure, kReplaceWrite, error);
        return false;
    }
    // Made new: a link planted at the temporary name is removed, not followed.
    int openError = 0;
    const int fd = OpenNewTemporaryFile(tmp, &openError);
    FILE* f = fd >= 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!f) {
        if (fd >= 0) {
            openError = errno;
            ::close(fd);
            ::unlink(tmp.c_str());
        }
        NoteFailure(failure, kReplaceWrite, openError);
        return false;
    }
    size_t written = size == 0 ? 0 : std::fwrite(data, 1, size, f);
    bool ok = written == size && std::fflush(f) == 0 && !std::ferror(f);
    int error = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        std::remove(tmp.c_str());
        NoteFailure(failure, kReplaceWrite, error);
        return false;
    }
    return CommitAndReplaceFile(tmp, path, failure, fault);
}

namespace {

// Moves the finished temporary file to its name. In a held folder the move
// never replaces anything: whatever stands at the name (a link, a pipe, a
// folder, another program's file) stays, and the move fails with EEXIST.
bool MoveIntoPlace(const HeldFolder* folder, const std::string& from, const std::string& to) {
    const int at = DirOf(folder);
    if (!folder) return ::renameat(at, from.c_str(), at, to.c_str()) == 0;
    return MoveWithoutReplacing(at, from, at, to);
}

// The move of a temporary file that is on disk already (open as `fd`, or -1
// when the caller holds none).
bool MoveCommitted(int fd, const HeldFolder* folder, const std::string& tmpPath, const std::string& targetPath,
                   FileReplaceFailure* failure, FileFaultHook fault) {
    int error = 0;
    bool ok = false;
    if (const int injected = InjectedFault(fault, FileFaultPoint::Move, targetPath)) {
        error = injected;
    } else if (MoveIntoPlace(folder, NameIn(folder, tmpPath), NameIn(folder, targetPath))) {
        ok = true;
    } else {
        error = errno;
    }
    if (!ok && error == EXDEV) {
        RegularFile opened;
        if (fd < 0) opened = OpenRegularFile(tmpPath, fault);
        ok = CopyAcrossFileSystems(fd >= 0 ? fd : opened.fd, folder, tmpPath, targetPath);
        if (!ok) error = errno;
        if (opened.fd >= 0) ::close(opened.fd);
    }
    if (!ok) {
        NoteFailure(failure, kReplaceMove, error);
        ::unlinkat(DirOf(folder), NameIn(folder, tmpPath).c_str(), 0);
        return false;
    }
    if (folder) ::fsync(folder->fd);
    else SyncPath(ParentFolder(targetPath), O_RDONLY | O_DIRECTORY);
    NoteFailure(failure, kReplaceDone, 0);
    return true;
}

}  // namespace

bool CommitAndReplaceFile(const std::string& tmpPath, const std::string& targetPath, FileReplaceFailure* failure,
                          FileFaultHook fault) {
    // Data that never reached the disk must not replace a file that did.
    if (!SyncPath(tmpPath, O_RDONLY)) {
        NoteFailure(failure, kReplaceCommit, errno);
        ::unlink(tmpPath.c_str());
        return false;
    }
    return MoveCommitted(-1, nullptr, tmpPath, targetPath, failure, fault);
}

bool CommitTemporaryFile(int fd, const std::string& tmpPath, const std::string& targetPath,
                         FileReplaceFailure* failure) {
    return CommitTemporaryFileIn(fd, nullptr, tmpPath, targetPath, failure);
}

bool CommitTemporaryFileIn(int fd, const HeldFolder* folder, const std::string& tmpPath,
                           const std::string& targetPath, FileReplaceFailure* failure) {
    if (fd < 0 || ::fsync(fd) != 0) {
        NoteFailure(failure, kReplaceCommit, fd < 0 ? EBADF : errno);
        ::unlinkat(DirOf(folder), NameIn(folder, tmpPath).c_str(), 0);
        return false;
    }
    return MoveCommitted(fd, folder, tmpPath, targetPath, failure, folder ? folder->fault : nullptr);
}

void RemoveTemporaryIn(const HeldFolder* folder, const std::string& tmpPath) {
    ::unlinkat(DirOf(folder), NameIn(folder, tmpPath).c_str(), 0);
}

bool MoveWithoutReplacing(int fromDir, const std::string& fromName, int toDir, const std::string& toName) {
    if (::renameat2(fromDir, fromName.c_str(), toDir, toName.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP && errno != EOPNOTSUPP) return false;
    // No RENAME_NOREPLACE here (NTFS through FUSE, older FUSE drives): a
    // hard link refuses a taken name just as well.
    if (::linkat(fromDir, fromName.c_str(), toDir, toName.c_str(), 0) == 0) {
        ::unlinkat(fromDir, fromName.c_str(), 0);
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) return false;
    // No hard links either (FAT, exFAT; a folder on any drive): the target
    // is looked at, then the entry renamed. That leaves a moment in which a
    // file put at the name would be replaced; the caller holds the folder's
    // lock, which keeps every copy of the program out of it, and nothing
    // better is possible on such a drive.
    struct stat st {};
    if (::fstatat(toDir, toName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    if (errno != ENOENT) return false;
    return ::renameat(fromDir, fromName.c_str(), toDir, toName.c_str()) == 0;
}

bool IdentityAt(int folder, const std::string& name, FileIdentity* identity) {
    struct stat st {};
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (identity) *identity = FileIdentity{st.st_dev, st.st_ino, int64_t(st.st_size)};
    return true;
}

bool IdentityOf(int fd, FileIdentity* identity) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (identity) *identity = FileIdentity{st.st_dev, st.st_ino, int64_t(st.st_size)};
    return true;
}

int OpenNewTemporaryFile(const std::string& tmpPath, int* error) {
    return OpenNewTemporaryFileIn(nullptr, tmpPath, error);
}

int OpenNewTemporaryFileIn(const HeldFolder* folder, const std::string& tmpPath, int* error) {
    constexpr int kFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const int at = DirOf(folder);
    const std::string name = NameIn(folder, tmpPath);
    // In a held folder the name is one no file has had (NewTemporaryPathFor):
    // whatever stands there is not this writer's, and stays.
    for (int attempt = 0; attempt < (folder ? 1 : 2); ++attempt) {
        const int fd = ::openat(at, name.c_str(), kFlags, 0666);
        if (fd >= 0) return fd;
        if (errno != EEXIST || folder) break;
        // A stale temporary file or a planted link: the name goes (a link
        // itself, never what it points to). A folder is not ours to remove.
        struct stat st {};
        if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            break;
        }
        if (::unlinkat(at, name.c_str(), 0) != 0 && errno != ENOENT) break;
        errno = EEXIST;
    }
    if (error) *error = errno;
    return -1;
}

std::string NewTemporaryPathFor(const std::string& path) {
    unsigned char raw[8];
    FillRandomBytes(raw, sizeof raw);
    static const char kDigits[] = "0123456789abcdef";
    std::string name = ".tessaloom-";
    for (unsigned char b : raw) {
        name.push_back(kDigits[b >> 4]);
        name.push_back(kDigits[b & 15]);
    }
    name += kTemporarySuffix;
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

bool IsTemporaryName(const std::string& name) {
    const std::string suffix = kTemporarySuffix;
    return name.size() == 11 + 16 + suffix.size() && name.compare(0, 11, ".tessaloom-") == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int OpenRegularFileAt(int folder, const std::string& name) {
    const int handle = ::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) return -1;
    struct stat seen {};
    if (::fstat(handle, &seen) != 0 || !S_ISREG(seen.st_mode)) {
        ::close(handle);
        errno = EINVAL;
        return -1;
    }
    // The handle names the file looked at, whatever the name holds by now:
    // reopened through it, nothing else can be opened.
    char through[40];
    std::snprintf(through, sizeof through, "/proc/self/fd/%d", handle);
    int fd = ::open(through, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        // No /proc: by the name again, kept only when it is still that file
        // (an entry swapped in between is opened without waiting, and let go).
        fd = ::openat(folder, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
        struct stat opened {};
        if (fd >= 0 && (::fstat(fd, &opened) != 0 || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino)) {
            ::close(fd);
            fd = -1;
            errno = EINVAL;
        }
    }
    const int saved = errno;
    ::close(handle);
    errno = saved;
    return fd;
}

RegularFile OpenRegularFile(const std::string& path, FileFaultHook fault) {
    RegularFile file;
    // A test's answer comes before the system is asked anything.
    if (const int error = InjectedFault(fault, FileFaultPoint::Open, path)) {
        file.error = error;
        file.problem = RefusalSentence(path, error == ENOENT ? PathKind::Missing : PathKind::Unreadable,
                                       PathWanted::File, error);
        return file;
    }
    // What stands there is looked at before anything is opened: opening a
    // named pipe for reading, even without waiting, lets a writer blocked on
    // it go on, and some devices act as soon as they are opened.
    int error = 0;
    const PathKind kind = InspectPath(path, &error);
    if (kind != PathKind::Regular) {
        file.error = kind == PathKind::Missing || kind == PathKind::Unreadable ? error : EINVAL;
        file.problem = RefusalSentence(path, kind, PathWanted::File, error);
        return file;
    }
    // Without O_NONBLOCK the open of a pipe swapped in since the look above
    // would wait for a writer; with it the open returns at once and the type
    // is checked again on what was opened, so nothing can be swapped in
    // between.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        file.error = errno;
        file.problem = RefusalSentence(path, InspectPath(path), PathWanted::File, file.error);
        if (file.problem.empty()) file.problem = RefusalSentence(path, PathKind::Unreadable, PathWanted::File, file.error);
        return file;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        file.error = EINVAL;
        file.problem = RefusalSentence(path, KindOfMode(st.st_mode), PathWanted::File);
        ::close(fd);
        return file;
    }
    // Regular files never block; readers expect plain blocking reads.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file.fd = fd;
    file.size = static_cast<uint64_t>(st.st_size);
    InjectedFault(fault, FileFaultPoint::Opened, path);
    return file;
}

std::FILE* OpenRegularFileStream(const std::string& path, std::string* problem) {
    RegularFile file = OpenRegularFile(path);
    if (file.fd < 0) {
        if (problem) *problem = file.problem;
        return nullptr;
    }
    std::FILE* stream = ::fdopen(file.fd, "rb");
    if (!stream) {
        if (problem) *problem = "Cannot open " + path + ": " + std::strerror(errno);
        ::close(file.fd);
    }
    return stream;
}

std::string RegularFileProblem(const std::string& path) {
    RegularFile file = OpenRegularFile(path);
    if (file.fd >= 0) ::close(file.fd);
    return file.problem;
}

bool CopyFileContents(const std::string& src, const std::string& dst, int* error, FileFaultHook fault) {
    const RegularFile source = OpenRegularFile(src, fault);
    const int in = source.fd;
    if (in < 0) {
        if (error) *error = source.error;
        return false;
    }
    int openError = 0;
    const int out = OpenNewTemporaryFileIn(nullptr, dst, &openError);
    if (out < 0) {
        if (error) *error = openError;
        ::close(in);
        return false;
    }
    const int injected = InjectedFault(fault, FileFaultPoint::Write, dst);
    if (injected) errno = injected;
    bool ok = injected == 0 && CopyDescriptor(in, out, source.size) && ::fsync(out) == 0;
    int saved = ok ? 0 : errno;
    if (::close(out) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    ::close(in);
    if (!ok) {
        ::unlink(dst.c_str());
        if (error) *error = saved;
    }
    return ok;
}

bool FileIsReadable(const std::string& path) {
    return RegularFileProblem(path).empty();
}

FileReadStatus ReadFileText(const std::string& path, uint64_t maxBytes, std::string& out) {
    out.clear();
    if (path.empty()) return kReadCannotOpen;
    const RegularFile file = OpenRegularFile(path);
    const int fd = file.fd;
    if (fd < 0) return kReadCannotOpen;
    if (file.size > maxBytes) {
        ::close(fd);
        return kReadTooLarge;
    }
    FileReadStatus status = kReadOk;
    // Reads until the buffer is full or the file ends; false on an error.
    auto readInto = [fd](char* buffer, size_t size, size_t& have) {
        while (have < size) {
            const ssize_t got = ::read(fd, buffer + have, size - have);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return false;
            if (got == 0) break;
            have += static_cast<size_t>(got);
        }
        return true;
    };
    try {
        out.resize(static_cast<size_t>(file.size));
        size_t have = 0;
        if (!readInto(out.data(), out.size(), have)) status = kReadFailed;
        out.resize(have);
        // The file may have grown since it was measured: read on to its end,
        // within the bound.
        char more[16384];
        while (status == kReadOk && have == static_cast<size_t>(file.size)) {
            size_t got = 0;
            if (!readInto(more, sizeof more, got)) status = kReadFailed;
            if (got == 0) break;
            if (out.size() + got > maxBytes) status = kReadTooLarge;
            else out.append(more, got);
        }
    } catch (const std::bad_alloc&) {
        status = kReadOutOfMemory;
    }
    ::close(fd);
    if (status != kReadOk) std::string().swap(out);
    return status;
}

std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool MoveFileReplacing(const std::string& from, const std::string& to, int* error, FileFaultHook fault) {
    int failed = InjectedFault(fault, FileFaultPoint::Move, to);
    if (failed == 0 && ::rename(from.c_str(), to.c_str()) == 0) return true;
    if (failed == 0) failed = errno;
    if (error) *error = failed;
    errno = failed;
    return false;
}

bool SyncToDisk(const std::string& path) { return SyncPath(path, O_RDONLY); }
