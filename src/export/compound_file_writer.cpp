// compound_file_writer.cpp — a version 3 compound file written in one pass.
//
// Index
//   Constants and byte helpers
//   Fail / WriteOut / AppendToFile    the first error; buffered, checked writes
//   AllocateSectors                   contiguous sectors chained in the allocation table
//   ChainAppend / ChainFlush          runs of sectors for the mini stream, mini table, directory
//   Entries                           directory entries, names and their order
//   NumberChildren                    ids, red-black sibling tree, entries out to the directory
//   CompoundFileOpen / BeginStorage / EndStorage / WriteStream
//   WriteTables / WriteHeader         allocation table, DIFAT, header
//   CompoundFileCommit / CompoundFileAbandon
//
// File layout: the header; sector 0, the first directory sector (ids 0-3,
// filled in at the end); then data in the order it arrives: large streams in
// their own contiguous sectors, the mini stream, the mini allocation table
// and the directory in runs of sectors as they fill; at the end the
// allocation table and the DIFAT sectors.
#include "export/compound_file_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "export/write_fault.h"
#include "platform/file_util.h"

namespace {

constexpr size_t kSectorSize = 512;
constexpr size_t kMiniSectorSize = 64;
constexpr size_t kMiniStreamCutoff = 4096;
constexpr size_t kEntriesPerSector = kSectorSize / 4;  // allocation table entries
constexpr size_t kHeaderFatEntries = 109;
constexpr size_t kFatPerDifatSector = kEntriesPerSector - 1;  // the last word links on
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFatSector = 0xFFFFFFFD;
constexpr uint32_t kDifatSector = 0xFFFFFFFC;
constexpr uint32_t kMaxSector = 0xFFFFFFFA;  // sector numbers stay below the markers
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint8_t kTypeStorage = 1, kTypeStream = 2, kTypeRoot = 5;
constexpr uint8_t kRed = 0, kBlack = 1;
// Chains are written 16 sectors at a time: few system calls, and readers
// following a chain find mostly contiguous runs.
constexpr size_t kRunSectors = 16;
constexpr size_t kRunBytes = kRunSectors * kSectorSize;
constexpr size_t kOutFlushBytes = size_t(1) << 20;
constexpr size_t kMaxNameUnits = 31;

// Directory entry fields.
constexpr size_t kNameLength = 64, kType = 66, kColour = 67, kLeft = 68, kRight = 72, kChild = 76,
                 kClassId = 80, kStart = 116, kSize = 120;

void Put16(uint8_t* at, uint16_t v) {
    at[0] = uint8_t(v);
    at[1] = uint8_t(v >> 8);
}

void Put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = uint8_t(v >> (8 * i));
}

uint16_t Get16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

size_t CeilDiv(size_t a, size_t b) { return (a + b - 1) / b; }

// --- Fail / WriteOut / AppendToFile --------------------------------------------

bool Fail(CompoundFileWriter& w, const std::string& text) {
    if (w.error.empty()) w.error = text;
    return false;
}

bool SystemFail(CompoundFileWriter& w, const std::string& what, int error) {
    NoteWriteFailure(w.path, error);
    return Fail(w, what + " " + w.tmpPath + ": " + std::strerror(error));
}

