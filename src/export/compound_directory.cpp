// compound_directory.cpp — balanced red-black sibling trees for a compound
// file's directory.
//
// Index
//   Byte access          little-endian reads and writes with bounds
//   SectorChains         the allocation table (with DIFAT sectors) and chains
//   NameLess             the directory's name order
//   BuildBalanced        sorted siblings -> balanced tree with red-black colours
//   BalanceCompoundDirectory
#include "export/compound_directory.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr size_t kEntrySize = 128;
constexpr uint8_t kRed = 0, kBlack = 1;
constexpr uint8_t kTypeStorage = 1, kTypeRoot = 5;

uint32_t Read32(const std::vector<uint8_t>& f, size_t at) {
    return uint32_t(f[at]) | uint32_t(f[at + 1]) << 8 | uint32_t(f[at + 2]) << 16 | uint32_t(f[at + 3]) << 24;
}

uint16_t Read16(const std::vector<uint8_t>& f, size_t at) { return uint16_t(f[at] | f[at + 1] << 8); }

void Write32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
}

struct Layout {
    size_t sectorSize = 0;
    std::vector<uint32_t> fat;

    bool SectorOffset(uint32_t sector, size_t fileSize, size_t* offset) const {
        size_t at = (size_t(sector) + 1) * sectorSize;
        if (sector >= 0xFFFFFFFA || at + sectorSize > fileSize) return false;
        *offset = at;
        return true;
    }
};

// The allocation table: its sector numbers come from the header's 109
// entries, then from the chain of DIFAT sectors (127 numbers and a link each).
bool ReadLayout(const std::vector<uint8_t>& f, Layout* layout, std::string* error) {
    static const uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (f.size() < 512 || std::memcmp(f.data(), kMagic, 8) != 0) {
        *error = "not a compound file";
        return false;
    }
    uint16_t shift = Read16(f, 30);
    if (shift != 9 && shift != 12) {
        *error = "unsupported sector size";
        return false;
    }
    layout->sectorSize = size_t(1) << shift;
    uint32_t fatSectors = Read32(f, 44);
    std::vector<uint32_t> fatList;
    for (uint32_t i = 0; i < 109 && fatList.size() < fatSectors; ++i) fatList.push_back(Read32(f, 76 + 4 * i));
    uint32_t difat = Read32(f, 68);
    size_t perDifat = layout->sectorSize / 4 - 1;
    for (size_t guard = 0; fatList.size() < fatSectors; ++guard) {
        size_t at = 0;
        if (guard > f.size() / layout->sectorSize || !layout->SectorOffset(difat, f.size(), &at)) {
            *error = "broken DIFAT chain";
            return false;
        }
        for (size_t i = 0; i < perDifat && fatList.size() < fatSectors; ++i) fatList.push_back(Read32(f, at + 4 * i));
        difat = Read32(f, at + 4 * perDifat);
    }
    size_t perSector = layout->sectorSize / 4;
    layout->fat.reserve(fatList.size() * perSector);
    for (uint32_t sector : fatList) {
        size_t at = 0;
        if (!layout->SectorOffset(sector, f.size(), &at)) {
            *error = "allocation table sector out of the file";
            return false;
        }
        for (size_t i = 0; i < perSector; ++i) layout->fat.push_back(Read32(f, at + 4 * i));
    }
    return true;
}

// File offsets of every directory entry, in stream id order.
bool DirectoryEntries(const std::vector<uint8_t>& f, const Layout& layout, std::vector<size_t>* entries,
                      std::string* error) {
    uint32_t sector = Read32(f, 48);
    size_t limit = f.size() / layout.sectorSize + 1;
    while (sector != kEndOfChain) {
        size_t at = 0;
        if (entries->size() / (layout.sectorSize / kEntrySize) > limit || sector >= layout.fat.size() ||
            !layout.SectorOffset(sector, f.size(), &at)) {
            *error = "broken directory chain";
            return false;
        }
        for (size_t i = 0; i < layout.sectorSize / kEntrySize; ++i) entries->push_back(at + i * kEntrySize);
        sector = layout.fat[sector];
    }
    return true;
}

