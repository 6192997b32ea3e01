// compound_file_reader.h — reads a compound file (the container of AAF files)
// whole into memory: its storages and streams as a tree.
//
// Index
//   CompoundEntry          one storage or stream: name, class id, children, bytes
//   CompoundFile           the tree, with the header's class id (the AAF file kind)
//   CompoundFileRead       read and check a file
//   CompoundFileKind       the header's class id alone, without reading the rest
//   CompoundChild          a child of a storage by name
//
// Sectors of 512 or 4096 bytes; the allocation tables, the directory and every
// stream are followed through their chains with bounds and loop checks, so a
// damaged or hostile file gives an error, never a crash or a hang.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CompoundEntry {
    std::string name;  // UTF-8 of the stored UTF-16 name
    bool storage = false;
    std::array<uint8_t, 16> classId{};
    std::vector<std::unique_ptr<CompoundEntry>> children;  // storages: in directory order
    std::vector<uint8_t> bytes;                            // streams: their contents
};

struct CompoundFile {
    std::array<uint8_t, 16> fileKind{};  // the header's class id
    uint16_t sectorShift = 9;
    CompoundEntry root;
};

// False with `error` set when the file cannot be read or is not a sound
// compound file.
bool CompoundFileRead(const std::string& path, CompoundFile& out, std::string* error);

// The header's class id of the compound file at `path`; false when the file
// does not begin with a compound-file header.
bool CompoundFileKind(const std::string& path, std::array<uint8_t, 16>* kind);

// The child of `storage` named `name` (compared exactly), or nullptr.
const CompoundEntry* CompoundChild(const CompoundEntry& storage, const std::string& name);