bool WriteAt(CompoundFileWriter& w, const uint8_t* data, size_t size, off_t* offset) {
    if (size > 0 && WriteFaultHits(w.fault, FileNameOf(w.path))) return SystemFail(w, "cannot write", errno);
    while (size > 0) {
        ssize_t n = offset ? ::pwrite(w.fd, data, size, *offset) : ::write(w.fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return SystemFail(w, "cannot write", n < 0 ? errno : EIO);
        data += n;
        size -= size_t(n);
        if (offset) *offset += n;
    }
    return true;
}

bool WriteOut(CompoundFileWriter& w) {
    bool ok = WriteAt(w, w.out.data(), w.out.size(), nullptr);
    w.out.clear();
    return ok;
}

// Bytes go to the file in order; large blocks skip the buffer.
bool AppendToFile(CompoundFileWriter& w, const uint8_t* data, size_t size) {
    if (w.out.size() + size > kOutFlushBytes && !WriteOut(w)) return false;
    if (size >= kOutFlushBytes) return WriteAt(w, data, size, nullptr);
    w.out.insert(w.out.end(), data, data + size);
    return true;
}

bool AppendZeros(CompoundFileWriter& w, size_t size) {
    static const uint8_t kZeros[kSectorSize] = {};
    return size == 0 || AppendToFile(w, kZeros, size);
}

// --- AllocateSectors ---------------------------------------------------------------

// Appends `sectors` sectors holding `data` (zero-padded), chained one to the
// next and ending the chain. Returns the first sector number via *first.
bool AllocateSectors(CompoundFileWriter& w, const uint8_t* data, size_t size, size_t sectors, uint32_t* first) {
    if (sectors > kMaxSector - w.nextSector) return Fail(w, "compound file too large");
    *first = w.nextSector;
    for (size_t i = 1; i < sectors; ++i) w.fat.push_back(*first + uint32_t(i));
    w.fat.push_back(kEndOfChain);
    w.nextSector += uint32_t(sectors);
    return AppendToFile(w, data, size) && AppendZeros(w, sectors * kSectorSize - size);
}

// --- ChainAppend / ChainFlush ---------------------------------------------------------

bool EmitRun(CompoundFileWriter& w, CompoundSectorChain& chain) {
    uint32_t first = 0;
    size_t sectors = CeilDiv(chain.pending.size(), kSectorSize);
    if (!AllocateSectors(w, chain.pending.data(), chain.pending.size(), sectors, &first)) return false;
    if (chain.last == kEndOfChain) chain.first = first;
    else w.fat[chain.last] = first;
    chain.last = first + uint32_t(sectors) - 1;
    chain.pending.clear();
    return true;
}

bool ChainAppend(CompoundFileWriter& w, CompoundSectorChain& chain, const uint8_t* data, size_t size) {
    chain.bytes += size;
    while (size > 0) {
        if (chain.pending.capacity() < kRunBytes) chain.pending.reserve(kRunBytes);
        size_t take = std::min(size, kRunBytes - chain.pending.size());
        chain.pending.insert(chain.pending.end(), data, data + take);
        data += take;
        size -= take;
        if (chain.pending.size() == kRunBytes && !EmitRun(w, chain)) return false;
    }
    return true;
}

// Writes what is pending, the last sector filled with `pad`.
bool ChainFlush(CompoundFileWriter& w, CompoundSectorChain& chain, uint8_t pad) {
    if (chain.pending.empty()) return true;
    chain.pending.resize(CeilDiv(chain.pending.size(), kSectorSize) * kSectorSize, pad);
    return EmitRun(w, chain);
}

size_t ChainSectors(const CompoundSectorChain& chain) { return CeilDiv(size_t(chain.bytes), kSectorSize); }

// --- Entries --------------------------------------------------------------------------

CompoundDirEntry UnusedEntry() {
    CompoundDirEntry e{};
    Put32(e.data() + kLeft, kNoStream);
    Put32(e.data() + kRight, kNoStream);
    Put32(e.data() + kChild, kNoStream);
    return e;
}

bool ValidName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameUnits) return false;
    for (char c : name)
        if (c < 0x20 || c > 0x7E || c == '/' || c == '\\' || c == ':' || c == '!') return false;
    return true;
}

CompoundDirEntry MakeEntry(const std::string& name, uint8_t type, const CompoundClassId& classId, uint32_t start,
                           uint32_t size) {
    CompoundDirEntry e = UnusedEntry();
    for (size_t i = 0; i < name.size(); ++i) Put16(e.data() + 2 * i, uint8_t(name[i]));
    Put16(e.data() + kNameLength, uint16_t(2 * (name.size() + 1)));
    e[kType] = type;
    e[kColour] = kBlack;
    std::memcpy(e.data() + kClassId, classId.data(), classId.size());
    Put32(e.data() + kStart, start);
    Put32(e.data() + kSize, size);
    return e;
}