// Directory order: shorter names first, then unit by unit after upper-casing.
// Our names are ASCII; other units compare as they are.
struct NameLess {
    const std::vector<uint8_t>* f;
    const std::vector<size_t>* entries;

    bool operator()(uint32_t a, uint32_t b) const {
        size_t ea = (*entries)[a], eb = (*entries)[b];
        uint16_t la = Read16(*f, ea + 64), lb = Read16(*f, eb + 64);
        if (la != lb) return la < lb;
        for (size_t i = 0; i + 2 < la && i < 64; i += 2) {
            uint16_t ca = Read16(*f, ea + i), cb = Read16(*f, eb + i);
            if (ca >= 'a' && ca <= 'z') ca = uint16_t(ca - 32);
            if (cb >= 'a' && cb <= 'z') cb = uint16_t(cb - 32);
            if (ca != cb) return ca < cb;
        }
        return false;
    }
};

// Builds the subtree of sorted[lo, hi) with the middle entry as its root and
// returns that root. Splitting in halves puts every empty link at depth h or
// h + 1 (h = depth of the deepest node): colouring the nodes of depth h red
// (when h > 0) and all others black gives every path the same black count and
// no red node a red child.
uint32_t BuildBalanced(std::vector<uint8_t>& f, const std::vector<size_t>& entries,
                       const std::vector<uint32_t>& sorted, size_t lo, size_t hi, int depth, int deepest) {
    if (lo >= hi) return kNoStream;
    size_t mid = lo + (hi - lo) / 2;
    uint32_t sid = sorted[mid];
    size_t at = entries[sid];
    Write32(f, at + 68, BuildBalanced(f, entries, sorted, lo, mid, depth + 1, deepest));
    Write32(f, at + 72, BuildBalanced(f, entries, sorted, mid + 1, hi, depth + 1, deepest));
    f[at + 67] = (depth == deepest && deepest > 0) ? kRed : kBlack;
    return sid;
}

}  // namespace

bool BalanceCompoundDirectory(std::vector<uint8_t>& file, std::string* error) {
    std::string ignored;
    if (!error) error = &ignored;
    Layout layout;
    std::vector<size_t> entries;
    if (!ReadLayout(file, &layout, error) ||
        !DirectoryEntries(file, layout, &entries, error))
        return false;
    if (entries.empty() || file[entries[0] + 66] != kTypeRoot) {
        *error = "no root entry";
        return false;
    }

    // Gather every storage's children first (walking the trees as libgsf
    // wrote them), then rewrite: a failure leaves the file untouched.
    std::vector<std::pair<uint32_t, std::vector<uint32_t>>> storages;
    std::vector<bool> seen(entries.size(), false);
    std::vector<uint32_t> pendingStorages = {0};
    seen[0] = true;
    while (!pendingStorages.empty()) {
        uint32_t storage = pendingStorages.back();
        pendingStorages.pop_back();
        std::vector<uint32_t> children, stack;
        uint32_t first = Read32(file, entries[storage] + 76);
        if (first != kNoStream) stack.push_back(first);
        while (!stack.empty()) {
            uint32_t sid = stack.back();
            stack.pop_back();
            if (sid >= entries.size() || seen[sid]) {
                *error = "directory entry out of range or reached twice";
                return false;
            }
            seen[sid] = true;
            children.push_back(sid);
            for (size_t link : {size_t(68), size_t(72)}) {
                uint32_t next = Read32(file, entries[sid] + link);
                if (next != kNoStream) stack.push_back(next);
            }
            uint8_t type = file[entries[sid] + 66];
            if (type == kTypeStorage) pendingStorages.push_back(sid);
        }
        storages.emplace_back(storage, std::move(children));
    }

    NameLess less{&file, &entries};
    for (auto& [storage, children] : storages) {
        std::sort(children.begin(), children.end(), less);
        int deepest = 0;
        for (size_t n = children.size(); n > 1; n >>= 1) ++deepest;  // floor(log2 n)
        Write32(file, entries[storage] + 76, BuildBalanced(file, entries, children, 0, children.size(), 0, deepest));
    }
    return true;
}
