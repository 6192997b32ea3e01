// Tests of the compound-file writer, read back by readers that share no code
// with it: python3-olefile (strict, through compound_file_dump.py, which also
// checks header, DIFAT and red-black sibling trees) and libgsf's `gsf`.
//
// Index
//   Written / ReadBack     a file and what olefile found in it
//   Streams of every size, in storages with class ids
//   100,000 children in one storage
//   An allocation table past the header (DIFAT sectors)
//   Sibling trees of 0 to 40 entries with names that sort differently upper-cased
//   Failures: missing folder, full disk, bad names, misuse
//   Read back: entries that share one large stream are refused
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "export/aaf_test_tools.h"
#include "export/bwf_writer.h"
#include "export/compound_file_reader.h"
#include "export/compound_file_writer.h"
#include "persistence/json_value.h"
#include "support/child_process.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

const CompoundClassId kKind = {0x41, 0x41, 0x46, 0x42, 0x0d, 0x00, 0x4f, 0x4d,
                               0x06, 0x0e, 0x2b, 0x34, 0x01, 0x01, 0x01, 0xff};
const CompoundClassId kRootClass = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const CompoundClassId kStorageClass = {0xa5, 0x98, 0xb3, 0xb3, 0x90, 0x1c, 0xd4, 0x11,
                                       0x80, 0x53, 0x08, 0x00, 0x36, 0x21, 0x08, 0x04};

// Bytes that differ from stream to stream and position to position, so a
// misplaced sector or a stream read from the wrong start shows.
std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = uint8_t(x >> 24);
    }
    return bytes;
}

struct ReadBack {
    bool ok = false;
    std::string message;
    JsonValue facts;
    std::map<std::string, const JsonValue*> entries;  // by path
    std::vector<uint8_t> blob;                        // every stream's bytes, one after another
};

// Runs the olefile reader over the file at `path`.
ReadBack ReadWithOlefile(const std::string& path) {
    std::string script = std::string(TL_SOURCE_DIR) + "/tests/export/compound_file_dump.py";
    std::string blob = path + ".streams";
    CommandResult run = RunCommand({TL_TEST_PYTHON, script, path, blob});
    ReadBack back;
    back.message = run.err;
    if (run.exitCode != 0) return back;
    back.facts = ParseJsonText(run.out.c_str());
    back.ok = back.facts.type == kJsonObject;
    for (const JsonValue& e : JsonGetMember(back.facts, "entries").elements)
        back.entries[JsonGetMember(e, "path").text] = &e;
    back.blob = FileBytes(blob);
    return back;
}

std::vector<uint8_t> StreamBytes(const ReadBack& back, const std::string& path) {
    auto it = back.entries.find(path);
    if (it == back.entries.end() || !JsonHasMember(*it->second, "offset")) return {0xEE};  // never expected
    size_t offset = size_t(JsonGetMember(*it->second, "offset").number);
    size_t size = size_t(JsonGetMember(*it->second, "size").number);
    if (offset + size > back.blob.size()) return {0xEF};
    return std::vector<uint8_t>(back.blob.begin() + long(offset), back.blob.begin() + long(offset + size));
}

std::string Hex(const CompoundClassId& id) { return HexOf(id.data(), id.size()); }

void ExpectPreviousFileKept(const std::string& path, const std::string& contents, const char* what) {
    EXPECT_EQ(ReadWholeFile(path), contents) << what;
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << what;
}

bool WriteStream(CompoundFileWriter& w, const std::string& name, const std::vector<uint8_t>& bytes) {
    return CompoundFileWriteStream(w, name, bytes.data(), bytes.size());
}

}  // namespace