std::string EntryName(const CompoundDirEntry& e) {
    std::string name;
    for (size_t i = 0; i + 2 < Get16(e.data() + kNameLength); i += 2) name += char(e[i]);
    return name;
}

uint16_t UpperUnit(uint16_t c) { return c >= 'a' && c <= 'z' ? uint16_t(c - 32) : c; }

// Directory order: shorter names first, then unit by unit after
// upper-casing (names are ASCII, so upper-casing is the ASCII one).
// Returns <0, 0 or >0.
int CompareNames(const CompoundDirEntry& a, const CompoundDirEntry& b) {
    uint16_t la = Get16(a.data() + kNameLength), lb = Get16(b.data() + kNameLength);
    if (la != lb) return la < lb ? -1 : 1;
    for (size_t i = 0; i + 2 < la; i += 2) {
        uint16_t ca = UpperUnit(Get16(a.data() + i)), cb = UpperUnit(Get16(b.data() + i));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return 0;
}

// --- NumberChildren ---------------------------------------------------------------------

// Links sorted[lo, hi) into a subtree rooted at its middle entry and returns
// that entry's id. Halving puts every level but the deepest full, so every
// empty link lies at depth `deepest` or one below: nodes at `deepest` are red
// (when deeper than the root), the rest black, which gives every path the same
// count of black entries and no red entry a red child.
uint32_t LinkBalanced(std::vector<CompoundDirEntry>& children, const std::vector<uint32_t>& sorted, uint32_t base,
                      size_t lo, size_t hi, int depth, int deepest) {
    if (lo >= hi) return kNoStream;
    size_t mid = lo + (hi - lo) / 2;
    uint8_t* e = children[sorted[mid]].data();
    Put32(e + kLeft, LinkBalanced(children, sorted, base, lo, mid, depth + 1, deepest));
    Put32(e + kRight, LinkBalanced(children, sorted, base, mid + 1, hi, depth + 1, deepest));
    e[kColour] = depth == deepest && deepest > 0 ? kRed : kBlack;
    return base + uint32_t(mid);
}

bool EmitEntry(CompoundFileWriter& w, uint32_t id, const CompoundDirEntry& e) {
    if (id < w.firstDirSector.size()) {
        w.firstDirSector[id] = e;
        return true;
    }
    return ChainAppend(w, w.directory, e.data(), e.size());
}

// A storage is closing: its children take the next ids in directory order,
// are linked as a balanced tree and written out. *root is the tree's root.
bool NumberChildren(CompoundFileWriter& w, std::vector<CompoundDirEntry>& children, uint32_t* root) {
    *root = kNoStream;
    if (children.empty()) return true;
    if (children.size() >= kNoStream - w.nextId) return Fail(w, "too many directory entries");
    std::vector<uint32_t> sorted(children.size());
    for (uint32_t i = 0; i < sorted.size(); ++i) sorted[i] = i;
    std::sort(sorted.begin(), sorted.end(),
              [&](uint32_t a, uint32_t b) { return CompareNames(children[a], children[b]) < 0; });
    for (size_t i = 1; i < sorted.size(); ++i)
        if (CompareNames(children[sorted[i - 1]], children[sorted[i]]) == 0)
            return Fail(w, "name \"" + EntryName(children[sorted[i]]) + "\" twice in one storage");
    int deepest = 0;
    for (size_t n = children.size(); n > 1; n >>= 1) ++deepest;  // floor(log2 n)
    uint32_t base = w.nextId;
    *root = LinkBalanced(children, sorted, base, 0, sorted.size(), 0, deepest);
    w.nextId += uint32_t(children.size());
    for (size_t i = 0; i < sorted.size(); ++i)
        if (!EmitEntry(w, base + uint32_t(i), children[sorted[i]])) return false;
    return true;
}

bool Writable(CompoundFileWriter& w) {
    if (!w.error.empty()) return false;
    if (w.fd < 0 || w.open.empty()) return Fail(w, "compound file not open");
    return true;
}

bool AddEntry(CompoundFileWriter& w, const std::string& name, const CompoundDirEntry& e) {
    if (!ValidName(name)) return Fail(w, "invalid entry name \"" + name + "\"");
    w.open.back().children.push_back(e);
    return true;
}

}  // namespace

