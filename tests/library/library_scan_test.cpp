// Scanning folders into libraries: the walk, naming, stop, checkpoints, texts.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "library/library_index_file.h"
#include "library/library_scan.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Waits (bounded) until the scan thread has ended and joins it.
void WaitForScan(SoundLibrary& library) {
    for (int i = 0; i < 60000 && library.scanRunning.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (library.scanThread.joinable()) library.scanThread.join();
}

// Writes `count` copies of one short tone into `folder`.
void FillFolder(const std::string& folder, int count, double seconds = 0.2) {
    fs::create_directories(folder);
    AudioSpec spec;
    spec.seconds = seconds;
    spec.frequency = 330;
    std::string first = folder + "/tone_000.wav";
    ASSERT_TRUE(WriteTestAudio(first, spec));
    for (int i = 1; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/tone_%03d.wav", i);
        fs::copy_file(first, folder + name);
    }
}

// Every number of an entry, in a fixed order, for exact comparison.
std::vector<float> EntryNumbers(const LibraryEntry& e) {
    std::vector<float> v = {e.duration, e.sampleRate, float(e.channels), float(e.bits)};
    v.insert(v.end(), std::begin(e.bandEnergy), std::end(e.bandEnergy));
    for (float x : {e.brightness, e.highFreqRatio, e.bandCentroid, e.crestDb, e.peakPosition, e.zeroCrossingRate,
                    e.dynamicsDb, e.rmsDb, e.temporalCentroid, e.spectralFlux, e.pitchHz, float(e.midiNote),
                    e.pitchCents, e.pitchConfidence, e.spectralFlatness, e.harmonicity, e.onsetPosition,
                    e.attackTime})
        v.push_back(x);
    return v;
}

}  // namespace

TEST(LibraryScan, SupportedExtensions) {
    for (const char* ok : {".wav", ".WAV", ".Aif", ".aiff", ".flac", ".caf", ".w64", ".RF64"})
        EXPECT_TRUE(IsSupportedAudioExtension(ok)) << ok;
    for (const char* no : {".mp3", ".ogg", ".m4a", ".opus", "wav", "", ".wave", ".wav2"})
        EXPECT_FALSE(IsSupportedAudioExtension(no)) << no;
}

TEST(LibraryScan, NamesAreChosenUpFrontAndNeverCollide) {
    TempDir dir;
    SoundLibrary library;
    library.indexFolder = dir.path();
    EXPECT_EQ(LibraryNameForFolder(library, "/sfx/My.Sounds"), "My");
    EXPECT_EQ(LibraryNameForFolder(library, "/sfx/Doors/"), "Doors");
    EXPECT_EQ(LibraryNameForFolder(library, "/"), "Library");

    LibraryIndex doors;
    doors.name = "Doors";
    doors.path = "/sfx/Doors";
    library.libraries.push_back(doors);
    LibraryIndex palette;  // palettes have no folder
    palette.name = "Doors 2";
    library.libraries.push_back(palette);
    EXPECT_EQ(LibraryNameForFolder(library, "/sfx/Doors"), "Doors");          // a rescan keeps its name
    EXPECT_EQ(LibraryNameForFolder(library, "/sfx/Doors/"), "Doors");
    EXPECT_EQ(LibraryNameForFolder(library, "/other/Doors"), "Doors 3");
    ASSERT_TRUE(WriteWholeFile(LibraryIndexFilePath(dir.path(), "Doors 3"), "x"));
    EXPECT_EQ(LibraryNameForFolder(library, "/other/Doors"), "Doors 4");       // an index file on disk counts
}

