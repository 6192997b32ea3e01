// File fingerprints and the existence check.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "library/file_identity.h"
#include "support/temp_dir.h"

namespace {

// Straight FNV-1a over a byte string with the fingerprint's basis; anchored
// by the known vectors below, then used to spell out which bytes a window
// layout should fold.
uint64_t ReferenceFold(const std::string& bytes) {
    uint64_t h = 0x14650FB0739D0383ull;
    for (unsigned char b : bytes) h = (h ^ b) * 0x100000001B3ull;
    return h;
}

std::string SizeBytes(uint64_t size) {
    std::string out;
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(size >> (8 * i)));
    return out;
}

std::string Pattern(size_t n, unsigned seed) {
    std::string out(n, '\0');
    uint32_t x = seed;
    for (char& c : out) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 16);
    }
    return out;
}

}  // namespace

TEST(FingerprintFile, KnownVectors) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("empty"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("abc"), "abc"));
    uint64_t hash = 0, size = 99;
    ASSERT_TRUE(FingerprintFile(dir.File("empty"), hash, size));
    EXPECT_EQ(hash, 0x47FE0D7EAF8E51E3ull);
    EXPECT_EQ(size, 0u);
    ASSERT_TRUE(FingerprintFile(dir.File("abc"), hash, size));
    EXPECT_EQ(hash, 0x8B1FA7EA7DE3EABEull);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(ReferenceFold(SizeBytes(0)), 0x47FE0D7EAF8E51E3ull);  // the reference agrees
}

TEST(FingerprintFile, FoldsHeadAndTailWindows) {
    TempDir dir;
    const std::string exact = Pattern(65536, 1);
    const std::string overlap = Pattern(65537, 2);
    const std::string large = Pattern(300000, 3);
    ASSERT_TRUE(WriteWholeFile(dir.File("exact"), exact));
    ASSERT_TRUE(WriteWholeFile(dir.File("overlap"), overlap));
    ASSERT_TRUE(WriteWholeFile(dir.File("large"), large));
    uint64_t hash = 0, size = 0;

    ASSERT_TRUE(FingerprintFile(dir.File("exact"), hash, size));
    EXPECT_EQ(hash, ReferenceFold(exact + SizeBytes(65536)));

    ASSERT_TRUE(FingerprintFile(dir.File("overlap"), hash, size));
    EXPECT_EQ(hash, ReferenceFold(overlap.substr(0, 65536) + overlap.substr(1, 65536) + SizeBytes(65537)));

    ASSERT_TRUE(FingerprintFile(dir.File("large"), hash, size));
    EXPECT_EQ(size, 300000u);
    EXPECT_EQ(hash, ReferenceFold(large.substr(0, 65536) + large.substr(300000 - 65536) + SizeBytes(300000)));
}

TEST(FingerprintFile, OnlyHeadTailAndSizeMatter) {
    TempDir dir;
    std::string a = Pattern(200000, 7);
    std::string b = a;
    b[100000] ^= 0x5A;  // middle differs: same fingerprint
    std::string c = a;
    c[199999] ^= 0x5A;  // tail differs: other fingerprint
    ASSERT_TRUE(WriteWholeFile(dir.File("a"), a));
    ASSERT_TRUE(WriteWholeFile(dir.File("b"), b));
    ASSERT_TRUE(WriteWholeFile(dir.File("c"), c));
    uint64_t ha = 0, hb = 0, hc = 0, size = 0;
    ASSERT_TRUE(FingerprintFile(dir.File("a"), ha, size));
    ASSERT_TRUE(FingerprintFile(dir.File("b"), hb, size));
    ASSERT_TRUE(FingerprintFile(dir.File("c"), hc, size));
    EXPECT_EQ(ha, hb);
    EXPECT_NE(ha, hc);
}

TEST(FingerprintFile, FailuresLeaveOutputsUntouched) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);  // would block a plain read
    ASSERT_EQ(::symlink(dir.File("nowhere").c_str(), dir.File("dangling").c_str()), 0);
    const std::string content = Pattern(100000, 4);
    ASSERT_TRUE(WriteWholeFile(dir.File("shrinks"), content));

    for (const std::string& path : {std::string(), dir.File("missing"), dir.path(), dir.File("fifo"),
                                    dir.File("dangling")}) {
        uint64_t hash = 11, size = 22;
        EXPECT_FALSE(FingerprintFile(path, hash, size)) << path;
        EXPECT_EQ(hash, 11u);
        EXPECT_EQ(size, 22u);
    }

    // The size was taken, then the file was cut short before the read.
    uint64_t hash = 11;
    ASSERT_EQ(::truncate(dir.File("shrinks").c_str(), 70000), 0);
    EXPECT_FALSE(FingerprintFileWithSize(dir.File("shrinks"), content.size(), hash));
    ASSERT_EQ(::truncate(dir.File("shrinks").c_str(), 1000), 0);
    EXPECT_FALSE(FingerprintFileWithSize(dir.File("shrinks"), 70000, hash));
    EXPECT_EQ(hash, 11u);
}

TEST(FileExistsWithSize, SizeZeroAcceptsAnyLength) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("empty"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("five"), "12345"));
    EXPECT_TRUE(FileExistsWithSize(dir.File("empty"), 0));
    EXPECT_TRUE(FileExistsWithSize(dir.File("five"), 0));
    EXPECT_TRUE(FileExistsWithSize(dir.File("five"), 5));
    EXPECT_FALSE(FileExistsWithSize(dir.File("five"), 6));
    EXPECT_FALSE(FileExistsWithSize(dir.File("missing"), 0));
    EXPECT_FALSE(FileExistsWithSize("", 0));
    EXPECT_FALSE(FileExistsWithSize(dir.path(), 0));  // a folder has no size
}
