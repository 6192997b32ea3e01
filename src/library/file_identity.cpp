// file_identity.cpp — content fingerprints and the existence check.
//
// Index
//   FNV folding          offset basis and prime of the fingerprint hash
//   QueryFileSize        size of a regular file, following links
//   ReadFully            pread until the window is full or the file ends
//   FingerprintOpenFile  the two windows and the size of an open file
//   FingerprintSound     the gate: a regular file that opens as sound
//   FingerprintFileWithSize / FingerprintFile
//   FileExistsWithSize
#include "library/file_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "library/sound_file_open.h"
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
// or never end, and a folder has no content. stat(2) opens nothing.
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

bool FingerprintOpenFile(int fd, uint64_t size, uint64_t& hash) {
    unsigned char* buffer = ThreadBuffer();
    uint64_t h = kFingerprintBasis;
    const size_t head = size < kWindowBytes ? static_cast<size_t>(size) : kWindowBytes;
    if (head > 0) {
        if (!ReadFully(fd, buffer, head, 0)) return false;
        h = Fold(h, buffer, head);
    }
    // Files between 64 and 128 KiB fold their overlapping bytes twice.
    if (size > kWindowBytes) {
        if (!ReadFully(fd, buffer, kWindowBytes, size - kWindowBytes)) return false;
        h = Fold(h, buffer, kWindowBytes);
    }
    unsigned char sizeBytes[8];
    for (int i = 0; i < 8; ++i) sizeBytes[i] = static_cast<unsigned char>(size >> (8 * i));
    h = Fold(h, sizeBytes, 8);
    hash = h == 0 ? 1 : h;  // 0 means "never fingerprinted" everywhere
    return true;
}

namespace {

// The one way in for a fingerprint by path. A project from someone else may
// name any file of the recipient's as a sound: its hash and size would go
// into the next save, and the hash of a short file gives its content back.
// So only a regular file (looked at before it is opened, checked again on
// the descriptor) that opens as sound through that same descriptor is read,
// and then only its two windows. `size` 0: the file's own size.
bool FingerprintSound(const std::string& path, uint64_t wantedSize, uint64_t& hash, uint64_t& size) {
    if (path.empty()) return false;
    const RegularFile file = OpenRegularFile(path);
    if (file.fd < 0) return false;
    const uint64_t measured = wantedSize != 0 ? wantedSize : file.size;
    uint64_t h = 0;
    const bool ok = DescriptorOpensAsSound(file.fd, file.size) && FingerprintOpenFile(file.fd, measured, h);
    ::close(file.fd);
    if (!ok) return false;
    hash = h;
    size = measured;
    return true;
}

}  // namespace

bool FingerprintFileWithSize(const std::string& path, uint64_t size, uint64_t& hash) {
    uint64_t measured = 0;
    // Size 0 is an empty file, which is never a sound.
    return size != 0 && FingerprintSound(path, size, hash, measured);
}

bool FingerprintFile(const std::string& path, uint64_t& hash, uint64_t& size) {
    return FingerprintSound(path, 0, hash, size);
}

bool FileExistsWithSize(const std::string& path, uint64_t expectedSize) {
    if (path.empty()) return false;
    uint64_t actual = 0;
    if (!QueryFileSize(path, actual)) return false;
    return expectedSize == 0 || actual == expectedSize;
}
