// Library index files: escaping, round trips, lenient reading, line ends,
// locale independence, registry registration and concurrent writers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "library/file_registry.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "platform/file_util.h"
#include "support/temp_dir.h"

namespace {

// A fresh id, so tests sharing the process-wide registry never collide.
std::string NewTestId() {
    unsigned char bytes[8];
    FillRandomBytes(bytes, sizeof bytes);
    char text[17];
    for (int i = 0; i < 8; ++i)
        std::snprintf(text + 2 * i, 3, "%02x", bytes[i]);
    return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

// The 24 float fields in column order, for filling and comparing entries.
std::vector<float*> FloatFields(LibraryEntry& e) {
    return {&e.duration, &e.sampleRate, &e.bandEnergy[0], &e.bandEnergy[1], &e.bandEnergy[2],
            &e.bandEnergy[3], &e.bandEnergy[4], &e.brightness, &e.highFreqRatio, &e.bandCentroid,
            &e.crestDb, &e.peakPosition, &e.zeroCrossingRate, &e.dynamicsDb, &e.rmsDb,
            &e.temporalCentroid, &e.spectralFlux, &e.pitchHz, &e.pitchCents, &e.pitchConfidence,
            &e.spectralFlatness, &e.harmonicity, &e.onsetPosition, &e.attackTime};
}

// Floats compared within `relative` (0 = exactly).
void ExpectEntriesEqual(LibraryEntry a, LibraryEntry b, double relative = 0) {
    const std::vector<float*> fa = FloatFields(a), fb = FloatFields(b);
    for (size_t k = 0; k < fa.size(); ++k) {
        const double x = *fa[k], y = *fb[k];
        EXPECT_TRUE(relative == 0 ? x == y : std::fabs(x - y) <= relative * std::fabs(x))
            << "float column " << k << ": " << x << " vs " << y;
    }
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.channels, b.channels);
    EXPECT_EQ(a.bits, b.bits);
    EXPECT_EQ(a.midiNote, b.midiNote);
    EXPECT_EQ(a.fileId, b.fileId);
    EXPECT_EQ(a.hash, b.hash);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.description, b.description);
}

// An entry whose every field differs from its default and whose floats have
// at most 6 significant digits (k / 64), so it must come back exactly.
LibraryEntry FullEntry() {
    LibraryEntry e;
    e.path = "C:\\SFX\\Doors\\door slam 01.wav";
    e.name = "door slam 01";
    int k = 1;
    for (float* field : FloatFields(e))
        *field = float(k++) / 64.0f - 0.25f;
    e.channels = 2;
    e.bits = 24;
    e.midiNote = 69;
    e.fileId = NewTestId();
    e.hash = 0xfedcba9876543210ull;
    e.size = 123456789012ull;
    e.description = "slam\twith\ttabs\nsecond line\rcr \\ backslash \\t literal";
    return e;
}

// ---------------------------------------------------------------------------

TEST(LibraryIndexEscape, ConvertsTheFourPairsAndNothingElse) {
    EXPECT_EQ(EscapeIndexField("a\tb\nc\rd\\e"), "a\\tb\\nc\\rd\\\\e");
    EXPECT_EQ(UnescapeIndexField("a\\tb\\nc\\rd\\\\e"), "a\tb\nc\rd\\e");
    // A backslash before any other byte stays and that byte is read normally;
    // a backslash that ends the field stays.
    EXPECT_EQ(UnescapeIndexField("\\q\\\\\\t end\\"), "\\q\\\t end\\");

    // Every byte string survives, and its escaped form never holds a byte
    // that would split a field or a line.
    uint32_t x = 12345;
    const char pool[] = {'\\', '\t', '\n', '\r', 't', 'n', 'r', 'a', '\0', char(0xC3)};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int k = 0; k < round % 40; ++k, x = x * 1103515245u + 12345u)
            text.push_back(pool[(x >> 16) % sizeof pool]);
        const std::string escaped = EscapeIndexField(text);
        EXPECT_EQ(escaped.find_first_of(std::string("\t\n\r", 3)), std::string::npos);
        ASSERT_EQ(UnescapeIndexField(escaped), text);
    }
}

