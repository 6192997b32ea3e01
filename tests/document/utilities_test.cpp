// Timecode, UTF conversion, text fields and durable file writes.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "platform/file_util.h"
#include "support/temp_dir.h"
#include "support/tree_state.h"

namespace {

std::string Tc(float fps, float seconds) {
    Project p;
    p.fps = fps;
    char buf[32];
    FormatTimecode(p, seconds, buf, sizeof buf);
    return buf;
}

float Parse(float fps, const char* text) {
    Project p;
    p.fps = fps;
    return ParseTimecode(p, text);
}

}  // namespace

TEST(Timecode, FormatsAndParsesAtTheProjectRate) {
    EXPECT_EQ(Tc(24, 3661.5f), "01:01:01:12");
    EXPECT_EQ(Tc(24, -3.0f), "00:00:00:00");
    EXPECT_FLOAT_EQ(Parse(25, "00:01:02"), 62.0f);
    EXPECT_FLOAT_EQ(Parse(25, "1:2"), -1.0f);
    EXPECT_FLOAT_EQ(Parse(25, "30:70:70:99"), 30 * 3600 + 59 * 60 + 59 + 24.0f / 25.0f);
    EXPECT_FLOAT_EQ(Parse(25, "123:00:00:00"), 99 * 3600.0f);
    EXPECT_FLOAT_EQ(Parse(25, "-5:00:00:-3"), 0.0f);
    EXPECT_FLOAT_EQ(Parse(25, ""), -1.0f);
}

TEST(Timecode, FractionalAndUnusableRatesUseOneNominalBase) {
    EXPECT_EQ(Tc(29.97f, 60.0f), "00:01:00:00");
    EXPECT_EQ(Tc(0.0f, 1.0f), "00:00:01:00");        // below 1 fps falls back to 25
    EXPECT_EQ(Tc(0.0f, 1.04f), "00:00:01:01");
    // Formatting is the exact inverse of parsing at fractional rates.
    for (float fps : {23.976f, 29.97f, 59.94f, 25.0f}) {
        for (const char* tc : {"00:00:00:00", "00:10:00:05", "01:02:03:04", "23:59:59:19"}) {
            float s = Parse(fps, tc);
            EXPECT_EQ(Tc(fps, s), tc) << fps;
        }
    }
    // Huge and non-finite inputs are clamped to the last frame of hour 99,
    // never overflow.
    EXPECT_EQ(Tc(24, 1e30f), "99:59:59:23");
    EXPECT_EQ(Tc(25, 100 * 3600.0f), "99:59:59:24");
    EXPECT_EQ(Tc(24, std::nanf("")), "00:00:00:00");
}

TEST(Timecode, WritingAndReadingAreInverseUpToHourNinetyNine) {
    for (float fps : {23.976f, 25.0f, 29.97f}) {
        const int last = static_cast<int>(std::lround(fps)) - 1;
        for (int hours : {0, 23, 24, 25, 48, 99}) {
            for (int frame : {0, 1, last}) {
                for (int minutes : {0, 59}) {
                    char text[32];
                    std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", hours, minutes, minutes, frame);
                    const float seconds = Parse(fps, text);
                    EXPECT_EQ(Tc(fps, seconds), text) << fps;
                    // And from the other side: seconds on a frame read back as themselves.
                    EXPECT_EQ(Parse(fps, Tc(fps, seconds).c_str()), seconds) << text << " at " << fps;
                }
            }
        }
    }
}

TEST(TextFields, CopyCutsAtCharacterBoundaries) {
    char field[8];
    EXPECT_TRUE(CopyTextField(field, "abc"));
    EXPECT_STREQ(field, "abc");
    // "abcdeé" is 7 bytes and fits; one more 2-byte character does not.
    EXPECT_TRUE(CopyTextField(field, "abcde\xC3\xA9"));
    EXPECT_FALSE(CopyTextField(field, "abcdef\xC3\xA9"));
    EXPECT_STREQ(field, "abcdef");
    // A 4-byte character that straddles the end is dropped whole.
    EXPECT_FALSE(CopyTextField(field, "abcde\xF0\x9F\x8E\xB5"));
    EXPECT_STREQ(field, "abcde");
    // A default view has no storage at all; it empties the field.
    EXPECT_TRUE(CopyTextField(field, std::string_view()));
    EXPECT_STREQ(field, "");
}

