// File registry: ids, content recognition, aliases, alternates, cached checks, threads.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "library/file_registry.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

FileRef AddFile(FileRegistry& registry, const std::string& path, const std::string& content) {
    EXPECT_TRUE(WriteWholeFile(path, WavHolding(content)));  // only sounds get ids
    return registry.FileRefForPath(path);
}

// Appends a number to a prefix (written out to dodge a false -Wrestrict of GCC 12).
std::string Numbered(std::string prefix, int n) {
    prefix += std::to_string(n);
    return prefix;
}

size_t AlternateCount(FileRegistry& registry, const FileId& id) {
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.entries.at(id).alternatePaths.size();
}

}  // namespace

TEST(FileRegistry, EmptyAndUnreadableChangeNothing) {
    TempDir dir;
    FileRegistry registry;
    registry.RegisterFileRef(FileRef{"", dir.File("x"), 5, 5});
    FileRef out{"keep", "keep", 1, 1};
    EXPECT_FALSE(registry.GetFileRef("", out));
    EXPECT_FALSE(registry.GetFileRef("0123456789abcdef", out));
    EXPECT_EQ(out.id, "keep");
    EXPECT_EQ(registry.FindPath(""), "");
    EXPECT_EQ(registry.ResolveOrAdd("", dir.File("x")), "");

    // Missing, or no sound at all (a private text file named as a sound): a
    // reference without id or fingerprint that keeps its path.
    ASSERT_TRUE(WriteWholeFile(dir.File("notes.wav"), "private notes"));
    for (const std::string& path : {dir.File("missing.wav"), dir.File("notes.wav")}) {
        FileRef unreadable = registry.FileRefForPath(path);
        EXPECT_EQ(unreadable.id, "");
        EXPECT_EQ(unreadable.path, path);
        EXPECT_EQ(unreadable.hash, 0u);
        EXPECT_EQ(unreadable.size, 0u);
    }
    EXPECT_TRUE(registry.entries.empty());
    EXPECT_EQ(registry.generation.load(), 0u);
}