TEST(LibraryScan, IndexesSupportedFilesAndListsFailures) {
    TempDir dir;
    const std::string folder = dir.File("Impacts.v2");
    FillFolder(folder + "/sub", 3);
    AudioSpec spec;
    spec.seconds = 0.3;
    ASSERT_TRUE(WriteTestAudio(folder + "/LOUD.WAV", spec));
    ASSERT_TRUE(WriteWholeFile(folder + "/broken.wav", "RIFF....not audio at all"));
    ASSERT_TRUE(WriteWholeFile(folder + "/notes.txt", "hello"));
    ASSERT_TRUE(WriteWholeFile(folder + "/song.mp3", "ID3"));
    fs::create_directories(dir.File("index"));

    SoundLibrary library;
    library.indexFolder = dir.File("index");
    ASSERT_TRUE(StartLibraryScan(library, folder + "/", 1, 2));
    EXPECT_FALSE(StartLibraryScan(library, folder, 1, 2));  // one scan at a time
    WaitForScan(library);

    EXPECT_EQ(library.scanFilesFound.load(), 5);
    EXPECT_EQ(library.scanFilesDone.load(), 5);
    EXPECT_FLOAT_EQ(library.scanProgress.load(), 1.0f);
    EXPECT_EQ(GetScanStatus(library), "Done! 4 files indexed.");
    EXPECT_EQ(GetFailedFiles(library), std::vector<std::string>{"broken.wav"});
    EXPECT_EQ(GetScanError(library), "");
    EXPECT_STREQ(library.scanFolderName, "Impacts.v2");
    ASSERT_EQ(library.finishedScans.size(), 1u);
    const LibraryIndex& scanned = library.finishedScans[0];
    EXPECT_EQ(scanned.name, "Impacts");
    EXPECT_EQ(scanned.path, folder);
    EXPECT_EQ(scanned.group, 2);
    EXPECT_EQ(scanned.entries.size(), 4u);
    EXPECT_GT(scanned.scanTime, 0);
    EXPECT_EQ(scanned.summary.rfind("4 files", 0), 0u);

    LibraryIndex onDisk;
    ASSERT_TRUE(ReadLibraryIndexFile(LibraryIndexFilePath(library.indexFolder, "Impacts"), onDisk));
    EXPECT_EQ(onDisk.entries.size(), 4u);
}

TEST(LibraryScan, EmptyAndInaccessibleFolders) {
    TempDir dir;
    fs::create_directories(dir.File("empty/deeper"));
    ASSERT_TRUE(WriteWholeFile(dir.File("empty/deeper/readme.txt"), "x"));
    SoundLibrary library;
    library.indexFolder = dir.path();
    ASSERT_TRUE(StartLibraryScan(library, dir.File("empty"), 1, -1));
    WaitForScan(library);
    EXPECT_EQ(GetScanStatus(library), "No audio files found.");
    EXPECT_TRUE(library.finishedScans.empty());
    EXPECT_FALSE(fs::exists(LibraryIndexFilePath(dir.path(), "empty")));

    ASSERT_TRUE(StartLibraryScan(library, dir.File("missing"), 1, -1));
    WaitForScan(library);
    EXPECT_EQ(GetScanError(library).rfind("Scan interrupted: ", 0), 0u) << GetScanError(library);
    EXPECT_EQ(GetScanStatus(library), "No audio files found.");
}

TEST(LibraryScan, AFolderNameThatCannotBeAFileNameIsReportedNotWritten) {
    TempDir dir;
    const std::string folder = dir.File("Bad\x01Name");
    FillFolder(folder, 2);
    SoundLibrary library;
    library.indexFolder = dir.File("index");
    fs::create_directories(library.indexFolder);
    ASSERT_TRUE(StartLibraryScan(library, folder, 1, -1));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 1u);  // the sounds are still usable
    EXPECT_NE(GetScanError(library).find("cannot be used as a file name"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(library.indexFolder));
}

TEST(LibraryScan, StoppingHandsOverWhatWasIndexed) {
    TempDir dir;
    FillFolder(dir.File("Rain"), 100, 2.0);
    SoundLibrary library;
    ASSERT_TRUE(StartLibraryScan(library, dir.File("Rain"), 1, -1));
    int doneAtStop = 0;
    for (int i = 0; i < 2000000 && library.scanRunning.load(); ++i) {
        doneAtStop = library.scanFilesDone.load();
        if (doneAtStop >= 10) {
            library.scanRunning.store(0);
            break;
        }
        std::this_thread::yield();
    }
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 1u);
    // Files 0..9 were committed before the stop; the committer may finish the
    // file it holds, but analyses that ran ahead on other cores are dropped.
    const size_t handed = library.finishedScans[0].entries.size();
    EXPECT_GE(doneAtStop, 10);
    EXPECT_GE(handed, 10u);
    EXPECT_LT(handed, 100u);
    EXPECT_EQ(GetScanStatus(library), "Scan stopped \xE2\x80\x94 " + std::to_string(handed) + " of 100 files indexed.");
    EXPECT_EQ(library.scanFilesDone.load(), 100);
}

TEST(LibraryScan, CheckpointsEveryFiveHundredFiles) {
    TempDir dir;
    FillFolder(dir.File("few"), 499, 0.05);
    FillFolder(dir.File("many"), 1000, 0.05);
    SoundLibrary library;
    library.indexFolder = dir.path();

    ASSERT_TRUE(StartLibraryScan(library, dir.File("few"), 1, -1));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 1u);  // the frame has not taken it over
    EXPECT_EQ(library.finishedScans.back().indexWrites, 1);  // only at the end
    EXPECT_EQ(GetScanStatus(library), "Done! 499 files indexed.");

    ASSERT_TRUE(StartLibraryScan(library, dir.File("many"), 1, -1));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 2u);
    EXPECT_EQ(library.finishedScans.back().path, dir.File("many"));
    EXPECT_EQ(library.finishedScans.back().indexWrites, 3);  // at 500, at 1000 and at the end
}