TEST(Utf, RoundTripsOutsideTheBmpAndReplacesInvalidInput) {
    std::string text = "Tür \xF0\x9F\x8E\xB5 \xE6\x97\xA5";  // umlaut, U+1F3B5, CJK
    std::u16string wide = Utf8ToWide(text);
    EXPECT_EQ(wide.size(), 8u);  // the music note takes a surrogate pair
    EXPECT_EQ(WideToUtf8(wide), text);
    EXPECT_EQ(Utf8ToWide(""), u"");
    EXPECT_EQ(Utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(Utf8ToWide("a\xE6\x97"), u"a\uFFFD");               // truncated sequence
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), u"\uFFFD");                 // overlong
    EXPECT_EQ(Utf8ToWide("\xED\xA0\x80"), u"\uFFFD");             // encoded surrogate
    std::u16string lone = u"x";
    lone.push_back(static_cast<char16_t>(0xD800));
    EXPECT_EQ(WideToUtf8(lone), "x\xEF\xBF\xBD");
}

TEST(Utf, ValidCopyAndAsciiCaseAndTrimming) {
    EXPECT_EQ(ToValidUtf8("plain"), "plain");
    EXPECT_EQ(ToValidUtf8("Caf\xE9 \xC3\xA9"), "Caf\xEF\xBF\xBD" " \xC3\xA9");  // Latin-1 byte, then UTF-8
    EXPECT_EQ(ToLowerCopy("MiX \xC3\x89" "d 9"), "mix \xC3\x89" "d 9");            // only ASCII letters change
    EXPECT_EQ(TrimmedCopy(" \t\r\n"), "");
    EXPECT_EQ(TrimmedCopy("\ta b\r\n"), "a b");
    std::string text = "  keep \v ";  // a vertical tab is not trimmed
    TrimWhitespace(text);
    EXPECT_EQ(text, "keep \v");
}

TEST(RandomBytes, FillsTheBuffer) {
    std::set<std::vector<unsigned char>> seen;
    for (int i = 0; i < 32; ++i) {
        std::vector<unsigned char> b(8, 0);
        FillRandomBytes(b.data(), b.size());
        seen.insert(b);
    }
    EXPECT_EQ(seen.size(), 32u);
}

TEST(AtomicWrite, ReplacesAndNeverLeavesHalfFiles) {
    TempDir dir;
    std::string target = dir.File("prefs.txt");
    ASSERT_TRUE(WriteTextFileAtomic(target, "first\n"));
    ASSERT_TRUE(WriteTextFileAtomic(target, "second\n"));
    EXPECT_EQ(ReadWholeFile(target), "second\n");
    EXPECT_FALSE(std::filesystem::exists(target + ".tmp"));

    std::string missing = dir.File("no/such/folder/file.txt");
    EXPECT_FALSE(WriteTextFileAtomic(missing, "x"));
    EXPECT_FALSE(std::filesystem::exists(dir.File("no")));

    // A rename that fails (the target is a non-empty folder) keeps the old target.
    std::string folderTarget = dir.File("busy");
    std::filesystem::create_directories(folderTarget + "/inside");
    EXPECT_FALSE(WriteTextFileAtomic(folderTarget, "x"));
    EXPECT_TRUE(std::filesystem::is_directory(folderTarget + "/inside"));
    EXPECT_FALSE(std::filesystem::exists(folderTarget + ".tmp"));
}

