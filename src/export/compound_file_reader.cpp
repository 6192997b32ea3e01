// compound_file_reader.cpp — the compound-file container read back: header,
// allocation tables, directory, mini stream, and the tree of entries.
//
// Index
//   Bytes               little-endian reads with bounds
//   Reader              the file in memory, its tables, chains of sectors
//   Directory           entries and the red-black sibling trees, in order
//   CompoundFileRead / CompoundFileKind / CompoundChild
#include "export/compound_file_reader.h"

#include <unistd.h>

#include <cstring>
#include <iterator>

#include "document/text_util.h"
#include "platform/file_util.h"

namespace {

constexpr uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint64_t kMaxFileBytes = uint64_t(1) << 31;

// --- Bytes ---------------------------------------------------------------------------

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// --- Reader --------------------------------------------------------------------------

struct Reader {
    std::vector<uint8_t> file;
    uint32_t sectorSize = 512;
    uint32_t miniSectorSize = 64;
    uint32_t miniCutoff = 4096;
    std::vector<uint32_t> fat, miniFat;
    std::vector<uint8_t> miniStream;
    uint64_t streamBytes = 0;  // of every stream read so far
    std::string error;

    bool Fail(const std::string& why) {
        if (error.empty()) error = why;
        return false;
    }

    uint64_t SectorCount() const { return file.size() / sectorSize - 1; }

    const uint8_t* Sector(uint32_t n) const {
        const uint64_t at = (uint64_t(n) + 1) * sectorSize;
        return at + sectorSize <= file.size() ? file.data() + at : nullptr;
    }

    // The bytes of the chain from `first` in `table`, each link of `unit`
    // bytes taken from `source` (null: the file's sectors); `size` bytes
    // when known, else the whole chain.
    bool Chain(const std::vector<uint32_t>& table, uint32_t first, uint32_t unit, const std::vector<uint8_t>* source,
               uint64_t size, bool sized, std::vector<uint8_t>& out) {
        out.clear();
        uint64_t links = 0;
        for (uint32_t at = first; at != kEndOfChain;) {
            if (at >= table.size()) return Fail("a chain leaves its table");
            if (++links > table.size()) return Fail("a chain loops");
            const uint8_t* bytes = nullptr;
            if (source) {
                const uint64_t offset = uint64_t(at) * unit;
                if (offset + unit > source->size()) return Fail("a chain leaves the mini stream");
                bytes = source->data() + offset;
            } else {
                bytes = Sector(at);
                if (!bytes) return Fail("a chain leaves the file");
            }
            out.insert(out.end(), bytes, bytes + unit);
            if (sized && out.size() >= size) break;
            at = table[at];
        }
        if (sized) {
            if (out.size() < size) return Fail("a stream is longer than its chain");
            out.resize(size_t(size));
        }
        return true;
    }

    bool ReadFat(const uint8_t* header) {
        const uint32_t fatSectors = Le32(header + 44);
        std::vector<uint32_t> difat;
        for (int i = 0; i < 109 && difat.size() < fatSectors; ++i) difat.push_back(Le32(header + 76 + 4 * i));
        uint32_t next = Le32(header + 68);
        for (uint32_t hops = 0; difat.size() < fatSectors && next != kEndOfChain && next != kNoStream; ++hops) {
            const uint8_t* s = Sector(next);
            if (!s || hops > SectorCount()) return Fail("the DIFAT chain is broken");
            const uint32_t perSector = sectorSize / 4 - 1;
            for (uint32_t i = 0; i < perSector && difat.size() < fatSectors; ++i) difat.push_back(Le32(s + 4 * i));
            next = Le32(s + 4 * perSector);
        }
        if (difat.size() < fatSectors) return Fail("fewer FAT sectors than the header names");
        for (uint32_t n : difat) {
            // Entries past the last sector describe nothing a chain can use;
            // a header naming the same FAT sector a million times would
            // otherwise turn a small file into gigabytes of table.
            if (fat.size() >= SectorCount()) break;
            const uint8_t* s = Sector(n);
            if (!s) return Fail("a FAT sector lies beyond the file");
            for (uint32_t i = 0; i < sectorSize / 4; ++i) fat.push_back(Le32(s + 4 * i));
        }
        return true;
    }
};

// --- Directory --------------------------------------------------------------------------

struct DirEntry {
    std::string name;
    uint8_t type = 0;  // 1 storage, 2 stream, 5 root
    uint32_t left = kNoStream, right = kNoStream, child = kNoStream;
    std::array<uint8_t, 16> classId{};
    uint32_t start = 0;
    uint64_t size = 0;
};

std::string EntryName(const uint8_t* e) {
    const uint16_t bytes = Le16(e + 64);
    std::u16string wide;
    for (uint16_t i = 0; i + 1 < bytes && i < 64; i += 2) {
        const char16_t c = char16_t(Le16(e + i));
        if (c == 0) break;
        wide.push_back(c);
    }
    return WideToUtf8(wide);
}

// Adds the siblings of the tree under `id`, in order, as children of `parent`.
bool AddSiblings(Reader& r, const std::vector<DirEntry>& dir, uint32_t id, CompoundEntry& parent,
                 std::vector<bool>& seen, int depth);

bool AddEntry(Reader& r, const std::vector<DirEntry>& dir, uint32_t id, CompoundEntry& parent, std::vector<bool>& seen,
              int depth) {
    const DirEntry& d = dir[id];
    auto entry = std::make_unique<CompoundEntry>();
    entry->name = d.name;
    entry->classId = d.classId;
    if (d.type == 1) {
        entry->storage = true;
        if (d.child != kNoStream && !AddSiblings(r, dir, d.child, *entry, seen, depth + 1)) return false;
    } else if (d.type == 2) {
        // Each sector belongs to one stream: streams that together hold more
        // than the file are entries sharing sectors, which could otherwise
        // copy one large stream once per entry.
        if (d.size > r.file.size()) return r.Fail("a stream is larger than the file");
        r.streamBytes += d.size;
        if (r.streamBytes > r.file.size() + r.miniStream.size()) return r.Fail("the streams hold more than the file");
        const bool mini = d.size < r.miniCutoff;
        if (!r.Chain(mini ? r.miniFat : r.fat, d.start, mini ? r.miniSectorSize : r.sectorSize,
                     mini ? &r.miniStream : nullptr, d.size, true, entry->bytes))
            return false;
    } else {
        return r.Fail("an entry of unknown type " + std::to_string(d.type));
    }
    parent.children.push_back(std::move(entry));
    return true;
}

bool AddSiblings(Reader& r, const std::vector<DirEntry>& dir, uint32_t id, CompoundEntry& parent,
                 std::vector<bool>& seen, int depth) {
    if (id == kNoStream) return true;
    if (id >= dir.size()) return r.Fail("a directory link leaves the directory");
    if (seen[id] || depth > 10000) return r.Fail("the directory loops");
    seen[id] = true;
    return AddSiblings(r, dir, dir[id].left, parent, seen, depth + 1) && AddEntry(r, dir, id, parent, seen, depth) &&
           AddSiblings(r, dir, dir[id].right, parent, seen, depth + 1);
}

}  // namespace