TEST(CompoundFileWriter, StreamsOfEverySizeReadBackByteExact) {
    TempDir dir;
    const std::string path = dir.File("sizes.cfb");
    const std::vector<size_t> sizes = {0, 1, 63, 64, 4095, 4096, 4097, 2 * 1024 * 1024 + 5};
    std::map<std::string, std::vector<uint8_t>> expected;
    CompoundFileWriter w;
    ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass)) << w.error;
    // The same sizes at the root and two storages down, mini and regular
    // streams interleaved, so the chains of the mini stream, its table and
    // the directory are cut by other sectors.
    for (int level = 0; level < 3; ++level) {
        std::string prefix;
        for (int l = 1; l <= level; ++l) prefix += "/Storage " + std::to_string(l);
        if (level > 0) {
            ASSERT_TRUE(CompoundFileBeginStorage(w, "Storage " + std::to_string(level), kStorageClass));
        }
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::string name = "stream " + std::to_string(sizes[i]);
            expected[prefix + "/" + name] = Pattern(sizes[i], uint32_t(level * 100 + i));
            ASSERT_TRUE(WriteStream(w, name, expected[prefix + "/" + name])) << w.error;
        }
    }
    ASSERT_TRUE(CompoundFileEndStorage(w) && CompoundFileEndStorage(w)) << w.error;
    ASSERT_TRUE(CompoundFileCommit(w)) << w.error;
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    ReadBack back = ReadWithOlefile(path);
    ASSERT_TRUE(back.ok) << back.message;
    const JsonValue& f = back.facts;
    EXPECT_EQ(JsonGetMember(f, "classId").text, Hex(kKind));
    EXPECT_EQ(JsonGetMember(f, "rootClassId").text, Hex(kRootClass));
    EXPECT_EQ(JsonGetInt(JsonGetMember(f, "majorVersion"), 0), 3);
    EXPECT_EQ(JsonGetInt(JsonGetMember(f, "minorVersion"), 0), 0x3E);
    EXPECT_EQ(JsonGetInt(JsonGetMember(f, "sectorShift"), 0), 9);
    EXPECT_EQ(JsonGetInt(JsonGetMember(f, "miniSectorShift"), 0), 6);
    EXPECT_EQ(JsonGetInt(JsonGetMember(f, "miniStreamCutoff"), 0), 4096);
    EXPECT_EQ(JsonGetInt(JsonGetMember(f, "difatSectors"), -1), 0);
    EXPECT_EQ(back.entries.size(), expected.size() + 2);
    for (const char* storage : {"/Storage 1", "/Storage 1/Storage 2"}) {
        ASSERT_TRUE(back.entries.count(storage)) << storage;
        EXPECT_EQ(JsonGetMember(*back.entries[storage], "classId").text, Hex(kStorageClass));
    }
    for (const auto& [name, bytes] : expected) {
        EXPECT_TRUE(StreamBytes(back, name) == bytes) << "olefile: " << name;
        CommandResult cat = RunCommand({"gsf", "cat", path, name.substr(1)});
        ASSERT_EQ(cat.exitCode, 0) << name << ": " << cat.err;
        EXPECT_TRUE(std::vector<uint8_t>(cat.out.begin(), cat.out.end()) == bytes) << "gsf: " << name;
    }
    // Nothing beyond what the streams need: their bytes, a 128th for the
    // allocation table, and a few sectors of directory and mini stream tables.
    size_t total = 0;
    for (const auto& [name, bytes] : expected) total += bytes.size();
    EXPECT_LT(size_t(JsonGetInt(JsonGetMember(f, "fileSize"), 0)), total + total / 120 + 32 * 1024);
}

// One storage of `count` streams "e{<hex>}" holding their number, written in
// an order unlike directory order ("e{10}" before "e{2}").
bool WriteWideStorage(const std::string& path, uint32_t count, std::string* error) {
    CompoundFileWriter w;
    bool ok = CompoundFileOpen(w, path, kKind, kRootClass) && CompoundFileBeginStorage(w, "Elements", kStorageClass);
    for (uint32_t i = 0; ok && i < count; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "e{%x}", i);
        uint8_t value[4] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 0x5A};
        ok = CompoundFileWriteStream(w, name, value, sizeof value);
    }
    ok = ok && CompoundFileEndStorage(w) && CompoundFileCommit(w);
    *error = w.error;
    return ok;
}

