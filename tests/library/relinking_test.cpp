// Relinking: one-file relinks, folder search, relink all, folder prefixes,
// the missing-files list and resolved paths written back into the document.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unordered_set>

#include "document/event.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "library/library_scan.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

FileRef Register(FileRegistry& registry, const std::string& path, const std::string& content) {
    EXPECT_TRUE(WriteWholeFile(path, WavHolding(content)));  // only sounds get ids
    return registry.FileRefForPath(path);
}

FileRegistryEntry EntryOf(FileRegistry& registry, const FileId& id) {
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.entries.at(id);
}

RenderResult ResultFor(int32_t eventIdx, const std::string& id, const std::string& path) {
    RenderResult r;
    r.eventIdx = eventIdx;
    r.fileId = id;
    r.filepath = path;
    return r;
}

}  // namespace

TEST(Relinking, StrictRelinkChecksContent) {
    TempDir dir;
    FileRegistry registry;
    const FileRef ref = Register(registry, dir.File("orig.wav"), "original content");
    fs::remove(dir.File("orig.wav"));
    ASSERT_TRUE(WriteWholeFile(dir.File("copy.wav"), WavHolding("original content")));
    ASSERT_TRUE(WriteWholeFile(dir.File("other.wav"), WavHolding("differentcontent")));  // same length

    EXPECT_EQ(RelinkFileStrict(registry, ref.id, dir.File("other.wav")), RelinkResult::ContentDiffers);
    EXPECT_EQ(EntryOf(registry, ref.id).path, dir.File("orig.wav"));
    EXPECT_EQ(RelinkFileStrict(registry, ref.id, dir.File("nothing.wav")), RelinkResult::Unreadable);
    // The same bytes as plain text are no sound: neither read nor taken.
    ASSERT_TRUE(WriteWholeFile(dir.File("notes.wav"), "original content"));
    EXPECT_EQ(RelinkFileStrict(registry, ref.id, dir.File("notes.wav")), RelinkResult::Unreadable);
    EXPECT_EQ(RelinkFileForced(registry, ref.id, dir.File("notes.wav")), RelinkResult::Unreadable);
    EXPECT_EQ(RelinkFileStrict(registry, "00000000000000ff", dir.File("copy.wav")), RelinkResult::UnknownId);

    const uint32_t generation = registry.generation.load();
    EXPECT_EQ(RelinkFileStrict(registry, ref.id, dir.File("copy.wav")), RelinkResult::Relinked);
    EXPECT_GT(registry.generation.load(), generation);
    const FileRegistryEntry entry = EntryOf(registry, ref.id);
    EXPECT_EQ(entry.path, dir.File("copy.wav"));
    // The old location is kept, not the new one listed twice.
    EXPECT_EQ(entry.alternatePaths, std::vector<std::string>{dir.File("orig.wav")});
    EXPECT_EQ(registry.FindPath(ref.id), dir.File("copy.wav"));

    // An entry known by path only learns the fingerprint of what it is linked to.
    registry.ResolveOrAdd("00000000000000a0", dir.File("lost.wav"));
    EXPECT_EQ(RelinkFileStrict(registry, "00000000000000a0", dir.File("other.wav")), RelinkResult::Relinked);
    std::lock_guard<std::mutex> lock(registry.mutex);
    EXPECT_EQ(registry.FindIdByContent(registry.entries.at("00000000000000a0").hash, WavHolding("differentcontent").size()),
              "00000000000000a0");
}

TEST(Relinking, ForcedRelinkKeepsBothFingerprints) {
    TempDir dir;
    FileRegistry registry;
    const FileRef ref = Register(registry, dir.File("a.wav"), "first take");
    const FileRef other = Register(registry, dir.File("b.wav"), "second, longer take");
    EXPECT_EQ(RelinkFileForced(registry, ref.id, dir.File("none.wav")), RelinkResult::Unreadable);
    EXPECT_EQ(RelinkFileForced(registry, "00000000000000fe", dir.File("b.wav")), RelinkResult::UnknownId);
    ASSERT_EQ(RelinkFileForced(registry, ref.id, dir.File("b.wav")), RelinkResult::Relinked);
    std::lock_guard<std::mutex> lock(registry.mutex);
    const FileRegistryEntry& entry = registry.entries.at(ref.id);
    EXPECT_EQ(entry.path, dir.File("b.wav"));
    EXPECT_TRUE(entry.alternatePaths.empty());
    EXPECT_EQ(entry.hash, other.hash);
    EXPECT_EQ(registry.FindIdByContent(ref.hash, ref.size), ref.id);
    // The new content's list holds the first owner first, then this id.
    const std::vector<FileId>& owners = registry.contentIndex.at(ContentKey{other.hash, other.size});
    ASSERT_EQ(owners.size(), 2u);
    EXPECT_EQ(owners[1], ref.id);
}

