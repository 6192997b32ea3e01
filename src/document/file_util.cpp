// file_util.cpp — durable replace of files, random bytes, readability.
#include "document/file_util.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

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

// Copies src into a fresh file beside dst, syncs it and renames it into place.
bool CopyAcrossFileSystems(const std::string& src, const std::string& dst) {
    std::string staging = dst + ".tmp";
    int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = ::open(staging.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0) {
        ::close(in);
        return false;
    }
    bool ok = true;
    char buffer[1 << 16];
    for (;;) {
        ssize_t r = ::read(in, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) { ok = false; break; }
        if (r == 0) break;
        if (!WriteAll(out, buffer, static_cast<size_t>(r))) { ok = false; break; }
    }
    ok = ok && ::fsync(out) == 0;
    ok = (::close(out) == 0) && ok;
    ::close(in);
    if (ok) ok = ::rename(staging.c_str(), dst.c_str()) == 0;
    if (!ok) ::unlink(staging.c_str());
    return ok;
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

bool WriteTextFileAtomic(const std::string& path, const std::string& text) {
    return WriteBytesFileAtomic(path, text.data(), text.size());
}

bool WriteBytesFileAtomic(const std::string& path, const void* data, size_t size) {
    if (path.empty()) return false;
    std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    size_t written = size == 0 ? 0 : std::fwrite(data, 1, size, f);
    bool ok = written == size && std::fflush(f) == 0 && !std::ferror(f);
    ok = (std::fclose(f) == 0) && ok;
    if (!ok) {
        std::remove(tmp.c_str());
        return false;
    }
    return CommitAndReplaceFile(tmp, path);
}

bool CommitAndReplaceFile(const std::string& tmpPath, const std::string& targetPath) {
    SyncPath(tmpPath, O_RDONLY);
    bool ok = ::rename(tmpPath.c_str(), targetPath.c_str()) == 0;
    if (!ok && errno == EXDEV) ok = CopyAcrossFileSystems(tmpPath, targetPath);
    if (!ok) {
        ::unlink(tmpPath.c_str());
        return false;
    }
    ::unlink(tmpPath.c_str());  // only still there after a cross-device copy
    SyncPath(ParentFolder(targetPath), O_RDONLY | O_DIRECTORY);
    return true;
}

bool FileIsReadable(const std::string& path) {
    if (path.empty()) return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    ::close(fd);
    return ok;
}

std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}