// --- CompoundFileRead -----------------------------------------------------------------------

bool CompoundFileRead(const std::string& path, CompoundFile& out, std::string* error) {
    Reader r;
    auto fail = [&](const std::string& why) {
        if (error) *error = r.error.empty() ? why : r.error;
        return false;
    };
    // A file from another program may be a pipe or a device in disguise:
    // only a regular file is read, and without waiting for a writer.
    std::string text;
    switch (ReadFileText(path, kMaxFileBytes, text)) {
        case kReadOk: break;
        case kReadCannotOpen: {
            const std::string problem = RegularFileProblem(path);
            return fail(problem.empty() ? "cannot open " + path : problem);
        }
        case kReadTooLarge: return fail("not a compound file of a size we read");
        default: return fail("cannot read " + path);
    }
    if (text.size() < 512) return fail("not a compound file of a size we read");
    r.file.assign(text.begin(), text.end());
    text = std::string();

    const uint8_t* h = r.file.data();
    if (std::memcmp(h, kMagic, 8) != 0) return fail("not a compound file");
    const uint16_t shift = Le16(h + 30), miniShift = Le16(h + 32);
    if ((shift != 9 && shift != 12) || miniShift != 6) return fail("sector sizes other than 512 or 4096 bytes");
    r.sectorSize = 1u << shift;
    r.miniSectorSize = 1u << miniShift;
    r.miniCutoff = Le32(h + 56);
    std::memcpy(out.fileKind.data(), h + 8, 16);
    out.sectorShift = shift;
    if (!r.ReadFat(h)) return fail("");

    std::vector<uint8_t> bytes;
    if (!r.Chain(r.fat, Le32(h + 48), r.sectorSize, nullptr, 0, false, bytes)) return fail("");
    std::vector<DirEntry> dir(bytes.size() / 128);
    for (size_t i = 0; i < dir.size(); ++i) {
        const uint8_t* e = bytes.data() + 128 * i;
        DirEntry& d = dir[i];
        d.name = EntryName(e);
        d.type = e[66];
        d.left = Le32(e + 68);
        d.right = Le32(e + 72);
        d.child = Le32(e + 76);
        std::memcpy(d.classId.data(), e + 80, 16);
        d.start = Le32(e + 116);
        d.size = shift == 9 ? Le32(e + 120) : (uint64_t(Le32(e + 124)) << 32 | Le32(e + 120));
    }
    if (dir.empty() || dir[0].type != 5) return fail("no root entry");

    const uint32_t miniFatStart = Le32(h + 60);
    if (miniFatStart != kEndOfChain && miniFatStart != kNoStream) {
        if (!r.Chain(r.fat, miniFatStart, r.sectorSize, nullptr, 0, false, bytes)) return fail("");
        for (size_t i = 0; i + 4 <= bytes.size(); i += 4) r.miniFat.push_back(Le32(bytes.data() + i));
        if (dir[0].size > 0 && !r.Chain(r.fat, dir[0].start, r.sectorSize, nullptr, dir[0].size, true, r.miniStream))
            return fail("");
    }

    out.root = CompoundEntry{};
    out.root.storage = true;
    out.root.name = dir[0].name;
    out.root.classId = dir[0].classId;
    std::vector<bool> seen(dir.size(), false);
    seen[0] = true;
    if (!AddSiblings(r, dir, dir[0].child, out.root, seen, 0)) return fail("");
    return true;
}

bool CompoundFileKind(const std::string& path, std::array<uint8_t, 16>* kind) {
    const RegularFile file = OpenRegularFile(path);
    if (file.fd < 0) return false;
    uint8_t head[24];
    const ssize_t got = ::pread(file.fd, head, sizeof head, 0);
    ::close(file.fd);
    if (got != ssize_t(sizeof head) || std::memcmp(head, kMagic, 8) != 0) return false;
    if (kind) std::memcpy(kind->data(), head + 8, 16);
    return true;
}

const CompoundEntry* CompoundChild(const CompoundEntry& storage, const std::string& name) {
    for (const auto& child : storage.children)
        if (child->name == name) return child.get();
    return nullptr;
}