TEST(Relinking, FolderSearchMatchesHashedByContentAndUnhashedByName) {
    TempDir dir;
    FileRegistry registry;
    fs::create_directories(dir.File("old"));
    const FileRef hashed = Register(registry, dir.File("old/boom.wav"), "boom boom content");
    const FileRef sameName = Register(registry, dir.File("old/hiss.wav"), "hiss content");
    registry.ResolveOrAdd("00000000000000b1", dir.File("old/creak.wav"));  // path only
    registry.ResolveOrAdd("00000000000000b2", dir.File("old/squeak.aif"));
    fs::remove_all(dir.File("old"));

    EXPECT_EQ(RelinkMissingFilesInFolder(registry, dir.File("nowhere"), IsSupportedAudioExtension), 0);

    fs::create_directories(dir.File("found/deep"));
    ASSERT_TRUE(WriteWholeFile(dir.File("found/deep/renamed.WAV"), WavHolding("boom boom content")));  // content, new name
    ASSERT_TRUE(WriteWholeFile(dir.File("found/hiss.wav"), WavHolding("hiss other bytes")));  // name only: not for a hashed entry
    ASSERT_TRUE(WriteWholeFile(dir.File("found/creak.wav"), WavHolding("anything at all")));  // name, any content
    ASSERT_TRUE(WriteWholeFile(dir.File("found/squeak.aif"), WavHolding("refused by the filter")));
    auto onlyWav = [](std::string_view extension) { return extension == ".wav"; };

    EXPECT_EQ(RelinkMissingFilesInFolder(registry, dir.File("found"), onlyWav), 2);
    EXPECT_EQ(registry.FindPath(hashed.id), dir.File("found/deep/renamed.WAV"));
    EXPECT_EQ(registry.FindPath(sameName.id), "");
    EXPECT_EQ(registry.FindPath("00000000000000b1"), dir.File("found/creak.wav"));
    EXPECT_NE(EntryOf(registry, "00000000000000b1").hash, 0u);  // it learnt its content
    EXPECT_EQ(registry.FindPath("00000000000000b2"), "");
    // Nothing left to find but the entry the filter hides.
    EXPECT_EQ(RelinkMissingFilesInFolder(registry, dir.File("found"), onlyWav), 0);
    EXPECT_EQ(RelinkMissingFilesInFolder(registry, dir.File("found"), nullptr), 1);
}

TEST(Relinking, RelinkAllCountsFilesThatCameBack) {
    TempDir dir;
    FileRegistry registry;
    const FileRef a = Register(registry, dir.File("a.wav"), "a content");
    Register(registry, dir.File("b.wav"), "b content");
    fs::rename(dir.File("a.wav"), dir.File("a.moved"));
    EXPECT_EQ(registry.FindPath(a.id), "");
    EXPECT_EQ(RelinkAllMissing(registry), 0);
    fs::rename(dir.File("a.moved"), dir.File("a.wav"));
    EXPECT_EQ(RelinkAllMissing(registry), 1);
    EXPECT_EQ(RelinkAllMissing(registry), 0);
}