TEST(CompoundFileWriter, HundredThousandChildrenInOneStorage) {
    TempDir dir;
    const std::string path = dir.File("wide.cfb");
    std::string error;
    ASSERT_TRUE(WriteWideStorage(path, 100000, &error)) << error;

    // olefile walks the storage's tree (checked red-black and in order).
    ReadBack back = ReadWithOlefile(path);
    ASSERT_TRUE(back.ok) << back.message;
    EXPECT_EQ(back.entries.size(), 100001u);
    for (uint32_t i : {0u, 1u, 0xfu, 0x10u, 54321u, 99999u}) {
        char name[32];
        std::snprintf(name, sizeof name, "/Elements/e{%x}", i);
        std::vector<uint8_t> value = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), 0x5A};
        EXPECT_TRUE(StreamBytes(back, name) == value) << name;
    }

    // gsf inserts every child it reads into a sorted list, quadratic in the
    // children of a storage (over a minute for 100,000 here): it reads the
    // same tree at 20,000.
    const std::string smaller = dir.File("wide20k.cfb");
    ASSERT_TRUE(WriteWideStorage(smaller, 20000, &error)) << error;
    CommandResult cat = RunCommand({"gsf", "cat", smaller, "Elements/e{4e1f}"});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_EQ(HexOf(reinterpret_cast<const uint8_t*>(cat.out.data()), cat.out.size()), "1f4e005a");
}

// 236 allocation-table sectors cover about 15 MB; beyond that two DIFAT
// sectors list them.
TEST(CompoundFileWriter, LargeFileListsItsTableInDifatSectors) {
    TempDir dir;
    const std::string path = dir.File("large.cfb");
    CompoundFileWriter w;
    ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass));
    std::vector<std::vector<uint8_t>> big;
    for (uint32_t i = 0; i < 4; ++i) {
        big.push_back(Pattern(4 * 1024 * 1024 + 100 * i, 7 + i));
        ASSERT_TRUE(WriteStream(w, "big " + std::to_string(i), big.back()));
        ASSERT_TRUE(WriteStream(w, "small " + std::to_string(i), Pattern(100 + i, i)));
    }
    ASSERT_TRUE(CompoundFileCommit(w)) << w.error;

    ReadBack back = ReadWithOlefile(path);
    ASSERT_TRUE(back.ok) << back.message;
    EXPECT_GT(JsonGetInt(JsonGetMember(back.facts, "fatSectors"), 0), 236);
    EXPECT_EQ(JsonGetInt(JsonGetMember(back.facts, "difatSectors"), 0), 2);
    for (uint32_t i = 0; i < 4; ++i) {
        std::string name = "/big " + std::to_string(i);
        EXPECT_TRUE(StreamBytes(back, name) == big[i]) << name;
        EXPECT_TRUE(StreamBytes(back, "/small " + std::to_string(i)) == Pattern(100 + i, i));
    }
    // The last stream's sectors are listed only by the second DIFAT sector.
    CommandResult cat = RunCommand({"gsf", "cat", path, "big 3"});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    EXPECT_TRUE(std::vector<uint8_t>(cat.out.begin(), cat.out.end()) == big[3]);
}