TEST(LibraryScan, SameNamedFoldersGetTheirOwnLibraries) {
    TempDir dir;
    FillFolder(dir.File("a/Doors"), 2);
    FillFolder(dir.File("b/Doors"), 3);
    SoundLibrary library;
    library.indexFolder = dir.path();
    ASSERT_TRUE(StartLibraryScan(library, dir.File("a/Doors"), 1, -1));
    WaitForScan(library);
    ASSERT_TRUE(StartLibraryScan(library, dir.File("b/Doors"), 1, -1));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 2u);
    EXPECT_EQ(library.finishedScans[0].name, "Doors");
    EXPECT_EQ(library.finishedScans[1].name, "Doors 2");
    EXPECT_TRUE(fs::exists(LibraryIndexFilePath(dir.path(), "Doors")));
    EXPECT_TRUE(fs::exists(LibraryIndexFilePath(dir.path(), "Doors 2")));

    // Once taken over, a rescan of the first folder replaces its library in place.
    library.libraries = library.finishedScans;
    library.finishedScans.clear();
    ASSERT_TRUE(StartLibraryScan(library, dir.File("a/Doors"), 1, -1));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 1u);
    EXPECT_EQ(library.finishedScans[0].name, "Doors");
}

TEST(LibraryScan, UiPollingWhileScanning) {
    TempDir dir;
    FillFolder(dir.File("Wind"), 40, 0.5);
    ASSERT_TRUE(WriteWholeFile(dir.File("Wind/bad.wav"), "nope"));
    SoundLibrary library;
    ASSERT_TRUE(StartLibraryScan(library, dir.File("Wind"), 1, -1));
    size_t frames = 0;
    std::string status;
    while (library.scanRunning.load()) {
        status = GetScanStatus(library);
        GetScanError(library);
        GetFailedFiles(library);
        (void)library.scanProgress.load();
        ++frames;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    WaitForScan(library);
    EXPECT_GT(frames, 0u);
    EXPECT_EQ(GetScanStatus(library), "Done! 40 files indexed.");
}

TEST(LibraryScan, ADanglingLinkCostsOnlyItself) {
    TempDir dir;
    const std::string folder = dir.File("Links");
    fs::create_directories(folder + "/sub");
    AudioSpec spec;
    spec.seconds = 0.25;
    for (int i = 0; i < 3; ++i) {
        spec.frequency = 200.0 + 300.0 * i;
        ASSERT_TRUE(WriteTestAudio(folder + (i == 1 ? "/sub" : "") + "/sound_" + std::to_string(i) + ".wav", spec));
    }
    fs::create_symlink(dir.File("nowhere/gone.wav"), folder + "/gone.wav");
    fs::create_symlink(dir.File("nowhere/notes.txt"), folder + "/sub/notes.txt");

    SoundLibrary library;
    ASSERT_TRUE(StartLibraryScan(library, folder, 1, -1));
    WaitForScan(library);
    EXPECT_EQ(GetScanError(library), "");
    EXPECT_EQ(GetFailedFiles(library), std::vector<std::string>{"gone.wav"});
    EXPECT_EQ(GetScanStatus(library), "Done! 3 files indexed.");
    ASSERT_EQ(library.finishedScans.size(), 1u);
    EXPECT_EQ(library.finishedScans[0].entries.size(), 3u);
}

TEST(LibraryScan, ManyWorkersIndexTheSameEntriesInFileOrder) {
    TempDir dir;
    const std::string folder = dir.File("Tones");
    fs::create_directories(folder);
    AudioSpec spec;
    for (int i = 0; i < 40; ++i) {
        spec.seconds = 0.1 + 0.01 * (i % 7);
        spec.frequency = 150.0 + 97.0 * i;
        ASSERT_TRUE(WriteTestAudio(folder + "/tone_" + std::to_string(i) + ".wav", spec));
    }
    auto scan = [&](int workers) {
        SoundLibrary library;
        library.scanWorkers = workers;
        EXPECT_TRUE(StartLibraryScan(library, folder, 1, -1));
        WaitForScan(library);
        EXPECT_EQ(library.finishedScans.size(), 1u);
        return library.finishedScans.empty() ? LibraryIndex{} : library.finishedScans[0];
    };
    const LibraryIndex one = scan(1);
    const LibraryIndex many = scan(12);
    ASSERT_EQ(one.entries.size(), 40u);
    ASSERT_EQ(many.entries.size(), one.entries.size());
    for (size_t i = 0; i < one.entries.size(); ++i) {
        const LibraryEntry& a = one.entries[i];
        const LibraryEntry& b = many.entries[i];
        EXPECT_EQ(a.path, b.path) << i;
        EXPECT_EQ(a.fileId, b.fileId) << i;
        EXPECT_EQ(a.duration, b.duration) << i;
        EXPECT_EQ(a.bandCentroid, b.bandCentroid) << i;
        EXPECT_EQ(a.pitchHz, b.pitchHz) << i;
        EXPECT_EQ(a.rmsDb, b.rmsDb) << i;
    }
    EXPECT_EQ(one.summary, many.summary);
}

// A folder that goes away while it is scanned: what was indexed is kept but
// marked incomplete (in memory and in its index file), the user gets a note
// that says so rather than a count of "unsupported" files, and the note
// outlives the start of another folder's scan. A rescan that finishes
// clears both.
TEST(LibraryScan, AFolderThatVanishesMidScanLeavesAnIncompleteLibraryAndANote) {
    TempDir dir;
    const std::string folder = dir.File("Vanish");
    FillFolder(folder, 40);
    fs::create_directories(dir.File("Other"));
    ASSERT_TRUE(WriteWholeFile(dir.File("Other/broken.wav"), "RIFF....not audio at all"));
    FillFolder(dir.File("Other/ok"), 1);
    SoundLibrary library;
    library.indexFolder = dir.File("index");
    fs::create_directories(library.indexFolder);
    library.scanWorkers.store(1);
    int calls = 0;
    library.scanBeforeFile = [&] {
        if (++calls == 10) fs::remove_all(folder);
    };
    ASSERT_TRUE(StartLibraryScan(library, folder, 1, -1));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 1u);
    const LibraryIndex& partial = library.finishedScans[0];
    EXPECT_EQ(partial.incomplete, 1);
    EXPECT_GE(partial.entries.size(), 9u);
    EXPECT_LT(partial.entries.size(), 40u);
    EXPECT_EQ(FailedFileCount(library), 0u) << "vanished files are not unsupported ones";
    std::vector<ScanNote> notes = GetScanNotes(library);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_TRUE(notes[0].incomplete);
    EXPECT_EQ(notes[0].name, "Vanish");
    EXPECT_NE(notes[0].error.find(std::to_string(partial.entries.size()) + " of 40 files indexed"), std::string::npos)
        << notes[0].error;
    LibraryIndex onDisk;
    ASSERT_TRUE(ReadLibraryIndexFile(LibraryIndexFilePath(library.indexFolder, "Vanish"), onDisk));
    EXPECT_EQ(onDisk.incomplete, 1) << "the mark survives a restart";

    // Another folder's scan, with a file it must skip: both notes stay.
    library.scanBeforeFile = nullptr;
    ASSERT_TRUE(StartLibraryScan(library, dir.File("Other"), 1, -1));
    WaitForScan(library);
    notes = GetScanNotes(library);
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].name, "Other");
    EXPECT_EQ(notes[1].skipped, 1);
    EXPECT_FALSE(notes[1].incomplete);

    // The folder is back and scanned whole: no mark, no note for it.
    FillFolder(folder, 40);
    ASSERT_TRUE(StartLibraryScan(library, folder, 1, -1));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 3u);
    EXPECT_EQ(library.finishedScans[2].incomplete, 0);
    EXPECT_EQ(library.finishedScans[2].entries.size(), 40u);
    notes = GetScanNotes(library);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].name, "Other");
    DismissScanNote(library, 0);
    EXPECT_TRUE(GetScanNotes(library).empty());
}

