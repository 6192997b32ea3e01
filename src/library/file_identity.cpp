// file_identity.cpp — content fingerprints and the existence check.
//
// Index
//   FNV folding          offset basis and prime of the fingerprint hash
//   QueryFileSize        size of a regular file, following links
//   ReadFully            pread until the window is full or the file ends
//   FingerprintFileWithSize / FingerprintFile
//   FileExistsWithSize
#include "library/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "platform/file_util.h"

namespace {

// The offset basis is not FNV's standard one. Every stored hash in projects
// and index files was made with these constants: never change them.
constexpr uint64_t kFingerprintBasis = 0x14650FB0739D0383ull;
constexpr uint64_t kFingerprintPrime = 0x100000001B3ull;
constexpr size_t kWindowBytes = 65536;

inline uint64_t Fold(uint64_t h, const unsigned char* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) h = (h ^ bytes[i]) * kFingerprintPrime;
    return h;
}

// Only regular files have a size worth trusting: a FIFO or device would block
// or never end, and a folder has no content.
bool QueryFileSize(const std::string& path, uint64_t& size) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool ReadFully(int fd, unsigned char* buffer, size_t want, uint64_t offset) {
    size_t got = 0;
    while (got < want) {
        ssize_t r = ::pread(fd, buffer + got, want - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;  // error or end of file before the window was full
        got += static_cast<size_t>(r);
    }
    return true;
}

// One read buffer per thread, reused by every call on that thread: the scan
// thread, the fingerprint worker and the UI thread fingerprint concurrently.
unsigned char* ThreadBuffer() {
    thread_local std::unique_ptr<unsigned char[]> buffer;
    if (!buffer) buffer.reset(new unsigned char[kWindowBytes]);
    return buffer.get();
}

}  // namespace

bool FingerprintFileWithSize(const std::string& path, uint64_t size, uint64_t& hash) {
    const int fd = OpenRegularFile(path).fd;
    if (fd < 0) return false;
    unsigned char* buffer = ThreadBuffer();
    uint64_t h = kFingerprintBasis;
    bool ok = true;

    size_t head = size < kWindowBytes ? static_cast<size_t>(size) : kWindowBytes;
    if (head > 0) {
        ok = ReadFully(fd, buffer, head, 0);
        if (ok) h = Fold(h, buffer, head);
    }
    // Files between 64 and 128 KiB fold their overlapping bytes twice.
    if (ok && size > kWindowBytes) {
        ok = ReadFully(fd, buffer, kWindowBytes, size - kWindowBytes);
        if (ok) h = Fold(h, buffer, kWindowBytes);
    }
    ::close(fd);
    if (!ok) return false;

    unsigned char sizeBytes[8];
    for (int i = 0; i < 8; ++i) sizeBytes[i] = static_cast<unsigned char>(size >> (8 * i));
    h = Fold(h, sizeBytes, 8);
    hash = h == 0 ? 1 : h;  // 0 means "never fingerprinted" everywhere
    return true;
}

bool FingerprintFile(const std::string& path, uint64_t& hash, uint64_t& size) {
    uint64_t measured = 0;
    if (path.empty() || !QueryFileSize(path, measured)) return false;
    uint64_t h = 0;
    if (!FingerprintFileWithSize(path, measured, h)) return false;
    hash = h;
    size = measured;
    return true;
}

bool FileExistsWithSize(const std::string& path, uint64_t expectedSize) {
    if (path.empty()) return false;
    uint64_t actual = 0;
    if (!QueryFileSize(path, actual)) return false;
    return expectedSize == 0 || actual == expectedSize;
}