// Storages of 0 to 40 children, named so that directory order (length, then
// upper case) differs from byte order: every tree must be red-black, in that
// order, and hold every child.
TEST(CompoundFileWriter, SiblingTreesOfEverySmallSize) {
    TempDir dir;
    const std::string path = dir.File("trees.cfb");
    const std::string alphabet = "a_B[cZ^y";
    CompoundFileWriter w;
    ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass));
    for (int n = 0; n <= 40; ++n) {
        ASSERT_TRUE(CompoundFileBeginStorage(w, "n" + std::to_string(n), kStorageClass));
        for (int i = 0; i < n; ++i) {
            std::string name(1, alphabet[size_t(i) % alphabet.size()]);
            name += std::string(size_t(i) / alphabet.size(), alphabet[size_t(i * 3) % alphabet.size()]);
            uint8_t b = uint8_t(i);
            if (i % 2) ASSERT_TRUE(CompoundFileWriteStream(w, name, &b, 1)) << w.error;
            else ASSERT_TRUE(CompoundFileBeginStorage(w, name, kStorageClass) && CompoundFileEndStorage(w));
        }
        ASSERT_TRUE(CompoundFileEndStorage(w));
    }
    ASSERT_TRUE(CompoundFileCommit(w)) << w.error;
    ReadBack back = ReadWithOlefile(path);
    ASSERT_TRUE(back.ok) << back.message;
    EXPECT_EQ(JsonArraySize(JsonGetMember(back.facts, "entries")), 41 + 40 * 41 / 2);
}

TEST(CompoundFileWriter, FailuresLeaveThePreviousFileAndNoTmp) {
    TempDir dir;
    const std::string path = dir.File("kept.cfb");
    ASSERT_TRUE(WriteWholeFile(path, "previous"));
    auto expectUntouched = [&](const char* what) { ExpectPreviousFileKept(path, "previous", what); };
    const std::vector<uint8_t> block = Pattern(64 * 1024, 1);

    {  // a folder that does not exist
        CompoundFileWriter w;
        EXPECT_FALSE(CompoundFileOpen(w, dir.File("missing/x.cfb"), kKind, kRootClass));
        EXPECT_NE(w.error.find("missing/x.cfb.tmp"), std::string::npos) << w.error;
        EXPECT_FALSE(WriteStream(w, "s", block));
        EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));
    }
    {  // the system refusing the data half-way (a file-size limit, in a
       // process of its own, stands in for a full disk)
        ChildProcess child([&] {
            ::signal(SIGXFSZ, SIG_IGN);
            const struct rlimit limit {1 << 20, 1 << 20};
            if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(9);
            CompoundFileWriter w;
            if (!CompoundFileOpen(w, path, kKind, kRootClass)) ::_exit(1);
            bool ok = true;
            for (int i = 0; ok && i < 40; ++i) ok = WriteStream(w, "block " + std::to_string(i), block);
            if (CompoundFileCommit(w) || ok) ::_exit(2);
            std::fprintf(stderr, "%s\n", w.error.c_str());
            ::_exit(w.error.find("File too large") != std::string::npos ? 0 : 3);
        });
        EXPECT_EQ(child.Wait(), 0) << "the write fails and says why";
        expectUntouched("write refused");
    }
    {  // a link planted at the temporary name (here to the kernel's
       // always-full device) is removed, never written through
        ASSERT_EQ(::symlink("/dev/full", (path + ".tmp").c_str()), 0);
        CompoundFileWriter w;
        ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass)) << w.error;
        EXPECT_TRUE(WriteStream(w, "block", block)) << w.error;
        CompoundFileAbandon(w);
        expectUntouched("planted link");
    }
    {  // a disk that fills up in the middle of the data (the writers' seam;
       // the AAF tests cover a file-size limit)
        WriteFault fault;
        ArmWriteFault(fault, 1, ENOSPC, "kept.cfb", true);
        CompoundFileWriter w;
        w.fault = &fault;
        ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass)) << w.error;
        bool ok = true;
        for (int i = 0; ok && i < 40; ++i) ok = WriteStream(w, "block " + std::to_string(i), block);
        EXPECT_FALSE(ok);
        EXPECT_FALSE(CompoundFileCommit(w));
        EXPECT_NE(w.error.find("No space"), std::string::npos) << w.error;
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
        expectUntouched("full disk");
    }
    // Names the directory cannot hold or tell apart, and a storage left
    // open, fail the file as a whole.
    const std::vector<std::pair<const char*, std::function<bool(CompoundFileWriter&)>>> misuse = {
        {"32 characters", [&](CompoundFileWriter& w) { return WriteStream(w, std::string(32, 'x'), block); }},
        {"empty name", [&](CompoundFileWriter& w) { return WriteStream(w, "", block); }},
        {"slash", [&](CompoundFileWriter& w) { return CompoundFileBeginStorage(w, "a/b", kStorageClass); }},
        {"not ASCII", [&](CompoundFileWriter& w) { return WriteStream(w, "\xC3\xA9", block); }},
        {"same name in other case",
         [&](CompoundFileWriter& w) { return WriteStream(w, "Name", block) && WriteStream(w, "nAME", block); }},
        {"left open", [&](CompoundFileWriter& w) { return CompoundFileBeginStorage(w, "open", kStorageClass); }},
        {"root ended", [&](CompoundFileWriter& w) { return CompoundFileEndStorage(w); }},
    };
    for (const auto& [what, step] : misuse) {
        CompoundFileWriter w;
        ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass));
        bool ok = step(w);
        ok = CompoundFileCommit(w) && ok;
        EXPECT_FALSE(ok) << what;
        EXPECT_FALSE(w.error.empty()) << what;
        expectUntouched(what);
    }
    {  // an abandoned writer removes its file, as does one simply dropped
        CompoundFileWriter w;
        ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass));
        ASSERT_TRUE(std::filesystem::exists(path + ".tmp"));
    }
    expectUntouched("dropped");

    // The 31-character name is the longest; then the file replaces the old one.
    CompoundFileWriter w;
    ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass));
    ASSERT_TRUE(WriteStream(w, std::string(31, 'x'), block)) << w.error;
    ASSERT_TRUE(CompoundFileCommit(w)) << w.error;
    EXPECT_NE(ReadWholeFile(path), "previous");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

