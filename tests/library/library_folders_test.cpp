// Library folder operations: loading index files, the per-frame update with
// a fake clock, queued folders, relocation, removal, names and list renames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "library/file_identity.h"
#include "library/file_registry.h"
#include "library/library_folders.h"
#include "library/library_index_file.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"
#include "support/thread_gate.h"
#include "support/unique_file_id.h"

namespace fs = std::filesystem;

namespace {

LibraryEntry Entry(const std::string& path, const std::string& name = "door creak") {
    LibraryEntry entry;
    entry.path = path;
    entry.name = name;
    return entry;
}

LibraryIndex Library(const std::string& name, const std::string& folder, std::vector<LibraryEntry> entries) {
    LibraryIndex index;
    index.name = name;
    index.path = folder;
    index.entries = std::move(entries);
    return index;
}

void WaitForScan(SoundLibrary& library) {
    for (int i = 0; i < 20000 && library.scanRunning.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void WaitForFingerprints(SoundLibrary& library) {
    if (library.fingerprintThread.joinable()) library.fingerprintThread.join();
}

std::string Toggle(const char* text, const std::string& from, const std::string& to, uint32_t capacity = 64) {
    char buffer[64] = {};
    std::strncpy(buffer, text, sizeof buffer - 1);
    ToggleListItem(buffer, capacity, from, to);
    return buffer;
}

}  // namespace

TEST(LibraryFolders, LoadsOnlyReadableIndexFilesOfTheFolderItself) {
    TempDir dir;
    ASSERT_TRUE(WriteLibraryIndexFile(Library("Doors", "/sfx/Doors", {Entry("/sfx/Doors/creak.wav")}),
                                      dir.File("Doors.tllib")));
    LibraryIndex palette = Library("Picked", "", {Entry("/a/b.wav")});
    palette.savedPalette = 1;
    ASSERT_TRUE(WriteLibraryIndexFile(palette, dir.File("Picked.tllib")));
    fs::create_directories(dir.File("sub"));
    ASSERT_TRUE(WriteLibraryIndexFile(Library("Deep", "/x", {Entry("/x/y.wav")}), dir.File("sub/Deep.tllib")));
    ASSERT_TRUE(WriteLibraryIndexFile(Library("Upper", "/x", {Entry("/x/y.wav")}), dir.File("Upper.TLLIB")));
    ASSERT_TRUE(WriteWholeFile(dir.File("Empty.tllib"), "# Tessaloom SFX Library v4\n"));
    ASSERT_TRUE(WriteWholeFile(dir.File("notes.txt"), "hello"));
    fs::create_directories(dir.File("Folder.tllib"));

    SoundLibrary library;
    library.libraries.push_back(Library("Stale", "/old", {}));
    library.indexFolder = dir.path();
    LoadLibraryIndexFiles(library);
    ASSERT_EQ(library.libraries.size(), 2u);
    EXPECT_EQ(library.libraries[0].name, "Doors");
    EXPECT_EQ(library.libraries[0].summary.rfind("1 files", 0), 0u);
    EXPECT_EQ(library.libraries[1].name, "Picked");
    EXPECT_EQ(library.libraries[1].savedPalette, 1);
    EXPECT_EQ(library.keywordsDirty, 0);
    EXPECT_FALSE(library.keywords.empty());

    library.indexFolder.clear();
    LoadLibraryIndexFiles(library);
    EXPECT_TRUE(library.libraries.empty());
}

TEST(LibraryFolders, InitCreatesTheIndexFolderUnderAppData) {
    TempDir dir;
    ASSERT_EQ(setenv("APPDATA", dir.File("roaming").c_str(), 1), 0);
    SoundLibrary library;
    InitLibraryIndexFolder(library);
    unsetenv("APPDATA");
    EXPECT_EQ(library.indexFolder, dir.File("roaming") + "/Tessaloom");
    EXPECT_TRUE(fs::is_directory(library.indexFolder));
    EXPECT_TRUE(library.libraries.empty());
}

TEST(LibraryFolders, TakeOverReplacesByNameAndKeepsFormerNames) {
    SoundLibrary library;
    LibraryIndex doors = Library("Doors", "/sfx/Doors", {Entry("/sfx/Doors/old.wav")});
    doors.previousNames = {"Old Doors"};
    doors.enabled = 0;
    library.libraries.push_back(doors);
    LibraryIndex palette = Library("Rain", "", {Entry("/p/r.wav")});
    palette.savedPalette = 1;
    library.libraries.push_back(palette);
    library.keywordsDirty = 0;

    library.finishedScans.push_back(
        Library("Doors", "/sfx/Doors", {Entry("/sfx/Doors/a.wav", "slam"), Entry("/sfx/Doors/b.wav", "slam")}));
    library.finishedScans.push_back(Library("Rain", "/sfx/Rain", {Entry("/sfx/Rain/drops.wav", "drops")}));
    library.finishedScans.push_back(Library("Wind", "/sfx/Wind", {Entry("/sfx/Wind/gust.wav", "gust")}));
    const uint32_t revision = library.librariesRevision;
    AddLibraryFolder(library, 0);

    ASSERT_EQ(library.libraries.size(), 3u);
    EXPECT_TRUE(library.finishedScans.empty());
    EXPECT_NE(library.librariesRevision, revision);
    const LibraryIndex& replaced = library.libraries[0];
    EXPECT_EQ(replaced.entries.size(), 2u);
    EXPECT_EQ(replaced.enabled, 1);  // every field comes from the scan ...
    EXPECT_EQ(replaced.previousNames, std::vector<std::string>{"Old Doors"});  // ... but former names stay
    EXPECT_EQ(library.libraries[1].path, "/sfx/Rain");  // the palette of that name was replaced
    EXPECT_EQ(library.libraries[1].savedPalette, 0);
    EXPECT_EQ(library.libraries[2].name, "Wind");
    EXPECT_EQ(library.keywordsDirty, 0);
    bool hasGust = false;
    for (const KeywordRecord& k : library.keywords) hasGust |= k.token == "gust";
    EXPECT_TRUE(hasGust);
}

TEST(LibraryFolders, FolderCheckAndTheSingleFingerprintStartFollowTheClock) {
    TempDir dir;
    fs::create_directories(dir.File("here"));
    const std::string file = dir.File("here/a.wav");
    ASSERT_TRUE(WriteWholeFile(file, WavHolding("folder check content " + dir.path())));
    fs::create_directories(dir.File("index"));

    SoundLibrary library;
    ThreadGate gate;  // after the library: opened before its destructor joins the worker
    library.fingerprintBeforeFile = gate.Hook();
    library.indexFolder = dir.File("index");
    library.libraries.push_back(Library("Here", dir.File("here"), {Entry(file)}));
    library.libraries.push_back(Library("Gone", dir.File("gone"), {}));
    library.libraries.push_back(Library("Palette", "", {}));
    library.libraries[2].folderMissing = 1;

    AddLibraryFolder(library, 0);  // no clock yet: no check
    EXPECT_EQ(library.lastFolderCheck, 0);
    AddLibraryFolder(library, 10.0);  // the clock starts here
    EXPECT_EQ(library.lastFolderCheck, 10.0);
    AddLibraryFolder(library, 15.0);  // exactly 5 s: not yet
    EXPECT_EQ(library.libraries[1].folderMissing, 0);
    EXPECT_EQ(library.fingerprintStarted, 0);

    library.scanRunning.store(1);  // a scan runs: folders are checked, the worker waits
    AddLibraryFolder(library, 15.5);
    library.scanRunning.store(0);
    EXPECT_EQ(library.lastFolderCheck, 15.5);
    EXPECT_EQ(library.libraries[0].folderMissing, 0);
    EXPECT_EQ(library.libraries[1].folderMissing, 1);
    EXPECT_EQ(library.libraries[2].folderMissing, 0);  // a palette never counts as missing
    EXPECT_EQ(library.fingerprintStarted, 0);

    AddLibraryFolder(library, 20.6);  // the worker starts and is held at its first file
    EXPECT_EQ(library.fingerprintStarted, 1);
    ASSERT_TRUE(gate.WaitUntilReached());
    AddLibraryFolder(library, 20.65);  // while it runs, nothing reaches the entry or the disk
    EXPECT_TRUE(library.libraries[0].entries[0].fileId.empty());
    EXPECT_FALSE(fs::exists(LibraryIndexFilePath(library.indexFolder, "Here")));
    gate.Open();
    WaitForFingerprints(library);
    AddLibraryFolder(library, 20.7);  // results reach the entry, the file is written
    EXPECT_EQ(library.libraries[0].entries[0].fileId.size(), 16u);
    LibraryIndex onDisk;
    ASSERT_TRUE(ReadLibraryIndexFile(LibraryIndexFilePath(library.indexFolder, "Here"), onDisk));
    EXPECT_EQ(onDisk.entries[0].fileId, library.libraries[0].entries[0].fileId);

    // Once per run: a new entry without an id waits for the next start of the program.
    fs::remove(LibraryIndexFilePath(library.indexFolder, "Here"));
    library.libraries[0].entries.push_back(Entry(dir.File("here/b.wav")));
    AddLibraryFolder(library, 40.0);
    AddLibraryFolder(library, 40.1);
    EXPECT_FALSE(library.fingerprintThread.joinable() && library.fingerprintRunning.load());
    EXPECT_TRUE(library.libraries[0].entries[1].fileId.empty());
    EXPECT_FALSE(fs::exists(LibraryIndexFilePath(library.indexFolder, "Here")));  // written once only
}

TEST(LibraryFolders, QueuedFoldersStartOneAfterAnother) {
    TempDir dir;
    AudioSpec spec;
    spec.seconds = 0.1;
    fs::create_directories(dir.File("One"));
    fs::create_directories(dir.File("Two"));
    ASSERT_TRUE(WriteTestAudio(dir.File("One/a.wav"), spec));
    ASSERT_TRUE(WriteTestAudio(dir.File("Two/b.wav"), spec));

    SoundLibrary library;
    ThreadGate gate;  // holds the scan of One, so Two must wait for it
    library.scanBeforeFile = gate.Hook();
    library.libraries.push_back(Library("Known", dir.File("Known"), {}));
    fs::create_directories(dir.File("Known"));
    library.libraryAddQueue = {{dir.File("One"), 0, 2},
                               {dir.File("Missing"), 1, -1},
                               {dir.File("Known"), 1, -1},
                               {dir.File("Two"), 0, 1}};
    AddQueuedLibraryFolders(library);
    EXPECT_TRUE(library.libraryAddQueue.empty());
    EXPECT_EQ(library.pendingFolders, std::vector<std::string>{dir.File("Two")});
    EXPECT_EQ(library.pendingFolderNames, std::vector<std::string>{"Two"});

    gate.Open();
    WaitForScan(library);
    AddLibraryFolder(library, 0);  // takes over One, starts Two
    EXPECT_TRUE(library.pendingFolders.empty());
    EXPECT_TRUE(library.pendingFolderNames.empty());
    WaitForScan(library);
    AddLibraryFolder(library, 0);
    if (library.scanThread.joinable()) library.scanThread.join();
    ASSERT_EQ(library.libraries.size(), 3u);
    EXPECT_EQ(library.libraries[1].name, "One");
    EXPECT_EQ(library.libraries[1].enabled, 0);  // the queued values ...
    EXPECT_EQ(library.libraries[1].group, 2);
    EXPECT_EQ(library.libraries[2].name, "Two");
    EXPECT_EQ(library.libraries[2].enabled, 1);  // ... but a pending folder starts with 1 and -1
    EXPECT_EQ(library.libraries[2].group, -1);
}

TEST(LibraryFolders, RelocationKeepsWhatIsFoundAndNeverEmptiesALibrary) {
    TempDir dir;
    fs::create_directories(dir.File("new/sub"));
    ASSERT_TRUE(WriteWholeFile(dir.File("new/a.wav"), WavHolding("relocated a " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(dir.File("new/sub/b.wav"), WavHolding("relocated b " + dir.path())));
    fs::create_directories(dir.File("empty"));
    fs::create_directories(dir.File("index"));

    // The entry knows its content from before the move. Its real fingerprint
    // (unique to this folder) keeps it from meeting the registry's records of
    // earlier runs of the test in the same process.
    const FileId id = UniqueFileId();
    LibraryEntry a = Entry(dir.File("old/a.wav"));
    a.fileId = id;
    ASSERT_TRUE(FingerprintFile(dir.File("new/a.wav"), a.hash, a.size));
    SoundLibrary library;
    library.indexFolder = dir.File("index");
    library.libraries.push_back(Library("Moved", dir.File("old") + "/",
                                        {a, Entry(dir.File("old/sub/b.wav")), Entry(dir.File("old/c.wav")),
                                         Entry(dir.File("older/a.wav"))}));
    library.libraries[0].folderMissing = 1;
    LibraryIndex palette = Library("Palette", "", {Entry(dir.File("old/a.wav"))});
    palette.savedPalette = 1;
    library.libraries.push_back(palette);

    EXPECT_EQ(RefreshLibraryIndex(library, 0, dir.File("new"), 1), 0);  // busy
    EXPECT_EQ(RefreshLibraryIndex(library, 5, dir.File("new"), 0), 0);
    EXPECT_EQ(RefreshLibraryIndex(library, 1, dir.File("new"), 0), 0);  // a palette has no folder
    EXPECT_EQ(library.libraries[1].path, "");
    EXPECT_EQ(RefreshLibraryIndex(library, 0, dir.File("empty"), 0), 0);  // nothing would be kept
    EXPECT_EQ(library.libraries[0].entries.size(), 4u);
    EXPECT_EQ(library.libraries[0].path, dir.File("old") + "/");

    EXPECT_EQ(RefreshLibraryIndex(library, 0, dir.File("new") + "//", 0), 2);
    const LibraryIndex& moved = library.libraries[0];
    EXPECT_EQ(moved.path, dir.File("new"));
    ASSERT_EQ(moved.entries.size(), 2u);
    EXPECT_EQ(moved.entries[0].path, dir.File("new/a.wav"));
    EXPECT_EQ(moved.entries[1].path, dir.File("new/sub/b.wav"));
    EXPECT_EQ(moved.folderMissing, 0);
    EXPECT_GT(moved.scanTime, 0);
    EXPECT_EQ(FileRegistry::Instance().FindPath(id), dir.File("new/a.wav"));
    LibraryIndex onDisk;
    ASSERT_TRUE(ReadLibraryIndexFile(LibraryIndexFilePath(library.indexFolder, "Moved"), onDisk));
    EXPECT_EQ(onDisk.entries.size(), 2u);
}

TEST(LibraryFolders, RemovalDeletesTheIndexFile) {
    TempDir dir;
    SoundLibrary library;
    library.indexFolder = dir.path();
    library.libraries.push_back(Library("A", "/a", {Entry("/a/x.wav")}));
    library.libraries.push_back(Library("B", "/b", {Entry("/b/x.wav")}));
    ASSERT_TRUE(SaveLibraryIndex(library, library.libraries[0]));
    EXPECT_FALSE(RemoveLibrary(library, 0, 1));
    EXPECT_FALSE(RemoveLibrary(library, 2, 0));
    EXPECT_EQ(library.libraries.size(), 2u);
    library.keywordsDirty = 0;
    EXPECT_TRUE(RemoveLibrary(library, 0, 0));
    EXPECT_FALSE(fs::exists(dir.File("A.tllib")));
    ASSERT_EQ(library.libraries.size(), 1u);
    EXPECT_EQ(library.libraries[0].name, "B");
    EXPECT_EQ(library.keywordsDirty, 1);
    EXPECT_TRUE(RemoveLibrary(library, 0, 0));  // no index file: removed all the same
    EXPECT_TRUE(library.libraries.empty());
}

TEST(LibraryFolders, UniqueNamesCountOnUntilFree) {
    std::vector<LibraryIndex> libraries(2);
    libraries[0].name = "X";
    libraries[1].name = "X 2";
    EXPECT_EQ(MakeUniqueLibraryName(libraries, "X"), "X 3");
    EXPECT_EQ(MakeUniqueLibraryName(libraries, "Y"), "Y");
    libraries[0].name = "Z";
    EXPECT_EQ(MakeUniqueLibraryName(libraries, "X"), "X");

    std::vector<LibraryIndex> many(120);
    many[0].name = "Full";
    for (int n = 2; n <= 120; ++n) many[size_t(n) - 1].name = "Full " + std::to_string(n);
    EXPECT_EQ(MakeUniqueLibraryName(many, "Full"), "Full 121");

    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("Y.tllib"), "unreadable"));
    EXPECT_EQ(MakeUniqueLibraryName(libraries, "Y", dir.path()), "Y 2");
}

TEST(LibraryFolders, ToggleListItemRenamesAndNormalises) {
    EXPECT_EQ(Toggle(" X ,Y,X", "X", "Z"), "Z,Y,Z");
    EXPECT_EQ(Toggle(",, X\t,,Y, ", "X", "Z"), "Z,,Y");
    EXPECT_EQ(Toggle("Rain Drops , Wind", "Rain Drops", "Rain"), "Rain,Wind");
    EXPECT_EQ(Toggle("A,B", "C", "D"), "A,B");
    EXPECT_EQ(Toggle("", "", "Z"), "");
    EXPECT_EQ(Toggle("   ", "X", "Z"), "");
    // Cut to capacity - 1 bytes, never inside a UTF-8 character.
    EXPECT_EQ(Toggle("Alpha,B", "B", "Gamma", 8), "Alpha,G");
    EXPECT_EQ(Toggle("Ab,X", "X", "\xC3\xA9\xC3\xA9", 6), "Ab,\xC3\xA9");
}

TEST(LibraryFolders, SavedFoldersAndDemoSubfoldersReachLibrariesOrTheQueue) {
    TempDir dir;
    SoundLibrary library;
    library.libraries.push_back(Library("Doors", "/sfx/Doors", {}));
    ApplySavedLibraryFolder(library, "/sfx/Doors", 0, 2);
    ApplySavedLibraryFolder(library, "/sfx/Doors/", 1, 1);  // another folder text: queued
    EXPECT_EQ(library.libraries[0].enabled, 0);
    EXPECT_EQ(library.libraries[0].group, 2);
    ASSERT_EQ(library.libraryAddQueue.size(), 1u);
    EXPECT_EQ(library.libraryAddQueue[0].folder, "/sfx/Doors/");
    EXPECT_EQ(library.libraryAddQueue[0].group, 1);

    fs::create_directories(dir.File("Demo/Wind"));
    fs::create_directories(dir.File("Demo/Rain"));
    ASSERT_TRUE(WriteWholeFile(dir.File("Demo/readme.txt"), "x"));
    library.libraries.push_back(Library("Rain", dir.File("Demo/Rain"), {}));
    library.libraryAddQueue.clear();
    EXPECT_EQ(QueueLibrarySubfolders(library, dir.File("Demo")), 1);
    ASSERT_EQ(library.libraryAddQueue.size(), 1u);
    EXPECT_EQ(library.libraryAddQueue[0].folder, dir.File("Demo/Wind"));
    EXPECT_EQ(library.libraryAddQueue[0].enabled, 1);
    EXPECT_EQ(library.libraryAddQueue[0].group, -1);
    EXPECT_EQ(QueueLibrarySubfolders(library, dir.File("NoDemo")), 0);
    // A second offer of the same folder queues nothing again.
    EXPECT_EQ(QueueLibrarySubfolders(library, dir.File("Demo")), 0);
    EXPECT_EQ(library.libraryAddQueue.size(), 1u);
}

TEST(LibraryFolders, SavedFoldersIncludeEveryFolderNotYetALibrary) {
    SoundLibrary library;
    library.libraries.push_back(Library("Doors", "/sfx/Doors", {}));
    library.libraries[0].enabled = 0;
    library.libraries[0].group = 2;
    library.libraries.push_back(Library("Picked", "", {}));  // a palette has no folder
    library.finishedScans.push_back(Library("Rain", "/sfx/Rain", {}));
    library.scanFolder = QueuedLibraryFolder{"/sfx/Wind", 0, 1};
    library.scanRunning.store(1);
    library.pendingFolders = {"/sfx/Steps", "/sfx/Doors"};
    library.libraryAddQueue.push_back(QueuedLibraryFolder{"/sfx/Cloth", 1, 0});
    library.libraryAddQueue.push_back(QueuedLibraryFolder{"/sfx/Rain", 0, 0});

    const std::vector<QueuedLibraryFolder> saved = SavedLibraryFolders(library);
    std::vector<std::string> folders;
    for (const QueuedLibraryFolder& f : saved) folders.push_back(f.folder);
    EXPECT_EQ(folders, (std::vector<std::string>{"/sfx/Doors", "/sfx/Rain", "/sfx/Wind", "/sfx/Steps", "/sfx/Cloth"}));
    EXPECT_EQ(saved[0].enabled, 0);
    EXPECT_EQ(saved[0].group, 2);
    EXPECT_EQ(saved[2].group, 1);
    EXPECT_EQ(saved[3].group, -1);

    // The last scan's folder counts only while it runs.
    library.scanRunning.store(0);
    EXPECT_EQ(SavedLibraryFolders(library).size(), 4u);
}

TEST(LibraryFolders, EveryProjectFolderIsScannedInTurn) {
    TempDir dir;
    AudioSpec spec;
    spec.seconds = 0.1;
    for (const char* name : {"A", "B", "Known"}) {
        fs::create_directories(dir.File(name));
        ASSERT_TRUE(WriteTestAudio(dir.File(name) + "/x.wav", spec));
    }
    SoundLibrary library;
    ThreadGate gate;  // holds the scan of A, so B must wait for it
    library.scanBeforeFile = gate.Hook();
    library.libraries.push_back(Library("Known", dir.File("Known"), {}));
    const std::vector<std::string> folders = {dir.File("A"), dir.File("Known"), dir.File("Missing"), dir.File("B"), ""};
    EXPECT_EQ(ScanProjectLibraryFolders(library, folders), 2);
    EXPECT_EQ(library.pendingFolders, std::vector<std::string>{dir.File("B")});
    gate.Open();
    for (int frame = 0; frame < 4; ++frame) {
        WaitForScan(library);
        AddLibraryFolder(library, 0);
    }
    WaitForScan(library);
    AddLibraryFolder(library, 0);
    ASSERT_GE(library.libraries.size(), 3u);
    EXPECT_EQ(library.libraries[1].name, "A");
    EXPECT_EQ(library.libraries[2].name, "B");
}

TEST(LibraryFolders, FormerLibraryNamesInFiltersBecomeCurrentOnes) {
    SoundLibrary library;
    library.libraries.push_back(Library("Foley Final", "/f", {}));
    library.libraries[0].previousNames = {"Foley", "Foley v2"};
    library.libraries.push_back(Library("Foley", "/other", {}));  // a library holds that name now
    library.libraries.push_back(Library("Rain", "/r", {}));
    library.libraries[2].previousNames = {"Drops"};
    Project project;
    project.events.resize(3);
    std::strcpy(project.events[0].libFilter, " Foley v2 , Drops,Unknown");
    std::strcpy(project.events[1].libFilter, "Foley,Rain");
    EXPECT_EQ(NormalizeEventLibFilters(project, library), 1);
    EXPECT_STREQ(project.events[0].libFilter, "Foley Final,Rain,Unknown");
    EXPECT_STREQ(project.events[1].libFilter, "Foley,Rain");
    EXPECT_STREQ(project.events[2].libFilter, "");
}

TEST(LibraryFolders, ChangesWaitWhileAReaderHoldsTheLibraries) {
    TempDir dir;
    SoundLibrary library;
    library.indexFolder = dir.path();
    library.libraries.push_back(Library("A", dir.File("a"), {Entry(dir.File("a/x.wav"))}));
    library.finishedScans.push_back(Library("B", "/b", {Entry("/b/y.wav", "rain")}));
    fs::create_directories(dir.File("moved"));
    ASSERT_TRUE(WriteWholeFile(dir.File("moved/x.wav"), "x"));
    ASSERT_TRUE(WriteWholeFile(dir.File("p.wav"), "not audio"));

    HoldLibraryForReading(library);
    HoldLibraryForReading(library);  // two readers
    ReleaseLibraryHold(library);
    EXPECT_TRUE(LibraryChangesWait(library));
    const uint32_t revision = library.librariesRevision;
    AddLibraryFolder(library, 0);
    EXPECT_EQ(library.libraries.size(), 1u);
    EXPECT_EQ(library.finishedScans.size(), 1u);  // waits in its hand-over
    EXPECT_EQ(RefreshLibraryIndex(library, 0, dir.File("moved"), 0), 0);
    EXPECT_EQ(library.libraries[0].path, dir.File("a"));
    EXPECT_FALSE(RemoveLibrary(library, 0, 0));
    EXPECT_EQ(library.librariesRevision, revision);

    ReleaseLibraryHold(library);
    EXPECT_FALSE(LibraryChangesWait(library));
    AddLibraryFolder(library, 0);
    EXPECT_EQ(library.libraries.size(), 2u);
    EXPECT_TRUE(library.finishedScans.empty());
    EXPECT_EQ(RefreshLibraryIndex(library, 0, dir.File("moved"), 0), 1);
    EXPECT_TRUE(RemoveLibrary(library, 1, 0));
}