// --- CompoundFileOpen / BeginStorage / EndStorage / WriteStream -----------------------

CompoundFileWriter::~CompoundFileWriter() {
    if (fd >= 0) CompoundFileAbandon(*this);
}

namespace {

// The descriptor of the folder a path names as "/proc/self/fd/<n>/<name>"
// (an export's folder held open), or -1 for any other path.
int HeldFolderOfPath(const std::string& path) {
    static const std::string kPrefix = "/proc/self/fd/";
    if (path.compare(0, kPrefix.size(), kPrefix) != 0) return -1;
    size_t at = kPrefix.size(), end = at;
    while (end < path.size() && path[end] >= '0' && path[end] <= '9') ++end;
    if (end == at || end - at > 9 || end >= path.size() || path[end] != '/' ||
        path.find('/', end + 1) != std::string::npos)
        return -1;
    return std::atoi(path.substr(at, end - at).c_str());
}

}  // namespace

bool CompoundFileOpen(CompoundFileWriter& w, const std::string& path, const CompoundClassId& fileKind,
                      const CompoundClassId& rootClass) {
    if (!w.path.empty() || w.fd >= 0) return Fail(w, "compound file writer used twice");
    if (path.empty()) return Fail(w, "no path");
    w.path = path;
    // In a folder an export holds, the temporary file takes a name no file
    // has had and the finished file never replaces what stands at its name;
    // by path, a stale temporary file or a link planted at "<path>.tmp" is
    // removed, never written through.
    int error = 0;
    w.held.fd = HeldFolderOfPath(path);
    w.tmpPath = w.held.fd >= 0 ? NewTemporaryPathFor(path) : path + ".tmp";
    w.fd = OpenNewTemporaryFileIn(w.held.fd >= 0 ? &w.held : nullptr, w.tmpPath, &error);
    if (w.fd < 0) return SystemFail(w, "cannot create", error);
    w.fileKind = fileKind;
    w.rootEntry = MakeEntry("Root Entry", kTypeRoot, rootClass, kEndOfChain, 0);
    w.firstDirSector.fill(UnusedEntry());
    w.open.emplace_back();
    // The header and the first directory sector are written last, in place.
    uint32_t first = 0;
    if (!AppendZeros(w, kSectorSize) || !AllocateSectors(w, nullptr, 0, 1, &first)) {
        CompoundFileAbandon(w);
        return false;
    }
    w.directory.first = w.directory.last = first;
    w.directory.bytes = kSectorSize;
    return true;
}

bool CompoundFileBeginStorage(CompoundFileWriter& w, const std::string& name, const CompoundClassId& classId) {
    if (!Writable(w) || !AddEntry(w, name, MakeEntry(name, kTypeStorage, classId, 0, 0))) return false;
    CompoundOpenStorage storage;
    storage.entryIndex = w.open.back().children.size() - 1;
    w.open.push_back(std::move(storage));
    return true;
}

bool CompoundFileEndStorage(CompoundFileWriter& w) {
    if (!Writable(w)) return false;
    if (w.open.size() < 2) return Fail(w, "no storage open to end");
    CompoundOpenStorage closing = std::move(w.open.back());
    w.open.pop_back();
    uint32_t root = kNoStream;
    if (!NumberChildren(w, closing.children, &root)) return false;
    Put32(w.open.back().children[closing.entryIndex].data() + kChild, root);
    return true;
}