TEST(LibraryIndexFile, RoundTripsEveryFieldAndHeaderLine) {
    TempDir dir;
    LibraryIndex index;
    index.path = "D:\\Libraries\\Foley Pack";
    index.name = "ignored, the file name decides";
    index.scanTime = 1718000000;
    index.previousNames = {"Old Foley", "Foley (2)"};
    index.entries.push_back(FullEntry());
    LibraryEntry plain;  // a path and otherwise only defaults
    plain.path = "/sfx/plain.wav";
    index.entries.push_back(plain);

    const std::string file = dir.File("Foley Pack.tllib");
    ASSERT_TRUE(WriteLibraryIndexFile(index, file));
    const std::vector<std::string> lines = SplitLines(ReadWholeFile(file));
    ASSERT_EQ(lines.size(), 8u);  // 6 header lines, then one line per entry
    EXPECT_EQ(lines[0], "# Tessaloom SFX Library v4");
    EXPECT_EQ(lines[1], "# folder: D:\\Libraries\\Foley Pack");
    EXPECT_EQ(lines[2], "# files: 2");
    EXPECT_EQ(lines[3], "# scanned: 1718000000");
    EXPECT_EQ(lines[4], "# previousName: Old Foley");
    EXPECT_EQ(lines[5], "# previousName: Foley (2)");
    const std::vector<std::string> fields = SplitTabs(lines[6]);
    ASSERT_EQ(fields.size(), 33u);
    EXPECT_EQ(fields[0], "C:\\\\SFX\\\\Doors\\\\door slam 01.wav");

    LibraryIndex read;
    ASSERT_TRUE(ReadLibraryIndexFile(file, read));
    EXPECT_EQ(read.name, "Foley Pack");
    EXPECT_EQ(read.path, index.path);
    EXPECT_EQ(read.scanTime, index.scanTime);
    EXPECT_EQ(read.savedPalette, 0);
    EXPECT_EQ(read.previousNames, index.previousNames);
    ASSERT_EQ(read.entries.size(), 2u);
    ExpectEntriesEqual(index.entries[0], read.entries[0]);
    ExpectEntriesEqual(plain, read.entries[1]);

    // The reader registers ids: the entry's file is resolvable by id.
    FileRef ref;
    ASSERT_TRUE(FileRegistry::Instance().GetFileRef(index.entries[0].fileId, ref));
    EXPECT_EQ(ref.path, index.entries[0].path);
    EXPECT_EQ(ref.hash, index.entries[0].hash);
    EXPECT_EQ(ref.size, index.entries[0].size);
}

TEST(LibraryIndexFile, WritesNumbersInSixDigitGeneralForm) {
    TempDir dir;
    LibraryIndex index;
    index.entries.resize(1);
    LibraryEntry& e = index.entries[0];
    e.path = "/a.wav";
    e.duration = 0.123456789f;
    e.sampleRate = 48000;
    e.bandEnergy[0] = 1e-05f;
    e.bandEnergy[1] = 1234567.0f;
    e.crestDb = std::nanf("");  // not finite: written as the neutral value
    e.rmsDb = -INFINITY;
    const std::string file = dir.File("n.tllib");
    ASSERT_TRUE(WriteLibraryIndexFile(index, file));

    const std::vector<std::string> lines = SplitLines(ReadWholeFile(file));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "# folder: ");
    const std::vector<std::string> f = SplitTabs(lines[3]);
    ASSERT_EQ(f.size(), 33u);
    const std::vector<std::pair<int, std::string>> expected = {
        {2, "0.123457"}, {3, "48000"}, {6, "1e-05"}, {7, "1.23457e+06"}, {11, "0.5"},
        {14, "0"}, {18, "-100"}, {22, "-1"}, {30, "0000000000000000"}, {31, "0"}};
    for (const auto& [column, text] : expected)
        EXPECT_EQ(f[size_t(column)], text) << "column " << column + 1;

    LibraryIndex read;
    ASSERT_TRUE(ReadLibraryIndexFile(file, read));
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_FLOAT_EQ(read.entries[0].duration, 0.123457f);
    EXPECT_EQ(read.entries[0].bandEnergy[0], 1e-05f);
}