TEST(Relinking, FolderPrefixesMatchOnlyAtASeparator) {
    std::string out;
    EXPECT_FALSE(ReplaceFolderPrefix("/sfx/Doors/x.wav", "/sfx/Door", "/new", out));
    EXPECT_FALSE(ReplaceFolderPrefix("/sfx/Door", "/sfx/Door", "/new", out));
    ASSERT_TRUE(ReplaceFolderPrefix("/sfx/Door/x.wav", "/sfx/Door", "/new", out));
    EXPECT_EQ(out, "/new/x.wav");
    ASSERT_TRUE(ReplaceFolderPrefix("/sfx/x.wav", "/", "/mnt", out));
    EXPECT_EQ(out, "/mnt/sfx/x.wav");
    ASSERT_TRUE(ReplaceFolderPrefix("/sfx/x.wav", "/sfx", "/", out));
    EXPECT_EQ(out, "/x.wav");
    EXPECT_EQ(WithoutTrailingSlashes("/a/b///"), "/a/b");
    EXPECT_EQ(WithoutTrailingSlashes("///"), "/");

    TempDir dir;
    fs::create_directories(dir.File("new/sub"));
    ASSERT_TRUE(WriteWholeFile(dir.File("new/sub/x.wav"), WavHolding("x")));
    std::string path = dir.File("old/sub/x.wav");
    EXPECT_FALSE(TryRemapPathPrefix({dir.File("ol"), dir.File("new")}, path));
    EXPECT_FALSE(TryRemapPathPrefix({dir.File("old"), dir.File("elsewhere")}, path));
    EXPECT_EQ(path, dir.File("old/sub/x.wav"));
    EXPECT_TRUE(TryRemapPathPrefix({dir.File("old") + "/", dir.File("new") + "/"}, path));
    EXPECT_EQ(path, dir.File("new/sub/x.wav"));
}

TEST(Relinking, MissingFilesListCountsEventsAndLibraries) {
    TempDir dir;
    FileRegistry registry;
    const FileRef present = Register(registry, dir.File("here.wav"), "present");
    const FileRef gone = Register(registry, dir.File("zeta.wav"), "will be gone");
    fs::remove(dir.File("zeta.wav"));

    Project project;
    project.events.resize(3);
    // One event uses the missing file through three results and its pins.
    for (int k = 0; k < 3; ++k) project.results.push_back(ResultFor(0, gone.id, dir.File("zeta.wav")));
    project.events[0].pinnedFiles = {dir.File("zeta.wav")};
    project.events[0].pinnedFileIds = {gone.id};
    project.results.push_back(ResultFor(1, present.id, dir.File("here.wav")));
    RenderResult alloy = ResultFor(2, present.id, dir.File("here.wav"));
    alloy.procMode = 3;
    alloy.alloyMid.fileId = gone.id;
    alloy.alloyEnv.fileId = "00000000000000c3";  // unknown, no path anywhere
    project.results.push_back(alloy);
    project.events[2].hasPinnedFiles = true;
    std::strcpy(project.events[2].pinnedFile, (dir.File("sub") + "/alpha.wav").c_str());
    project.events[2].pinnedFileId = "00000000000000c4";  // unknown id: registered by path

    SoundLibrary library;
    library.libraries.resize(3);
    for (LibraryIndex& index : library.libraries) {
        LibraryEntry entry;
        entry.fileId = gone.id;
        index.entries = {entry, entry};  // twice in one library still counts once
    }
    library.libraries[1].entries[0].fileId = present.id;
    library.libraries[1].entries[1].fileId = present.id;

    MissingFilesState state;
    ASSERT_TRUE(RefreshMissingFiles(state, project, library, registry, 100.0, false));
    ASSERT_EQ(state.files.size(), 3u);
    EXPECT_EQ(state.files[0].name, "(unknown file)");
    EXPECT_EQ(state.files[0].id, "00000000000000c3");
    EXPECT_EQ(state.files[0].eventCount, 1u);
    EXPECT_EQ(state.files[1].name, "alpha.wav");
    EXPECT_EQ(state.files[1].path, dir.File("sub") + "/alpha.wav");
    EXPECT_EQ(state.files[2].name, "zeta.wav");
    EXPECT_EQ(state.files[2].eventCount, 2u);  // event 0 (results and pins) and event 2 (alloy source)
    EXPECT_EQ(state.files[2].libraryCount, 2u);
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        EXPECT_EQ(registry.entries.count("00000000000000c4"), 1u);
        EXPECT_EQ(registry.entries.count("00000000000000c3"), 0u);
    }

    // Within 2 s nothing is rebuilt; a forced call always is, and moves the due time.
    ASSERT_TRUE(WriteWholeFile(dir.File("zeta.wav"), WavHolding("will be gone")));
    RelinkAllMissing(registry);
    EXPECT_FALSE(RefreshMissingFiles(state, project, library, registry, 101.9, false));
    EXPECT_EQ(state.files.size(), 3u);
    EXPECT_TRUE(RefreshMissingFiles(state, project, library, registry, 101.0, true));
    EXPECT_EQ(state.files.size(), 2u);
    EXPECT_DOUBLE_EQ(state.nextRefreshTime, 103.0);
    EXPECT_FALSE(RefreshMissingFiles(state, project, library, registry, 102.5, false));
    EXPECT_TRUE(RefreshMissingFiles(state, project, library, registry, 103.0, false));

    project.results.clear();
    project.events.clear();
    EXPECT_TRUE(RefreshMissingFiles(state, project, library, registry, 0, true));
    EXPECT_TRUE(state.files.empty());
}