bool CompoundFileWriteStream(CompoundFileWriter& w, const std::string& name, const uint8_t* data, size_t size) {
    if (!Writable(w)) return false;
    if (!ValidName(name)) return Fail(w, "invalid entry name \"" + name + "\"");
    // Stream sizes are 32 bits in a version 3 file.
    if (size > 0xFFFFFFFFu) return Fail(w, "stream \"" + name + "\" too large");
    uint32_t start = kEndOfChain;
    if (size >= kMiniStreamCutoff) {
        if (!AllocateSectors(w, data, size, CeilDiv(size, kSectorSize), &start)) return false;
    } else if (size > 0) {
        // Mini sectors of one stream are consecutive in the mini stream.
        size_t count = CeilDiv(size, kMiniSectorSize);
        if (count > kMaxSector - w.miniSectors) return Fail(w, "mini stream too large");
        start = w.miniSectors;
        static const uint8_t kZeros[kMiniSectorSize] = {};
        uint8_t links[4 * (kMiniStreamCutoff / kMiniSectorSize)];
        for (size_t i = 0; i < count; ++i) Put32(links + 4 * i, i + 1 < count ? start + uint32_t(i) + 1 : kEndOfChain);
        w.miniSectors += uint32_t(count);
        if (!ChainAppend(w, w.mini, data, size) ||
            !ChainAppend(w, w.mini, kZeros, count * kMiniSectorSize - size) ||
            !ChainAppend(w, w.miniFat, links, 4 * count))
            return false;
    }
    w.open.back().children.push_back(MakeEntry(name, kTypeStream, CompoundClassId{}, start, uint32_t(size)));
    return true;
}

// --- WriteTables / WriteHeader -------------------------------------------------------------