TEST(LibraryIndexFile, ReadsMalformedAndOlderLinesLeniently) {
    TempDir dir;
    const std::string id = NewTestId();
    std::string v4 =
        "# Tessaloom SFX Library v4\n# folder: /lib\n# files: 999\n"
        "# scanned: soon\n"        // bad value: ignored
        "# savedPalette: 0\n\n"    // any value marks a palette
        "/two.wav\ttwo\n"          // only two fields: numeric fields 0, not defaults
        "\tno path\t1\t2\n"        // empty path: dropped
        "/x.wav\tx\t12abc\tabc\t+7";
    for (int k = 6; k <= 29; ++k)
        v4 += "\t1";
    v4 += "\t" + id + "\t00000000000000ff\t\tdesc\\there\n";  // empty size column
    const std::string file = dir.File("lenient.tllib");
    ASSERT_TRUE(WriteWholeFile(file, v4));

    LibraryIndex read;
    ASSERT_TRUE(ReadLibraryIndexFile(file, read));
    EXPECT_EQ(read.path, "/lib");
    EXPECT_EQ(read.scanTime, 0);
    EXPECT_EQ(read.savedPalette, 1);
    ASSERT_EQ(read.entries.size(), 2u);
    const LibraryEntry& two = read.entries[0];
    EXPECT_EQ(two.name, "two");
    EXPECT_EQ(two.brightness, 0);
    EXPECT_EQ(two.rmsDb, 0);
    EXPECT_EQ(two.midiNote, 0);
    const LibraryEntry& x = read.entries[1];
    EXPECT_EQ(x.duration, 12);  // leading number, rest ignored
    EXPECT_EQ(x.sampleRate, 0);
    EXPECT_EQ(x.channels, 7);
    EXPECT_EQ(x.fileId, id);
    EXPECT_EQ(x.hash, 255u);
    EXPECT_EQ(x.size, 0u);
    EXPECT_EQ(x.description, "desc\there");

    // Without the version line a file reads by version-3 rules: the four
    // last columns of a 33-column line, TABs included, are the description.
    std::string v3 = "# folder: /old\n/y.wav\ty";
    for (int k = 3; k <= 29; ++k)
        v3 += "\t0.5";
    v3 += "\tabcdef0123456789\t0000000000000001\t42\tthe text\n";
    ASSERT_TRUE(WriteWholeFile(file, v3));
    LibraryIndex old;
    ASSERT_TRUE(ReadLibraryIndexFile(file, old));
    ASSERT_EQ(old.entries.size(), 1u);
    EXPECT_TRUE(old.entries[0].fileId.empty());
    EXPECT_EQ(old.entries[0].description, "abcdef0123456789\t0000000000000001\t42\tthe text");
}

TEST(LibraryIndexFile, LoadsOnlyReadableFilesWithEntriesOrAFolder) {
    TempDir dir;
    LibraryIndex folder, palette;
    folder.path = "/sfx/empty";
    palette.savedPalette = 1;
    ASSERT_TRUE(WriteLibraryIndexFile(folder, dir.File("empty.tllib")));
    ASSERT_TRUE(WriteLibraryIndexFile(palette, dir.File("pal.tllib")));
    // Header lines only: no "scanned" line without a scan time.
    EXPECT_EQ(ReadWholeFile(dir.File("pal.tllib")),
              "# Tessaloom SFX Library v4\n# folder: \n# files: 0\n# savedPalette: 1\n");
    LibraryIndex readFolder, readPalette;
    EXPECT_TRUE(ReadLibraryIndexFile(dir.File("empty.tllib"), readFolder));
    EXPECT_EQ(readFolder.path, "/sfx/empty");
    EXPECT_FALSE(ReadLibraryIndexFile(dir.File("pal.tllib"), readPalette));

    // Missing files and folders (which open but do not read) change nothing.
    LibraryIndex kept = folder;
    kept.entries.resize(1);
    kept.entries[0].path = "/keep/a.wav";
    EXPECT_FALSE(ReadLibraryIndexFile(dir.File("missing.tllib"), kept));
    EXPECT_FALSE(ReadLibraryIndexFile(dir.path(), kept));
    ASSERT_EQ(kept.entries.size(), 1u);
    EXPECT_EQ(kept.entries[0].path, "/keep/a.wav");
}