// A hostile file can point every directory entry at one large stream: each
// entry would then hold its own copy, a small file asking for gigabytes.
TEST(CompoundFileRead, EntriesSharingOneLargeStreamAreRefused) {
    TempDir dir;
    const std::string path = dir.File("shared.cfb");
    CompoundFileWriter w;
    ASSERT_TRUE(CompoundFileOpen(w, path, kKind, kRootClass)) << w.error;
    ASSERT_TRUE(WriteStream(w, "big", Pattern(64 * 1024, 1)));
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(WriteStream(w, "s" + std::to_string(10 + i), Pattern(8, uint32_t(i))));
    ASSERT_TRUE(CompoundFileCommit(w)) << w.error;
    CompoundFile intact;
    std::string error;
    ASSERT_TRUE(CompoundFileRead(path, intact, &error)) << error;
    ASSERT_EQ(intact.root.children.size(), 21u);

    // Directory entries are 128 bytes: a UTF-16 name, the first sector at
    // 116 and the size at 120.
    std::vector<uint8_t> bytes = FileBytes(path);
    auto entryOf = [&](const std::string& name) -> long {
        for (size_t at = 512; at + 128 <= bytes.size(); at += 128) {
            bool same = bytes[at + 64] == 2 * (name.size() + 1);
            for (size_t k = 0; same && k < name.size(); ++k) same = bytes[at + 2 * k] == uint8_t(name[k]) && bytes[at + 2 * k + 1] == 0;
            if (same) return long(at);
        }
        return -1;
    };
    const long big = entryOf("big");
    ASSERT_GE(big, 0);
    for (int i = 0; i < 20; ++i) {
        const long at = entryOf("s" + std::to_string(10 + i));
        ASSERT_GE(at, 0);
        std::copy(bytes.begin() + big + 116, bytes.begin() + big + 128, bytes.begin() + at + 116);
    }
    ASSERT_TRUE(WriteWholeFile(path, std::string(bytes.begin(), bytes.end())));
    CompoundFile shared;
    EXPECT_FALSE(CompoundFileRead(path, shared, &error));
    EXPECT_EQ(error, "the streams hold more than the file");
}