// A library analysed in this run holds exactly the numbers its index file
// gives the next run, and a file measured outside every library (the sound
// probe, a pinned file's weight) weighs what its library entry says: a
// project's Clip and Bed weights, and so its export, do not depend on
// whether the library was scanned or read in this run.
TEST(LibraryScan, AScannedLibraryHoldsWhatItsIndexGivesTheNextRun) {
    TempDir dir;
    const std::string folder = dir.File("Mixed");
    fs::create_directories(folder);
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        AudioSpec spec;
        spec.kind = i % 2 ? SignalKind::Noise : SignalKind::Sine;
        spec.seed = unsigned(7 + i);
        spec.frequency = 173.0 + 911.0 * i;
        spec.amplitude = 0.23 + 0.17 * i;
        spec.seconds = 0.37 + 0.29 * i;
        files.push_back(folder + "/sound_" + std::to_string(i) + ".wav");
        ASSERT_TRUE(WriteTestAudio(files.back(), spec));
    }
    fs::create_directories(dir.File("index"));
    SoundLibrary library;
    library.indexFolder = dir.File("index");
    ASSERT_TRUE(StartLibraryScan(library, folder, 1, 2));
    WaitForScan(library);
    ASSERT_EQ(library.finishedScans.size(), 1u);
    const LibraryIndex& scanned = library.finishedScans[0];
    LibraryIndex read;
    ASSERT_TRUE(ReadLibraryIndexFile(LibraryIndexFilePath(library.indexFolder, scanned.name), read));
    ASSERT_EQ(read.entries.size(), files.size());
    ASSERT_EQ(scanned.entries.size(), files.size());

    size_t roundedAway = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        const LibraryEntry& entry = scanned.entries[i];
        ASSERT_EQ(entry.path, read.entries[i].path);
        EXPECT_EQ(EntryNumbers(entry), EntryNumbers(read.entries[i])) << entry.path;
        LibraryEntry fresh;
        ASSERT_TRUE(AnalyzeSoundFile(entry.path, fresh));
        roundedAway += EntryNumbers(fresh) != EntryNumbers(entry) ? 1 : 0;

        // The same file measured outside every library.
        EXPECT_EQ(GetFileBrightness(entry.path, "", nullptr, true), read.entries[i].brightness) << entry.path;
    }
    EXPECT_GT(roundedAway, 0u) << "the analysis has more digits than the index keeps";

    SoundProbe probe;
    SoundLibrary none;
    Project project;
    Event bed;
    bed.shape = kShapeBed;
    bed.pinnedFiles = files;
    project.events.push_back(bed);
    ASSERT_TRUE(FinishSoundProbe(probe, project, none));
    ASSERT_EQ(project.events[0].bedLayerWeight.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const LibraryEntry* entry = nullptr;
        for (const LibraryEntry& e : read.entries)
            if (e.path == files[i]) entry = &e;
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(project.events[0].bedLayerWeight[i], std::clamp(entry->brightness, 0.0f, 1.0f)) << files[i];
    }
}

