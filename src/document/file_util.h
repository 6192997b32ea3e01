// file_util.h — durable file writes, random bytes and readability checks.
//
// Index
//   FillRandomBytes       bytes from the kernel's random generator
//   WriteTextFileAtomic   write "<path>.tmp", flush, then replace <path>
//   WriteBytesFileAtomic  the same for a block of bytes
//   CommitAndReplaceFile  fsync a finished temporary file and move it over the target
//   FileIsReadable        whether a path opens for reading
//   FileNameOf            last component of a path ('/' or '\\' separated)
#pragma once

#include <cstddef>
#include <string>

void FillRandomBytes(void* buffer, size_t length);

// Writes `text` to path + ".tmp", syncs it and renames it over `path`. On any
// failure the previous target is intact, the temporary file is gone and the
// result is false.
bool WriteTextFileAtomic(const std::string& path, const std::string& text);
bool WriteBytesFileAtomic(const std::string& path, const void* data, size_t size);

// Flushes `tmpPath` to disk, renames it over `targetPath` (copying when the
// two lie on different file systems) and syncs the folder. On failure the
// temporary file is removed and the target is left as it was.
bool CommitAndReplaceFile(const std::string& tmpPath, const std::string& targetPath);

bool FileIsReadable(const std::string& path);

// The part after the last '/' or '\\' (the whole path when there is none).
std::string FileNameOf(const std::string& path);