TEST(AtomicWrite, ReadOnlyFolderFailsAndKeepsTheTarget) {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    TempDir dir;
    std::string target = dir.File("a.txt");
    ASSERT_TRUE(WriteTextFileAtomic(target, "old"));
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_FALSE(WriteTextFileAtomic(target, "new"));
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(ReadWholeFile(target), "old");
}

TEST(AtomicWrite, ATemporaryFileThatCannotBeCommittedNeverReplacesTheTarget) {
    TempDir dir;
    const std::string target = dir.File("project.tlproj");
    ASSERT_TRUE(WriteWholeFile(target, "good project"));
    // A socket can be moved but never opened: the commit fails, the move
    // would succeed.
    const std::string tmp = target + ".tmp";
    ASSERT_TRUE(PlantSocket(tmp));
    FileReplaceFailure failure;
    EXPECT_FALSE(CommitAndReplaceFile(tmp, target, &failure));
    EXPECT_EQ(failure.step, kReplaceCommit);
    EXPECT_EQ(ReadWholeFile(target), "good project");
    EXPECT_FALSE(std::filesystem::exists(tmp));

    // A copy into a new file is complete and synced; a missing source says why.
    ASSERT_TRUE(CopyFileContents(target, dir.File("copy")));
    EXPECT_EQ(ReadWholeFile(dir.File("copy")), "good project");
    int error = 0;
    EXPECT_FALSE(CopyFileContents(dir.File("missing"), dir.File("copy2"), &error));
    EXPECT_EQ(error, ENOENT);
    EXPECT_FALSE(std::filesystem::exists(dir.File("copy2")));
}

TEST(FileIsReadable, EmptyMissingFolderAndFile) {
    TempDir dir;
    EXPECT_FALSE(FileIsReadable(""));
    EXPECT_FALSE(FileIsReadable(dir.File("missing")));
    EXPECT_FALSE(FileIsReadable(dir.path()));
    ASSERT_TRUE(WriteWholeFile(dir.File("x"), "1"));
    EXPECT_TRUE(FileIsReadable(dir.File("x")));
}

TEST(RenderResultIds, UniqueAcrossThreadsAndKeptByCopies) {
    RenderResult a;
    RenderResult b;
    EXPECT_EQ(b.id, a.id + 1);
    RenderResult c = a;
    EXPECT_EQ(c.id, a.id);

    constexpr int kThreads = 8, kEach = 10000;
    std::vector<std::vector<int32_t>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ids, t] {
            ids[t].reserve(kEach);
            for (int i = 0; i < kEach; ++i) ids[t].push_back(RenderResult{}.id);
        });
    }
    for (auto& th : threads) th.join();
    std::set<int32_t> all;
    for (auto& v : ids) all.insert(v.begin(), v.end());
    EXPECT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
}

TEST(Project, DefaultsAndMuteReasons) {
    Project p;
    EXPECT_STREQ(p.groups[0].name, "BG");
    EXPECT_STREQ(p.groups[1].name, "FX A");
    EXPECT_STREQ(p.groups[2].name, "FX B");
    EXPECT_FLOAT_EQ(p.groups[0].targetLUFS, -52);
    EXPECT_FLOAT_EQ(p.groups[1].targetLUFS, -16);
    EXPECT_FLOAT_EQ(p.groups[2].targetLUFS, -25);
    EXPECT_EQ(p.groups[2].trackCount, 8);
    p.publishedResultCount = 7;
    Project copy = p;
    EXPECT_EQ(copy.publishedResultCount.load(), 7);

    RenderResult r;
    SetMuteReason(r, kMuteBudget, true);
    SetUserMuted(r, true);
    SetMuteReason(r, kMuteBudget, false);
    EXPECT_TRUE(r.muted);  // the user's reason remains
    SetUserMuted(r, false);
    EXPECT_FALSE(r.muted);

    EXPECT_STREQ(ChannelCountName(0), "?");
    EXPECT_STREQ(ChannelCountName(3), "multi");
    EXPECT_STREQ(ChannelCountName(8), "7.1");
    EXPECT_STREQ(ChannelCountName(1), "mono");
}