// A folder of sounds the scan does not take leaves a note that says so,
// naming the folder; a sound shorter than one analysis block (88 ms at
// 11025 Hz: 970 frames) is counted apart from the unsupported files,
// with its true reason, while the files beside it are indexed.
TEST(LibraryScan, NothingFoundAndTooShortFilesLeaveNotesWithTheirTrueReason) {
    TempDir dir;
    fs::create_directories(dir.File("Field Recordings/mp3"));
    for (int i = 0; i < 12; ++i) {
        const std::string name = dir.File("Field Recordings/mp3/take_" + std::to_string(i));
        ASSERT_TRUE(WriteWholeFile(name + ".mp3", "ID3 not taken"));
        ASSERT_TRUE(WriteWholeFile(name + ".m4a", "ftyp not taken"));
    }
    SoundLibrary library;
    ASSERT_TRUE(StartLibraryScan(library, dir.File("Field Recordings"), 1, -1));
    WaitForScan(library);
    EXPECT_EQ(GetScanStatus(library), kNoAudioFilesFound);
    std::vector<ScanNote> notes = GetScanNotes(library);
    ASSERT_EQ(notes.size(), 1u) << "the scan leaves a trace";
    EXPECT_TRUE(notes[0].nothingFound);
    EXPECT_EQ(notes[0].name, "Field Recordings");

    const std::string clicks = dir.File("Clicks");
    FillFolder(clicks, 2, 0.25);
    AudioSpec tiny;
    tiny.sampleRate = 11025;
    tiny.seconds = 0.088;
    tiny.format = SampleFormat::Pcm16;
    ASSERT_TRUE(WriteTestAudio(clicks + "/tick.wav", tiny));
    ASSERT_TRUE(WriteWholeFile(clicks + "/broken.wav", "RIFF....not audio at all"));
    ASSERT_TRUE(StartLibraryScan(library, clicks, 1, -1));
    WaitForScan(library);
    EXPECT_EQ(GetScanStatus(library), "Done! 2 files indexed.");
    EXPECT_EQ(GetFailedFiles(library), std::vector<std::string>{"broken.wav"}) << "the short file is not unsupported";
    notes = GetScanNotes(library);
    ASSERT_EQ(notes.size(), 2u) << "the first folder's note stays";
    EXPECT_EQ(notes[1].tooShort, 1);
    EXPECT_EQ(notes[1].skipped, 1);
}