namespace {

struct TableLayout {
    uint32_t fatStart = 0, fatSectors = 0, difatStart = 0, difatSectors = 0;
};

// The allocation table covers every sector, its own and the DIFAT's included:
// grow both until the table has room for all of them.
bool WriteTables(CompoundFileWriter& w, TableLayout* t) {
    size_t dataSectors = w.nextSector, fatSectors = 0, difatSectors = 0;
    for (;;) {
        difatSectors = fatSectors > kHeaderFatEntries ? CeilDiv(fatSectors - kHeaderFatEntries, kFatPerDifatSector) : 0;
        size_t need = CeilDiv(dataSectors + fatSectors + difatSectors, kEntriesPerSector);
        if (need <= fatSectors) break;
        fatSectors = need;
    }
    if (fatSectors + difatSectors > kMaxSector - dataSectors) return Fail(w, "compound file too large");
    t->fatStart = uint32_t(dataSectors);
    t->fatSectors = uint32_t(fatSectors);
    t->difatStart = uint32_t(dataSectors + fatSectors);
    t->difatSectors = uint32_t(difatSectors);
    w.fat.resize(fatSectors * kEntriesPerSector, kFreeSector);
    for (size_t i = 0; i < fatSectors; ++i) w.fat[t->fatStart + i] = kFatSector;
    for (size_t i = 0; i < difatSectors; ++i) w.fat[t->difatStart + i] = kDifatSector;
    w.nextSector += uint32_t(fatSectors + difatSectors);

    std::vector<uint8_t> sector(kSectorSize);
    for (size_t s = 0; s < fatSectors; ++s) {
        for (size_t i = 0; i < kEntriesPerSector; ++i) Put32(sector.data() + 4 * i, w.fat[s * kEntriesPerSector + i]);
        if (!AppendToFile(w, sector.data(), kSectorSize)) return false;
    }
    // DIFAT sectors list the allocation table's sectors past the header's 109.
    for (size_t d = 0; d < difatSectors; ++d) {
        for (size_t i = 0; i < kFatPerDifatSector; ++i) {
            size_t listed = kHeaderFatEntries + d * kFatPerDifatSector + i;
            Put32(sector.data() + 4 * i, listed < fatSectors ? t->fatStart + uint32_t(listed) : kFreeSector);
        }
        Put32(sector.data() + 4 * kFatPerDifatSector,
              d + 1 < difatSectors ? t->difatStart + uint32_t(d) + 1 : kEndOfChain);
        if (!AppendToFile(w, sector.data(), kSectorSize)) return false;
    }
    return WriteOut(w);
}

std::vector<uint8_t> Header(const CompoundFileWriter& w, const TableLayout& t) {
    static const uint8_t kMagic[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::vector<uint8_t> h(kSectorSize, 0);
    std::memcpy(h.data(), kMagic, sizeof kMagic);
    std::memcpy(h.data() + 8, w.fileKind.data(), w.fileKind.size());
    Put16(h.data() + 24, 0x003E);  // minor version
    Put16(h.data() + 26, 0x0003);  // major version
    Put16(h.data() + 28, 0xFFFE);  // little-endian
    Put16(h.data() + 30, 9);       // 512-byte sectors
    Put16(h.data() + 32, 6);       // 64-byte mini sectors
    Put32(h.data() + 44, t.fatSectors);
    Put32(h.data() + 48, w.directory.first);
    Put32(h.data() + 56, uint32_t(kMiniStreamCutoff));
    size_t miniFatSectors = ChainSectors(w.miniFat);
    Put32(h.data() + 60, miniFatSectors ? w.miniFat.first : kEndOfChain);
    Put32(h.data() + 64, uint32_t(miniFatSectors));
    Put32(h.data() + 68, t.difatSectors ? t.difatStart : kEndOfChain);
    Put32(h.data() + 72, t.difatSectors);
    for (size_t i = 0; i < kHeaderFatEntries; ++i)
        Put32(h.data() + 76 + 4 * i, i < t.fatSectors ? t.fatStart + uint32_t(i) : kFreeSector);
    return h;
}

bool Finish(CompoundFileWriter& w) {
    if (!Writable(w)) return false;
    if (w.open.size() != 1) return Fail(w, "a storage was left open");
    uint32_t root = kNoStream;
    if (!NumberChildren(w, w.open.back().children, &root)) return false;
    w.open.clear();
    if (!ChainFlush(w, w.mini, 0) || !ChainFlush(w, w.miniFat, 0xFF)) return false;
    Put32(w.rootEntry.data() + kChild, root);
    Put32(w.rootEntry.data() + kStart, w.miniSectors ? w.mini.first : kEndOfChain);
    Put32(w.rootEntry.data() + kSize, w.miniSectors * uint32_t(kMiniSectorSize));
    w.firstDirSector[0] = w.rootEntry;
    // The directory's last sector is completed with unused entries.
    const CompoundDirEntry unused = UnusedEntry();
    for (uint32_t id = w.nextId; id % 4 != 0; ++id)
        if (id >= 4 && !ChainAppend(w, w.directory, unused.data(), unused.size())) return false;
    TableLayout t;
    if (!ChainFlush(w, w.directory, 0) || !WriteTables(w, &t)) return false;

    std::vector<uint8_t> first(kSectorSize);
    for (size_t i = 0; i < w.firstDirSector.size(); ++i)
        std::memcpy(first.data() + i * 128, w.firstDirSector[i].data(), 128);
    std::vector<uint8_t> header = Header(w, t);
    off_t at = kSectorSize;
    if (!WriteAt(w, first.data(), first.size(), &at)) return false;
    at = 0;
    return WriteAt(w, header.data(), header.size(), &at);
}

}  // namespace

// --- CompoundFileCommit / CompoundFileAbandon -----------------------------------------------

bool CompoundFileCommit(CompoundFileWriter& w) {
    if (!Finish(w)) {
        CompoundFileAbandon(w);
        return false;
    }
    int fd = w.fd;
    w.fd = -1;
    std::vector<uint32_t>().swap(w.fat);
    // Committed through the descriptor it was written through.
    FileReplaceFailure failure;
    const bool committed = CommitTemporaryFileIn(fd, w.held.fd >= 0 ? &w.held : nullptr, w.tmpPath, w.path, &failure);
    ::close(fd);  // forced to disk already: a close adds nothing to report
    if (!committed) NoteWriteFailure(w.path, failure.error != 0 ? failure.error : EIO);
    if (!committed)
        return Fail(w, std::string(failure.step == kReplaceMove ? "cannot rename" : "cannot sync") + " " +
                           w.tmpPath + ": " + std::strerror(failure.error));
    return true;
}

void CompoundFileAbandon(CompoundFileWriter& w) {
    if (w.error.empty()) w.error = "compound file abandoned";
    w.open.clear();
    if (w.fd >= 0) {
        ::close(w.fd);
        w.fd = -1;
        RemoveTemporaryIn(w.held.fd >= 0 ? &w.held : nullptr, w.tmpPath);
    }
}