TEST(Relinking, ResolvedPathsReachTheDocument) {
    TempDir dir;
    FileRegistry registry;
    const FileRef moved = Register(registry, dir.File("new.wav"), "moved content");
    const std::string longPath = dir.File(std::string(520, 'x') + ".wav");
    registry.ResolveOrAdd("00000000000000d1", longPath);
    {
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.entries.at("00000000000000d1").present = 1;
        registry.entries.at("00000000000000d1").checkedGeneration = static_cast<int32_t>(registry.generation.load());
    }

    Project project;
    project.results.push_back(ResultFor(0, moved.id, dir.File("old.wav")));
    project.results[0].alloyHigh.fileId = moved.id;
    project.results.push_back(ResultFor(0, "00000000000000d9", dir.File("unknown.wav")));
    project.results.push_back(ResultFor(0, "", dir.File("no-id.wav")));
    project.events.resize(2);
    std::strcpy(project.events[0].pinnedFile, dir.File("old.wav").c_str());
    project.events[0].pinnedFileId = moved.id;
    project.events[0].pinnedFiles = {dir.File("old.wav"), dir.File("old.wav")};
    project.events[0].pinnedFileIds = {moved.id};  // shorter list: only the first pair
    std::strcpy(project.events[1].pinnedFile, dir.File("short.wav").c_str());
    project.events[1].pinnedFileId = "00000000000000d1";  // resolves to a path too long for the field
    project.bannedFiles = {dir.File("old.wav")};
    project.bannedFileIds = {moved.id};

    EXPECT_EQ(ApplyResolvedPaths(project, registry), 5);
    EXPECT_EQ(project.results[0].filepath, dir.File("new.wav"));
    EXPECT_EQ(project.results[0].fileId, moved.id);
    EXPECT_EQ(project.results[0].alloyHigh.filepath, dir.File("new.wav"));
    EXPECT_EQ(project.results[1].filepath, dir.File("unknown.wav"));
    EXPECT_EQ(project.results[2].filepath, dir.File("no-id.wav"));
    EXPECT_STREQ(project.events[0].pinnedFile, dir.File("new.wav").c_str());
    EXPECT_EQ(project.events[0].pinnedFiles[0], dir.File("new.wav"));
    EXPECT_EQ(project.events[0].pinnedFiles[1], dir.File("old.wav"));
    EXPECT_STREQ(project.events[1].pinnedFile, dir.File("short.wav").c_str());
    EXPECT_EQ(project.bannedFiles[0], dir.File("new.wav"));
    EXPECT_EQ(ApplyResolvedPaths(project, registry), 0);
}

// A layer whose file is at its path keeps it when paths are written back,
// though the registry knows the id elsewhere, unless its id was relinked;
// a layer whose file is gone follows.
TEST(Relinking, ResolvedPathsKeepAFileThatIsThereUnlessItsIdWasRelinked) {
    for (const bool there : {true, false})
        for (const bool relinked : {true, false}) {
            TempDir dir;
            FileRegistry registry;
            const FileRef ref = Register(registry, dir.File("library.wav"), "library content");
            if (there) {
                ASSERT_TRUE(WriteWholeFile(dir.File("copy.wav"), WavHolding("changed content")));
            }
            Project project;
            project.events.resize(1);
            project.results.push_back(ResultFor(0, ref.id, dir.File("copy.wav")));
            const std::unordered_set<FileId> ids = {ref.id};
            const bool follows = relinked || !there;
            EXPECT_EQ(ApplyResolvedPaths(project, registry, relinked ? &ids : nullptr), follows ? 1 : 0);
            EXPECT_EQ(project.results[0].filepath, dir.File(follows ? "library.wav" : "copy.wav"));
        }
}