TEST(LibraryIndexFile, CrLfCopyAndDecimalCommaLocaleReadTheSame) {
    TempDir dir;
    LibraryIndex index;
    index.path = "/sfx/cr";
    index.previousNames = {"before"};
    index.entries.push_back(FullEntry());
    index.entries[0].description = "ends with a CR\r";
    const std::string file = dir.File("cr.tllib");

    // Switch the number locale when it is installed; the file must not notice.
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const bool comma = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    ASSERT_TRUE(WriteLibraryIndexFile(index, file));
    const std::string text = ReadWholeFile(file);
    LibraryIndex plain;
    ASSERT_TRUE(ReadLibraryIndexFile(file, plain));
    std::setlocale(LC_ALL, saved.c_str());
    if (comma)
        EXPECT_EQ(SplitTabs(SplitLines(text)[4])[2], "-0.234375");
    else
        std::printf("[Test] de_DE.UTF-8 not installed: decimal-comma check skipped\n");
    ASSERT_EQ(plain.entries.size(), 1u);
    ExpectEntriesEqual(index.entries[0], plain.entries[0]);

    // A byte-order mark from a Windows editor is skipped as well.
    std::string crlf = "\xEF\xBB\xBF";
    for (char c : text)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    ASSERT_TRUE(WriteWholeFile(file, crlf));
    LibraryIndex windows;
    ASSERT_TRUE(ReadLibraryIndexFile(file, windows));
    EXPECT_EQ(windows.path, plain.path);
    EXPECT_EQ(windows.previousNames, plain.previousNames);
    ASSERT_EQ(windows.entries.size(), 1u);
    ExpectEntriesEqual(plain.entries[0], windows.entries[0]);
}

TEST(LibraryIndexFile, RefusesNamesThatWouldBreakTheFile) {
    TempDir dir;
    const std::string file = dir.File("lib.tllib");
    LibraryIndex good;
    good.path = "/sfx/good";
    ASSERT_TRUE(WriteLibraryIndexFile(good, file));
    const std::string before = ReadWholeFile(file);

    LibraryIndex bad = good;
    bad.path = "/sfx/two\nlines";
    std::string error;
    EXPECT_FALSE(WriteLibraryIndexFile(bad, file, &error));
    EXPECT_NE(error.find("line break"), std::string::npos);
    bad.path = good.path;
    bad.previousNames = {"fine", "carriage\rreturn"};
    EXPECT_FALSE(WriteLibraryIndexFile(bad, file));
    EXPECT_EQ(ReadWholeFile(file), before);

    // A CR inside a header line of a file from elsewhere is dropped on
    // reading, so a library read once can always be saved again.
    ASSERT_TRUE(WriteWholeFile(file, "# Tessaloom SFX Library v4\r\n# folder: /sfx/ca\rrt\r\r\n"
                                     "# previousName: old\rname\r\n/sfx/a.wav\ta\r\n"));
    LibraryIndex read;
    ASSERT_TRUE(ReadLibraryIndexFile(file, read));
    EXPECT_EQ(read.path, "/sfx/cart");
    EXPECT_EQ(read.previousNames, std::vector<std::string>{"oldname"});
    ASSERT_EQ(read.entries.size(), 1u);
    EXPECT_EQ(read.entries[0].name, "a");
    EXPECT_EQ(LibraryIndexHeaderProblem(read), "");
    EXPECT_TRUE(WriteLibraryIndexFile(read, file));

    EXPECT_EQ(LibraryIndexFilePath("/idx", "Foley"), "/idx/Foley.tllib");
    EXPECT_EQ(LibraryIndexFilePath("", "Foley"), "");
    EXPECT_EQ(LibraryIndexFilePath("/idx", "../../etc/x"), "");
    EXPECT_EQ(LibraryIndexFilePath("/idx", "a\nb"), "");
    // "." and ".." were taken as names: ".tllib" and "...tllib" in the folder.
    EXPECT_EQ(LibraryIndexFilePath("/idx", "."), "");
    EXPECT_EQ(LibraryIndexFilePath("/idx", ".."), "");

    // A pipe named like an index file in the folder once blocked start-up.
    const std::string pipe = dir.File("Pipe.tllib");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    LibraryIndex fromPipe;
    EXPECT_FALSE(ReadLibraryIndexFile(pipe, fromPipe));
}