TEST(FileRegistry, SameContentAtTwoPathsSharesOneId) {
    TempDir dir;
    FileRegistry registry;
    FileRef first = AddFile(registry, dir.File("a.wav"), "same bytes");
    FileRef second = AddFile(registry, dir.File("b.wav"), "same bytes");
    FileRef other = AddFile(registry, dir.File("c.wav"), "other bytes");
    ASSERT_EQ(first.id.size(), 16u);
    EXPECT_EQ(first.id.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(second.id, first.id);
    EXPECT_EQ(second.path, dir.File("a.wav"));  // the registered location, not the one given
    EXPECT_NE(other.id, first.id);
    std::lock_guard<std::mutex> lock(registry.mutex);
    EXPECT_EQ(registry.entries.at(first.id).alternatePaths, std::vector<std::string>{dir.File("b.wav")});
}

TEST(FileRegistry, UnknownIdWithKnownContentBecomesAlias) {
    TempDir dir;
    FileRegistry registry;
    FileRef known = AddFile(registry, dir.File("a.wav"), "content");
    registry.RegisterFileRef(FileRef{"00000000000000aa", dir.File("old/a.wav"), known.hash, known.size});

    FileRef out;
    ASSERT_TRUE(registry.GetFileRef("00000000000000aa", out));
    EXPECT_EQ(out.id, known.id);  // the next save writes the canonical id
    EXPECT_EQ(out.path, dir.File("a.wav"));
    EXPECT_EQ(registry.FindPath("00000000000000aa"), dir.File("a.wav"));
    EXPECT_EQ(registry.entries.count("00000000000000aa"), 0u);
    EXPECT_EQ(AlternateCount(registry, known.id), 1u);
}

TEST(FileRegistry, ContentIsKnownByHashAndSizeTogether) {
    FileRegistry registry;
    // Stored references of one hash: equal sizes are one content (the later
    // ids become aliases of the first), other sizes are other contents.
    const uint64_t hash = 0x0123456789abcdefull;
    registry.RegisterFileRef(FileRef{"a000000000000001", "/x/one.wav", hash, 100});
    registry.RegisterFileRef(FileRef{"a000000000000002", "/x/two.wav", hash, 200});
    registry.RegisterFileRef(FileRef{"a000000000000003", "/y/one.wav", hash, 100});
    registry.RegisterFileRef(FileRef{"a000000000000004", "/y/two.wav", hash, 200});
    std::lock_guard<std::mutex> lock(registry.mutex);
    EXPECT_EQ(registry.FindIdByContent(hash, 100), "a000000000000001");
    EXPECT_EQ(registry.FindIdByContent(hash, 200), "a000000000000002");
    EXPECT_EQ(registry.FindIdByContent(hash, 300), "");
    EXPECT_EQ(registry.FindIdByContent(0, 100), "");
    EXPECT_EQ(registry.ResolveAlias("a000000000000003"), "a000000000000001");
    EXPECT_EQ(registry.ResolveAlias("a000000000000004"), "a000000000000002");
    EXPECT_EQ(registry.entries.size(), 2u);
}

TEST(FileRegistry, RegisteringKnownIdOnlyAddsAlternatesAndTeachesHash) {
    TempDir dir;
    FileRegistry registry;
    ASSERT_TRUE(WriteWholeFile(dir.File("a.wav"), WavHolding("abc")));
    // Known by path only (as after an old project), then a stored reference
    // with its fingerprint and another path arrives.
    registry.RegisterFileRef(FileRef{"1111111111111111", dir.File("a.wav"), 0, 0});
    uint64_t hash = 0, size = 0;
    ASSERT_TRUE(FingerprintFile(dir.File("a.wav"), hash, size));
    registry.RegisterFileRef(FileRef{"1111111111111111", dir.File("moved.wav"), hash, size});
    registry.RegisterFileRef(FileRef{"1111111111111111", dir.File("third.wav"), hash + 1, size});

    FileRef out;
    ASSERT_TRUE(registry.GetFileRef("1111111111111111", out));
    EXPECT_EQ(out.path, dir.File("a.wav"));
    EXPECT_EQ(out.hash, hash);  // a differing later hash is ignored
    EXPECT_EQ(AlternateCount(registry, "1111111111111111"), 2u);
    // The learned hash now recognises the content elsewhere.
    EXPECT_EQ(AddFile(registry, dir.File("copy.wav"), "abc").id, "1111111111111111");
}

TEST(FileRegistry, SizeZeroEntriesAcceptAnyLength) {
    TempDir dir;
    FileRegistry registry;
    ASSERT_TRUE(WriteWholeFile(dir.File("long.wav"), std::string(5000, 'x')));
    EXPECT_EQ(registry.ResolveOrAdd("2222222222222222", dir.File("long.wav")), dir.File("long.wav"));
    EXPECT_EQ(registry.ResolveOrAdd("3333333333333333", dir.File("absent.wav")), "");
    EXPECT_EQ(registry.entries.count("3333333333333333"), 1u);  // registered although missing

    // A size-0 entry whose current path is gone takes an alternate of any length.
    registry.RegisterFileRef(FileRef{"4444444444444444", dir.File("gone.wav"), 0, 0});
    registry.RegisterFileRef(FileRef{"4444444444444444", dir.File("long.wav"), 0, 0});
    EXPECT_EQ(registry.FindPath("4444444444444444"), dir.File("long.wav"));
}

TEST(FileRegistry, ChecksAreCachedUntilGenerationChanges) {
    TempDir dir;
    FileRegistry registry;
    FileRef ref = AddFile(registry, dir.File("a.wav"), "payload");
    AddFile(registry, dir.File("b.wav"), "payload");  // becomes an alternate
    ASSERT_EQ(registry.FindPath(ref.id), dir.File("a.wav"));

    std::filesystem::remove(dir.File("a.wav"));
    EXPECT_EQ(registry.FindPath(ref.id), dir.File("a.wav"));  // cached answer

    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.RaiseGeneration();
    }
    EXPECT_EQ(registry.FindPath(ref.id), dir.File("b.wav"));
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        const FileRegistryEntry& entry = registry.entries.at(ref.id);
        EXPECT_EQ(entry.path, dir.File("b.wav"));
        EXPECT_EQ(entry.alternatePaths, std::vector<std::string>{dir.File("a.wav")});
    }

    // Missing everywhere: stays missing until the next change, even when it reappears.
    std::filesystem::remove(dir.File("b.wav"));
    registry.RegisterFileRef(FileRef{"5555555555555555", "", 0, 0});  // any change raises generation
    EXPECT_EQ(registry.FindPath(ref.id), "");
    ASSERT_TRUE(WriteWholeFile(dir.File("b.wav"), WavHolding("payload")));
    EXPECT_EQ(registry.FindPath(ref.id), "");
    registry.RegisterFileRef(FileRef{"5555555555555555", "", 0, 0});
    EXPECT_EQ(registry.FindPath(ref.id), dir.File("b.wav"));
}

// When the current path fails, the first alternate that exists with the
// registered length takes its place and the old path goes to the end.
TEST(FileRegistry, FailedPathSwapsWithFirstFittingAlternate) {
    TempDir dir;
    FileRegistry registry;
    FileRef ref = AddFile(registry, dir.File("a.wav"), "payload");
    ASSERT_TRUE(WriteWholeFile(dir.File("short.wav"), WavHolding("pay")));  // other length
    ASSERT_TRUE(WriteWholeFile(dir.File("c.wav"), WavHolding("payload")));
    ASSERT_TRUE(WriteWholeFile(dir.File("d.wav"), WavHolding("payload")));
    for (const char* alternate : {"short.wav", "gone.wav", "c.wav", "d.wav"})
        registry.RegisterFileRef(FileRef{ref.id, dir.File(alternate), ref.hash, ref.size});

    std::filesystem::remove(dir.File("a.wav"));
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.RaiseGeneration();
    }
    EXPECT_EQ(registry.FindPath(ref.id), dir.File("c.wav"));
    std::lock_guard<std::mutex> lock(registry.mutex);
    EXPECT_EQ(registry.entries.at(ref.id).alternatePaths,
              (std::vector<std::string>{dir.File("short.wav"), dir.File("gone.wav"), dir.File("d.wav"),
                                        dir.File("a.wav")}));
}

