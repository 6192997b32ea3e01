// compound_file_writer.h — writes a compound file (version 3: 512-byte
// sectors, 64-byte mini sectors) straight to disk, one storage after another.
//
// Index
//   CompoundFileWriter         the file being written: open storages, sector chains, tables
//   CompoundFileOpen           create "<path>.tmp" with the header's and root's class ids
//   CompoundFileBeginStorage   a storage under the innermost open one
//   CompoundFileEndStorage     close it: its children become a red-black tree
//   CompoundFileWriteStream    a whole stream (mini stream below 4096 bytes)
//   CompoundFileCommit         tables, header, sync, rename over the path
//   CompoundFileAbandon        stop and remove "<path>.tmp"
//
// Usage:
//   CompoundFileWriter w;
//   if (!CompoundFileOpen(w, path, fileKind, rootClass)) ... w.error
//   CompoundFileWriteStream(w, "properties", bytes.data(), bytes.size());
//   CompoundFileBeginStorage(w, "Header-2", headerClass);
//   ...
//   CompoundFileEndStorage(w);
//   if (!CompoundFileCommit(w)) ... w.error   (the .tmp is gone, the old file kept)
//
// Every byte reaches the file once, in order, except the header and the first
// directory sector, which are written last in the places kept for them. A
// directory entry gets its id when its storage closes, so it is final when
// numbered and leaves memory at once: what stays in memory is the allocation
// table (4 bytes per 512-byte sector), the open storages' pending entries and
// a few sector buffers. After the first failure every call returns false and
// the reason stays in `error`; the destructor abandons an unfinished file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_util.h"

struct WriteFault;

using CompoundClassId = std::array<uint8_t, 16>;
using CompoundDirEntry = std::array<uint8_t, 128>;

// Bytes appended to the file in runs of whole sectors linked through the
// allocation table (the mini stream, the mini allocation table, the directory).
struct CompoundSectorChain {
    uint32_t first = 0xFFFFFFFE;  // end of chain: nothing written yet
    uint32_t last = 0xFFFFFFFE;
    std::vector<uint8_t> pending;  // bytes not yet written, fewer than a run
    uint64_t bytes = 0;            // all bytes appended, written or pending
};

struct CompoundOpenStorage {
    size_t entryIndex = 0;  // its own entry among its parent's pending children
    std::vector<CompoundDirEntry> children;
};

struct CompoundFileWriter {
    std::string path, tmpPath;
    // The export's held folder the file is written in, when its path names
    // one ("/proc/self/fd/<n>/<name>"); fd -1 otherwise.
    HeldFolder held;
    int fd = -1;
    std::string error;  // the first failure, empty while all is well

    std::vector<uint32_t> fat;     // one entry per sector of the file
    std::vector<uint8_t> out;      // sectors waiting to be written
    uint32_t nextSector = 0;       // sectors allocated so far
    CompoundSectorChain mini, miniFat, directory;
    uint32_t miniSectors = 0;
    uint32_t nextId = 1;  // 0 is the root's
    CompoundDirEntry rootEntry{};
    std::array<CompoundDirEntry, 4> firstDirSector{};  // ids 0-3, written last
    CompoundClassId fileKind{};
    std::vector<CompoundOpenStorage> open;  // open[0] is the root
    // A test's full disk (write_fault.h), met by every write; null in the program.
    WriteFault* fault = nullptr;

    CompoundFileWriter() = default;
    CompoundFileWriter(const CompoundFileWriter&) = delete;
    CompoundFileWriter& operator=(const CompoundFileWriter&) = delete;
    ~CompoundFileWriter();
};

// Creates "<path>.tmp" (replacing any left there). `fileKind` goes into the
// header's class id, `rootClass` into the root storage's entry.
bool CompoundFileOpen(CompoundFileWriter& w, const std::string& path, const CompoundClassId& fileKind,
                      const CompoundClassId& rootClass);

// Names are 1 to 31 printable ASCII characters without '/', '\', ':' and
// '!', unique within their storage ignoring case.
bool CompoundFileBeginStorage(CompoundFileWriter& w, const std::string& name, const CompoundClassId& classId);
bool CompoundFileEndStorage(CompoundFileWriter& w);
bool CompoundFileWriteStream(CompoundFileWriter& w, const std::string& name, const uint8_t* data, size_t size);

// Closes the root (storages left open fail the file), writes the tables and
// the header, forces the file to disk and renames it over the path. On
// failure nothing is left but the previous file.
bool CompoundFileCommit(CompoundFileWriter& w);
void CompoundFileAbandon(CompoundFileWriter& w);