TEST(LibraryIndexFile, FiftyThousandEntriesRoundTrip) {
    TempDir dir;
    LibraryIndex index;
    index.path = "/sfx/big";
    index.entries.resize(50000);
    uint32_t x = 2024;
    for (size_t i = 0; i < index.entries.size(); ++i) {
        LibraryEntry& e = index.entries[i];
        e.path = "/sfx/big/folder " + std::to_string(i % 97) + "/sound_" + std::to_string(i) + ".wav";
        e.name = "sound_" + std::to_string(i);
        // Magnitudes from 1e-6 to 1e4, both signs.
        for (float* field : FloatFields(e)) {
            x = x * 1103515245u + 12345u;
            *field = float((x >> 8) & 0xFFFFFF) / float(0xFFFFFF) * std::pow(10.0f, float(x % 11) - 6) *
                     ((x & 0x80) ? -1.0f : 1.0f);
        }
        e.channels = int32_t(1 + i % 8);
        e.bits = (i % 3) ? 24 : 32;
        e.midiNote = int32_t(i % 128) - 1;
        if (i % 5 != 0) {
            char id[17];
            std::snprintf(id, sizeof id, "%016llx", static_cast<unsigned long long>(0xb16000000000ull + i));
            e.fileId = id;
            e.hash = (uint64_t(x) << 32) ^ (i * 0x9E3779B97F4A7C15ull);
            e.size = 1000 + i * 37;
        }
        if (i % 7 == 0)
            e.description = "take " + std::to_string(i) + "\twet\\dry\nmic";
    }
    const std::string file = dir.File("big.tllib");
    ASSERT_TRUE(WriteLibraryIndexFile(index, file));
    LibraryIndex read;
    ASSERT_TRUE(ReadLibraryIndexFile(file, read));
    ASSERT_EQ(read.entries.size(), index.entries.size());
    // Six significant digits: a relative error of at most 5e-6, plus float rounding.
    for (size_t i = 0; i < index.entries.size(); ++i) {
        ExpectEntriesEqual(index.entries[i], read.entries[i], 5.2e-6);
        if (::testing::Test::HasFailure())
            FAIL() << "first difference at entry " << i;
    }
}

TEST(LibraryIndexFile, ConcurrentWritersNeverTearTheFile) {
    TempDir dir;
    const std::string file = dir.File("shared.tllib");
    LibraryIndex a, b;
    a.path = "/sfx/a";
    b.path = "/sfx/b";
    a.entries.resize(2000);
    b.entries.resize(3000);
    for (LibraryIndex* index : {&a, &b})
        for (size_t i = 0; i < index->entries.size(); ++i)
            index->entries[i].path = index->path + "/" + std::to_string(i) + ".wav";
    ASSERT_TRUE(WriteLibraryIndexFile(a, file));

    // One writer stands for a scan checkpoint, the other for the UI's
    // rewrite; the reader checks that every version it sees is whole.
    std::atomic<int> failures{0};
    auto writer = [&](const LibraryIndex& index) {
        for (int round = 0; round < 15; ++round)
            failures.fetch_add(WriteLibraryIndexFile(index, file) ? 0 : 1);
    };
    std::thread first(writer, std::cref(a)), second(writer, std::cref(b));
    int torn = 0;
    for (int round = 0; round < 30; ++round) {
        LibraryIndex seen;
        const bool ok = ReadLibraryIndexFile(file, seen);
        const LibraryIndex& expected = seen.path == a.path ? a : b;
        torn += (!ok || seen.entries.size() != expected.entries.size()) ? 1 : 0;
    }
    first.join();
    second.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(torn, 0);
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
}

}  // namespace