TEST(FileRegistry, AlternatesAreAShortUniqueList) {
    FileRegistry registry;
    FileRegistryEntry entry;
    entry.path = "/a/own.wav";
    AddUniqueToShortList(registry, entry, "/a/own.wav");
    AddUniqueToShortList(registry, entry, "");
    EXPECT_TRUE(entry.alternatePaths.empty());
    for (int i = 0; i < 7; ++i) AddUniqueToShortList(registry, entry, Numbered("/alt/", i));
    AddUniqueToShortList(registry, entry, "/alt/3");
    ASSERT_EQ(entry.alternatePaths.size(), 7u);
    AddUniqueToShortList(registry, entry, "/alt/new");
    ASSERT_EQ(entry.alternatePaths.size(), 8u);
    EXPECT_EQ(entry.alternatePaths.back(), "/alt/new");
    AddUniqueToShortList(registry, entry, "/alt/ninth");
    EXPECT_EQ(entry.alternatePaths.size(), 8u);
}

TEST(ResolveProjectPath, JoinsRelativeAndKeepsAbsolute) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("Audio"));
    ASSERT_TRUE(WriteWholeFile(dir.File("Audio/kick.wav"), "x"));
    const std::string canonicalKick = std::filesystem::canonical(dir.File("Audio/kick.wav")).string();

    EXPECT_EQ(ResolveProjectPath("", dir.path()), "");
    EXPECT_EQ(ResolveProjectPath("Audio/kick.wav", dir.path()), canonicalKick);
    EXPECT_EQ(ResolveProjectPath("Audio/../Audio/kick.wav", dir.path()), canonicalKick);
    EXPECT_EQ(ResolveProjectPath("Audio/none.wav", dir.path()), dir.path() + "/Audio/none.wav");
    // Written on Windows: backslashes are separators of a relative path.
    EXPECT_EQ(ResolveProjectPath("Audio\\kick.wav", dir.path()), canonicalKick);
    EXPECT_EQ(ResolveProjectPath("Audio\\none.wav", dir.path()), dir.path() + "/Audio/none.wav");
    for (const char* absolute : {"/abs/x.wav", "C:\\x.wav", "C:/x.wav", "\\\\srv\\share\\x.wav"})
        EXPECT_EQ(ResolveProjectPath(absolute, dir.path()), absolute);
}

// Eight threads register, look up and re-register the same few files at once.
// Each content must end with exactly one id, and every lookup must find a file.
TEST(FileRegistry, ConcurrentUseKeepsOneIdPerContent) {
    TempDir dir;
    FileRegistry registry;
    constexpr int kFiles = 6, kThreads = 8, kRounds = 150;
    std::vector<FileFingerprint> prints(kFiles);
    for (int f = 0; f < kFiles; ++f) {
        const std::string path = dir.File(Numbered("f", f));
        ASSERT_TRUE(WriteWholeFile(path, WavHolding(Numbered("content ", f))));
        ASSERT_TRUE(FingerprintFile(path, prints[f].hash, prints[f].size));
    }
    std::vector<std::vector<FileId>> idsSeen(kThreads, std::vector<FileId>(kFiles));
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const int f = (t + round) % kFiles;
                const std::string path = dir.File(Numbered("f", f));
                FileRef ref = registry.GetOrCreateFileId(path, prints[f].hash, prints[f].size);
                if (!idsSeen[t][f].empty() && idsSeen[t][f] != ref.id) failures.fetch_add(1);
                idsSeen[t][f] = ref.id;
                if (registry.FindPath(ref.id).empty()) failures.fetch_add(1);
                FileRef stored = ref;
                stored.path = dir.File(Numbered("elsewhere", round % 10));
                registry.RegisterFileRef(stored);
                char foreign[17];
                std::snprintf(foreign, sizeof foreign, "%016x", static_cast<unsigned>(0xF000 + f));
                registry.RegisterFileRef(FileRef{foreign, path, prints[f].hash, prints[f].size});
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(idsSeen[t], idsSeen[0]);
    EXPECT_EQ(registry.entries.size(), static_cast<size_t>(kFiles));
    for (const auto& [id, entry] : registry.entries) EXPECT_LE(entry.alternatePaths.size(), 8u);
}
