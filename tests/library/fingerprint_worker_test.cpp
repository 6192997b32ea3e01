// Fingerprint worker: which entries get jobs, how results reach them, the
// single rewrite of index files, stopping, and pinned-file ids of events.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "document/event.h"
#include "library/file_registry.h"
#include "library/fingerprint_worker.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"
#include "support/thread_gate.h"
#include "support/unique_file_id.h"

namespace {

LibraryEntry EntryFor(const std::string& path) {
    LibraryEntry entry;
    entry.path = path;
    entry.name = "x";
    return entry;
}

void WaitForWorker(SoundLibrary& library) {
    if (library.fingerprintThread.joinable()) library.fingerprintThread.join();
}

}  // namespace

TEST(FingerprintWorker, NothingToDoStartsNoThread) {
    SoundLibrary library;
    library.libraries.resize(1);
    LibraryEntry done = EntryFor("/nowhere/a.wav");
    done.fileId = "00000000000000f1";
    done.hash = 7;
    done.size = 3;
    library.libraries[0].entries.push_back(done);
    EXPECT_FALSE(StartFingerprintWorker(library));
    EXPECT_EQ(library.fingerprintRunning.load(), 0);
    EXPECT_FALSE(library.fingerprintThread.joinable());
}

TEST(FingerprintWorker, ResultsReachEntriesAndIndexFilesAreWrittenOnce) {
    TempDir dir;
    const std::string shared = dir.File("shared.wav");
    const std::string idOnly = dir.File("id_only.wav");
    const std::string hashOnly = dir.File("hash_only.wav");
    ASSERT_TRUE(WriteWholeFile(shared, WavHolding("fingerprint worker shared content " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(idOnly, WavHolding("fingerprint worker id only " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(hashOnly, WavHolding("fingerprint worker hash only " + dir.path())));

    SoundLibrary library;
    ThreadGate gate;  // after the library: opened before its destructor joins the worker
    library.fingerprintBeforeFile = gate.Hook();
    library.indexFolder = dir.path();
    library.libraries.resize(3);
    library.libraries[0].name = "First";
    library.libraries[0].entries.push_back(EntryFor(shared));
    const FileId ownId = UniqueFileId();
    LibraryEntry withId = EntryFor(idOnly);
    withId.fileId = ownId;  // its own id must survive
    library.libraries[0].entries.push_back(withId);
    library.libraries[0].entries.push_back(EntryFor(dir.File("gone.wav")));
    library.libraries[1].name = "Second";
    // A copy of the same content elsewhere: the registry recognises it.
    const std::string sharedCopy = dir.File("copy_of_shared.wav");
    ASSERT_TRUE(WriteWholeFile(sharedCopy, ReadWholeFile(shared)));
    library.libraries[1].entries.push_back(EntryFor(sharedCopy));
    LibraryEntry withHash = EntryFor(hashOnly);
    withHash.hash = 99;
    library.libraries[1].entries.push_back(withHash);
    library.libraries[2].name = "Untouched";
    LibraryEntry complete = EntryFor(dir.File("complete.wav"));
    complete.fileId = "00000000000000c0";
    complete.hash = 1;
    library.libraries[2].entries.push_back(complete);

    ASSERT_TRUE(StartFingerprintWorker(library));
    EXPECT_EQ(library.fingerprintTotal.load(), 5);
    EXPECT_FALSE(StartFingerprintWorker(library));  // one worker at a time: the first is held at its first file
    gate.Open();
    WaitForWorker(library);
    EXPECT_EQ(library.fingerprintDone.load(), 5);  // the unreadable file counts too

    const uint32_t revision = library.librariesRevision;
    EXPECT_EQ(TakeFingerprintResults(library), 4);
    EXPECT_NE(library.librariesRevision, revision);
    const LibraryEntry& a = library.libraries[0].entries[0];
    const LibraryEntry& b = library.libraries[0].entries[1];
    const LibraryEntry& gone = library.libraries[0].entries[2];
    const LibraryEntry& c = library.libraries[1].entries[0];
    const LibraryEntry& d = library.libraries[1].entries[1];
    EXPECT_EQ(a.fileId.size(), 16u);
    EXPECT_NE(a.hash, 0u);
    EXPECT_EQ(c.fileId, a.fileId);  // same content in two libraries: one id
    EXPECT_EQ(b.fileId, ownId);
    EXPECT_NE(b.hash, 0u);
    EXPECT_EQ(FileRegistry::Instance().FindPath(ownId), idOnly);
    EXPECT_TRUE(gone.fileId.empty());
    EXPECT_EQ(gone.hash, 0u);
    EXPECT_EQ(d.fileId.size(), 16u);
    EXPECT_NE(d.hash, 99u);  // measured again
    EXPECT_EQ(library.librariesToSave, (std::vector<std::string>{"First", "Second"}));

    EXPECT_EQ(SaveFingerprintedLibraries(library), 2);
    EXPECT_TRUE(library.librariesToSave.empty());
    EXPECT_EQ(SaveFingerprintedLibraries(library), 0);
    LibraryIndex reread;
    ASSERT_TRUE(ReadLibraryIndexFile(dir.File("First.tllib"), reread));
    ASSERT_EQ(reread.entries.size(), 3u);
    EXPECT_EQ(reread.entries[1].fileId, ownId);
    EXPECT_EQ(reread.entries[0].hash, a.hash);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Untouched.tllib")));
}

TEST(FingerprintWorker, ResultsFindTheirEntryAfterLibrariesMoved) {
    TempDir dir;
    const std::string file = dir.File("moved.wav");
    ASSERT_TRUE(WriteWholeFile(file, WavHolding("moved library content " + dir.path())));
    SoundLibrary library;
    library.libraries.resize(1);
    library.libraries[0].name = "Moves";
    library.libraries[0].entries.push_back(EntryFor(file));
    ASSERT_TRUE(StartFingerprintWorker(library));
    WaitForWorker(library);
    // A library was added in front and the entry is no longer first.
    library.libraries.insert(library.libraries.begin(), LibraryIndex{});
    library.libraries[1].entries.insert(library.libraries[1].entries.begin(), EntryFor(dir.File("other.wav")));
    EXPECT_EQ(TakeFingerprintResults(library), 1);
    EXPECT_FALSE(library.libraries[1].entries[1].fileId.empty());
    EXPECT_TRUE(library.libraries[1].entries[0].fileId.empty());
    EXPECT_EQ(SaveFingerprintedLibraries(library), 0);  // no index folder: nothing written
    EXPECT_TRUE(library.librariesToSave.empty());
}

TEST(FingerprintWorker, ClearingTheFlagStopsTheWorkerAfterTheFileInHand) {
    TempDir dir;
    const std::string file = dir.File("many.wav");
    ASSERT_TRUE(WriteWholeFile(file, WavHolding("stopped worker content " + dir.path())));
    SoundLibrary library;
    ThreadGate gate;  // after the library: opened before its destructor joins the worker
    library.fingerprintBeforeFile = gate.Hook();
    library.indexFolder = dir.path();
    library.libraries.resize(1);
    library.libraries[0].name = "Many";
    library.libraries[0].entries.assign(3, EntryFor(file));
    ASSERT_TRUE(StartFingerprintWorker(library));
    ASSERT_TRUE(gate.WaitUntilReached());  // the worker has its first file in hand
    library.fingerprintRunning.store(0);
    gate.Open();
    WaitForWorker(library);
    EXPECT_EQ(library.fingerprintDone.load(), 1);  // that file is finished, no other is begun
    EXPECT_EQ(library.fingerprintTotal.load(), 3);
    EXPECT_EQ(library.fingerprintRunning.load(), 0);

    // Its result still waits, and holds back the rewrite until it is taken.
    library.librariesToSave.push_back("Many");
    EXPECT_EQ(SaveFingerprintedLibraries(library), 0);
    EXPECT_EQ(library.librariesToSave.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Many.tllib")));
    EXPECT_EQ(TakeFingerprintResults(library), 1);
    EXPECT_EQ(library.libraries[0].entries[0].fileId.size(), 16u);
    EXPECT_TRUE(library.libraries[0].entries[1].fileId.empty());
    EXPECT_EQ(SaveFingerprintedLibraries(library), 1);
    EXPECT_TRUE(library.librariesToSave.empty());
}

TEST(FingerprintPinnedFiles, FillsMissingIdsAndKeepsPresentOnes) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("p1.wav"), WavHolding("pinned one " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(dir.File("p2.wav"), WavHolding("pinned two " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(dir.File("clip.wav"), WavHolding("pinned clip " + dir.path())));

    Event event;
    event.pinnedFiles = {dir.File("p1.wav"), dir.File("p2.wav"), dir.File("missing.wav")};
    event.pinnedFileIds = {"00000000000000aa"};
    std::snprintf(event.pinnedFile, sizeof event.pinnedFile, "%s", dir.File("clip.wav").c_str());
    FingerprintPinnedFiles(event);
    ASSERT_EQ(event.pinnedFileIds.size(), 3u);
    EXPECT_EQ(event.pinnedFileIds[0], "00000000000000aa");  // kept although the file differs
    EXPECT_EQ(event.pinnedFileIds[1], FileRegistry::Instance().FileRefForPath(dir.File("p2.wav")).id);
    EXPECT_EQ(event.pinnedFileIds[1].size(), 16u);
    EXPECT_TRUE(event.pinnedFileIds[2].empty());
    EXPECT_EQ(event.pinnedFileId.size(), 16u);
    EXPECT_EQ(event.pinnedFiles[2], dir.File("missing.wav"));  // paths never change

    Event fewer;
    fewer.pinnedFiles = {dir.File("p1.wav")};
    fewer.pinnedFileIds = {"", "00000000000000bb", "00000000000000cc"};
    FingerprintPinnedFiles(fewer);
    ASSERT_EQ(fewer.pinnedFileIds.size(), 1u);
    EXPECT_EQ(fewer.pinnedFileIds[0], FileRegistry::Instance().FileRefForPath(dir.File("p1.wav")).id);
    EXPECT_TRUE(fewer.pinnedFileId.empty());
}
