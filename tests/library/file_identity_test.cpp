// File fingerprints (of sounds only) and the existence check.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "library/file_identity.h"
#include "support/audio_fixtures.h"
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

// The folding itself, over any bytes: the gate of FingerprintFile is left
// out so that the known vectors can be checked on plain files.
bool HashOf(const std::string& path, uint64_t& hash) {
    struct stat st {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fstat(fd, &st) == 0 && FingerprintOpenFile(fd, uint64_t(st.st_size), hash);
    ::close(fd);
    return ok;
}

}  // namespace

TEST(FingerprintFile, KnownVectors) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("empty"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("abc"), "abc"));
    uint64_t hash = 0;
    ASSERT_TRUE(HashOf(dir.File("empty"), hash));
    EXPECT_EQ(hash, 0x47FE0D7EAF8E51E3ull);
    ASSERT_TRUE(HashOf(dir.File("abc"), hash));
    EXPECT_EQ(hash, 0x8B1FA7EA7DE3EABEull);
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
    uint64_t hash = 0;

    ASSERT_TRUE(HashOf(dir.File("exact"), hash));
    EXPECT_EQ(hash, ReferenceFold(exact + SizeBytes(65536)));

    ASSERT_TRUE(HashOf(dir.File("overlap"), hash));
    EXPECT_EQ(hash, ReferenceFold(overlap.substr(0, 65536) + overlap.substr(1, 65536) + SizeBytes(65537)));

    ASSERT_TRUE(HashOf(dir.File("large"), hash));
    EXPECT_EQ(hash, ReferenceFold(large.substr(0, 65536) + large.substr(300000 - 65536) + SizeBytes(300000)));
}

TEST(FingerprintFile, OnlyHeadTailAndSizeMatter) {
    TempDir dir;
    // Sounds (the samples are the pattern's bytes), so the gate lets them in.
    std::string a = WavHolding(Pattern(200000, 7));
    std::string b = a;
    b[100000] ^= 0x5A;  // middle differs: same fingerprint
    std::string c = a;
    c[a.size() - 1] ^= 0x5A;  // tail differs: other fingerprint
    ASSERT_TRUE(WriteWholeFile(dir.File("a.wav"), a));
    ASSERT_TRUE(WriteWholeFile(dir.File("b.wav"), b));
    ASSERT_TRUE(WriteWholeFile(dir.File("c.wav"), c));
    uint64_t ha = 0, hb = 0, hc = 0, size = 0;
    ASSERT_TRUE(FingerprintFile(dir.File("a.wav"), ha, size));
    EXPECT_EQ(size, a.size());
    EXPECT_EQ(ha, ReferenceFold(a.substr(0, 65536) + a.substr(a.size() - 65536) + SizeBytes(a.size())));
    ASSERT_TRUE(FingerprintFile(dir.File("b.wav"), hb, size));
    ASSERT_TRUE(FingerprintFile(dir.File("c.wav"), hc, size));
    EXPECT_EQ(ha, hb);
    EXPECT_NE(ha, hc);
}

// Whatever a project names that is not a sound is neither read nor
// described: a text file (a private key, a password file), an empty file, a
// file that merely calls itself a sound, a pipe, a device, a folder.
TEST(FingerprintFile, NothingButSoundIsFingerprinted) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("secret"), "hunter2\n"));
    ASSERT_TRUE(WriteWholeFile(dir.File("empty.wav"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("fake.wav"), "RIFF\x10\0\0\0WAVEjunk" + Pattern(5000, 9)));
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::symlink(dir.File("nowhere").c_str(), dir.File("dangling").c_str()), 0);
    std::vector<std::string> paths{std::string(), dir.File("missing"), dir.path(),        dir.File("fifo"),
                                   dir.File("dangling"), dir.File("secret"), dir.File("empty.wav"),
                                   dir.File("fake.wav")};
    // A device of our own (the null device's numbers), where we may make one.
    if (::mknod(dir.File("null").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) paths.push_back(dir.File("null"));

    for (const std::string& path : paths) {
        uint64_t hash = 11, size = 22;
        EXPECT_FALSE(FingerprintFile(path, hash, size)) << path;
        EXPECT_EQ(hash, 11u);
        EXPECT_EQ(size, 22u);
        EXPECT_FALSE(FingerprintFileWithSize(path, 8, hash)) << path;
        EXPECT_EQ(hash, 11u);
    }
}

TEST(FingerprintFile, AFileThatShrankGivesNoFingerprint) {
    TempDir dir;
    const std::string content = WavHolding(Pattern(100000, 4));
    ASSERT_TRUE(WriteWholeFile(dir.File("shrinks.wav"), content));
    uint64_t hash = 11, size = 0;
    ASSERT_TRUE(FingerprintFile(dir.File("shrinks.wav"), hash, size));
    // The size was taken, then the file was cut short before the read (it
    // still opens as sound: its header is whole).
    hash = 11;
    ASSERT_EQ(::truncate(dir.File("shrinks.wav").c_str(), 70000), 0);
    EXPECT_FALSE(FingerprintFileWithSize(dir.File("shrinks.wav"), content.size(), hash));
    ASSERT_EQ(::truncate(dir.File("shrinks.wav").c_str(), 1000), 0);
    EXPECT_FALSE(FingerprintFileWithSize(dir.File("shrinks.wav"), 70000, hash));
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
