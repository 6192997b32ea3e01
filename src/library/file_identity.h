// file_identity.h — who a sound file is, independent of where it lies.
//
// Index
//   FileId            16 lower-case hex digits from 8 random bytes ("" = none)
//   FileFingerprint   {hash, size}: FNV-1a 64 over the first and last 64 KiB and the size
//   FileRef           the stored reference {id, path, hash, size}
//   FingerprintFile   measure a sound file's fingerprint
//   FingerprintFileWithSize  the same for a size already measured
//   FingerprintOpenFile      the folding itself, over an open file
//   FileExistsWithSize  cheap existence check used by the registry
#pragma once

#include <cstdint>
#include <string>

using FileId = std::string;

struct FileFingerprint {
    uint64_t hash = 0;  // 0 = never fingerprinted
    uint64_t size = 0;
};

struct FileRef {
    std::string id;
    std::string path;
    uint64_t hash = 0;
    uint64_t size = 0;
};

// True with both outputs set when the file is a sound that could be measured
// and read in full; false otherwise, outputs untouched. Only a regular file
// that libsndfile opens as sound (with a frame and a channel) is read, and of
// it only the two windows: whatever else a path names (a text file, a pipe, a
// device, a folder) is neither read nor described, so it is stored as an
// unreadable file is, with no id, hash or size.
bool FingerprintFile(const std::string& path, uint64_t& hash, uint64_t& size);

// FingerprintFile for a sound taken to be `size` bytes long. A file that
// holds fewer bytes than that (it shrank after its size was taken) gives
// false with `hash` untouched, never a hash of fewer bytes.
bool FingerprintFileWithSize(const std::string& path, uint64_t size, uint64_t& hash);

// Folds the first and last 64 KiB of `fd` (read with pread) and `size` into
// `hash`. Checks nothing about what the file is: callers pass a descriptor
// that has been through the gate of FingerprintFile. False on a short read.
bool FingerprintOpenFile(int fd, uint64_t size, uint64_t& hash);

// False for an empty path or a path whose size cannot be read; otherwise
// true when expectedSize is 0 or equals the file's size.
bool FileExistsWithSize(const std::string& path, uint64_t expectedSize);
