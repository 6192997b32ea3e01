// Collecting a project's sounds into its "Audio" folder: names, copies that
// are never overwritten, saves that copy nothing, and what the registry learns.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "persistence/collect_audio.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

RenderResult ResultFor(const std::string& path, const std::string& id = "") {
    RenderResult r;
    r.filepath = path;
    r.fileId = id;
    return r;
}

int64_t ModifiedNs(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Sets a file's times far into the past, so that any rewrite shows.
void AgeFile(const std::string& path) {
    std::error_code ec;
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400), ec);
}


}  // namespace

TEST(CollectProjectAudio, SameNamesAreNumberedInPathOrderAndASecondSaveCopiesNothing) {
    TempDir dir;
    for (const char* lib : {"libA", "libB", "libC"}) fs::create_directories(dir.File(lib));
    const std::string a = dir.File("libA/boom.wav"), b = dir.File("libB/boom.wav"), c = dir.File("libC/boom.wav");
    ASSERT_TRUE(WriteWholeFile(a, WavHolding("boom from A")));
    ASSERT_TRUE(WriteWholeFile(b, WavHolding("boom from B, longer")));
    ASSERT_TRUE(WriteWholeFile(c, WavHolding("boom from C")));
    const std::string project = dir.File("proj");
    fs::create_directories(project);

    Project doc;
    doc.results.push_back(ResultFor(c));
    doc.results.push_back(ResultFor(a));
    Event e;
    e.pinnedFiles = {b};  // the pinned flag is not needed for the layer list
    doc.events.push_back(e);

    CollectedAudioMap map = CollectProjectAudio(doc, project);
    EXPECT_EQ(LookupCollectedPath(map, a), "Audio/boom.wav");
    EXPECT_EQ(LookupCollectedPath(map, b), "Audio/boom_2.wav");
    EXPECT_EQ(LookupCollectedPath(map, c), "Audio/boom_3.wav");
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom.wav"), WavHolding("boom from A"));
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom_2.wav"), WavHolding("boom from B, longer"));
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom_3.wav"), WavHolding("boom from C"));
    EXPECT_EQ(FolderNames(project + "/Audio"), (std::vector<std::string>{"boom.wav", "boom_2.wav", "boom_3.wav"}));

    for (const char* name : {"boom.wav", "boom_2.wav", "boom_3.wav"}) AgeFile(project + "/Audio/" + name);
    const int64_t before[3] = {ModifiedNs(project + "/Audio/boom.wav"), ModifiedNs(project + "/Audio/boom_2.wav"),
                               ModifiedNs(project + "/Audio/boom_3.wav")};
    CollectedAudioMap again = CollectProjectAudio(doc, project);
    EXPECT_EQ(again.storedPaths, map.storedPaths);
    EXPECT_EQ(ModifiedNs(project + "/Audio/boom.wav"), before[0]);
    EXPECT_EQ(ModifiedNs(project + "/Audio/boom_2.wav"), before[1]);
    EXPECT_EQ(ModifiedNs(project + "/Audio/boom_3.wav"), before[2]);
    EXPECT_EQ(FolderNames(project + "/Audio").size(), 3u);  // no temporary files left

    // A source edited in place (same size) is a new sound: the copy of the
    // old one stays, and the new one gets the next free name.
    ASSERT_TRUE(WriteWholeFile(a, WavHolding("BOOM FROM A")));
    CollectedAudioMap edited = CollectProjectAudio(doc, project);
    EXPECT_EQ(LookupCollectedPath(edited, a), "Audio/boom_4.wav");
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom.wav"), WavHolding("boom from A"));
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom_4.wav"), WavHolding("BOOM FROM A"));
}

TEST(CollectProjectAudio, SoundsAlreadyInTheFolderKeepTheirNamesAndContent) {
    TempDir dir;
    const std::string project = dir.File("proj");
    fs::create_directories(project + "/Audio/sub");
    fs::create_directories(dir.File("lib"));
    const std::string inside = project + "/Audio/boom.wav";
    const std::string nested = project + "/Audio/sub/kick.wav";
    const std::string outside = dir.File("lib/boom.wav");  // sorts before the inside one
    ASSERT_TRUE(WriteWholeFile(inside, WavHolding("the boom the project already holds")));
    ASSERT_TRUE(WriteWholeFile(nested, WavHolding("kick")));
    ASSERT_TRUE(WriteWholeFile(outside, WavHolding("a different boom from the library")));
    ASSERT_LT(outside, inside);

    Project doc;
    doc.results.push_back(ResultFor(outside));
    doc.results.push_back(ResultFor(inside));
    doc.results.push_back(ResultFor(project + "/Audio/../Audio/sub/kick.wav"));
    AgeFile(inside);
    const int64_t insideTime = ModifiedNs(inside);

    CollectedAudioMap map = CollectProjectAudio(doc, project);
    EXPECT_EQ(LookupCollectedPath(map, inside), "Audio/boom.wav");
    EXPECT_EQ(LookupCollectedPath(map, project + "/Audio/../Audio/sub/kick.wav"), "Audio/sub/kick.wav");
    EXPECT_EQ(LookupCollectedPath(map, outside), "Audio/boom_2.wav");
    EXPECT_EQ(ReadWholeFile(inside), WavHolding("the boom the project already holds"));
    EXPECT_EQ(ModifiedNs(inside), insideTime);
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom_2.wav"), WavHolding("a different boom from the library"));
}

TEST(CollectProjectAudio, ACopyWithOtherContentIsNeverOverwritten) {
    TempDir dir;
    const std::string project = dir.File("proj");
    fs::create_directories(project + "/Audio");
    fs::create_directories(dir.File("lib"));
    // Left by an earlier save for a sound an older backup still uses: same
    // name and size as the new source, other bytes.
    ASSERT_TRUE(WriteWholeFile(project + "/Audio/boom.wav", WavHolding("AAAAAAAA")));
    // A copy of the second source from an earlier save: the same file.
    ASSERT_TRUE(WriteWholeFile(project + "/Audio/hit.wav", WavHolding("hit bytes")));
    ASSERT_TRUE(WriteWholeFile(dir.File("lib/boom.wav"), WavHolding("BBBBBBBB")));
    ASSERT_TRUE(WriteWholeFile(dir.File("lib/hit.wav"), WavHolding("hit bytes")));
    AgeFile(project + "/Audio/boom.wav");
    AgeFile(project + "/Audio/hit.wav");
    const int64_t boomTime = ModifiedNs(project + "/Audio/boom.wav");
    const int64_t hitTime = ModifiedNs(project + "/Audio/hit.wav");

    Project doc;
    doc.results.push_back(ResultFor(dir.File("lib/boom.wav")));
    doc.results.push_back(ResultFor(dir.File("lib/hit.wav")));
    CollectedAudioMap map = CollectProjectAudio(doc, project);
    EXPECT_EQ(LookupCollectedPath(map, dir.File("lib/boom.wav")), "Audio/boom_2.wav");
    EXPECT_EQ(LookupCollectedPath(map, dir.File("lib/hit.wav")), "Audio/hit.wav");
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom.wav"), WavHolding("AAAAAAAA"));
    EXPECT_EQ(ModifiedNs(project + "/Audio/boom.wav"), boomTime);
    EXPECT_EQ(ReadWholeFile(project + "/Audio/boom_2.wav"), WavHolding("BBBBBBBB"));
    EXPECT_EQ(ModifiedNs(project + "/Audio/hit.wav"), hitTime);
}

TEST(CollectProjectAudio, SourcesOfEveryKindSharedVanishedAndFailed) {
    TempDir dir;
    const std::string project = dir.File("proj");
    fs::create_directories(project);
    fs::create_directories(dir.File("lib"));
    auto make = [&dir](const char* name) {
        std::string path = dir.File(std::string("lib/") + name);
        EXPECT_TRUE(WriteWholeFile(path, WavHolding(std::string("content of ") + name + dir.path())));
        return path;
    };
    const std::string shared = make("shared.wav"), mid = make("mid.wav"), high = make("high.wav"),
                      env = make("env.wav"), plainMid = make("plain_mid.wav"), single = make("single.wav"),
                      deep = make("deep.wav"), unpinned = make("unpinned.wav");
    const std::string vanished = dir.File("lib/vanished.wav");

    Project doc;
    doc.results.push_back(ResultFor(shared));
    RenderResult alloy = ResultFor(vanished);
    alloy.procMode = 3;
    alloy.alloyMid.filepath = mid;
    alloy.alloyHigh.filepath = high;
    alloy.alloyEnv.filepath = env;
    doc.results.push_back(alloy);
    RenderResult plain = ResultFor("");
    plain.alloyMid.filepath = plainMid;  // alloy sources of a plain layer are not its sounds
    doc.results.push_back(plain);
    Event clip;
    clip.hasPinnedFiles = true;
    CopyTextField(clip.pinnedFile, single);
    clip.pinnedFiles = {shared};
    Event inner;
    inner.pinnedFiles = {deep};
    Event middle;
    middle.bounceSource.push_back(inner);
    clip.bounceSource.push_back(middle);
    Event notPinned;
    CopyTextField(notPinned.pinnedFile, unpinned);  // no pinned flag: not a sound of the event
    doc.events.push_back(clip);
    doc.events.push_back(notPinned);

    CollectedAudioMap map = CollectProjectAudio(doc, project);
    EXPECT_EQ(map.sourcePaths, (std::set<std::string>{shared, vanished, mid, high, env, single, deep}));
    EXPECT_EQ(LookupCollectedPath(map, vanished), vanished);
    EXPECT_EQ(map.storedPaths.count(vanished), 0u);
    EXPECT_EQ(LookupCollectedPath(map, deep), "Audio/deep.wav");
    EXPECT_EQ(LookupCollectedPath(map, single), "Audio/single.wav");
    EXPECT_EQ(LookupCollectedPath(map, ""), "");
    EXPECT_EQ(FolderNames(project + "/Audio"),
              (std::vector<std::string>{"deep.wav", "env.wav", "high.wav", "mid.wav", "shared.wav", "single.wav"}));

    // No folder can be made where a file named "Audio" lies: every copy
    // fails, each source keeps its own path and the collection goes on.
    const std::string blocked = dir.File("blocked");
    fs::create_directories(blocked);
    ASSERT_TRUE(WriteWholeFile(blocked + "/Audio", "not a folder"));
    CollectedAudioMap failed = CollectProjectAudio(doc, blocked);
    EXPECT_EQ(LookupCollectedPath(failed, shared), shared);
    EXPECT_EQ(LookupCollectedPath(failed, deep), deep);
}

TEST(CollectProjectAudio, TheRegistryResolvesACollectedIdToItsCopy) {
    TempDir dir;
    const std::string project = dir.File("proj");
    fs::create_directories(dir.File("lib"));
    const std::string source = dir.File("lib/registered.wav");
    ASSERT_TRUE(WriteWholeFile(source, WavHolding("registered sound " + dir.path())));
    FileRegistry& registry = FileRegistry::Instance();
    const FileRef ref = registry.FileRefForPath(source);
    ASSERT_FALSE(ref.id.empty());

    Project doc;
    doc.results.push_back(ResultFor(source, ref.id));
    CollectedAudioMap map = CollectProjectAudio(doc, project);
    ASSERT_EQ(LookupCollectedPath(map, source), "Audio/registered.wav");
    EXPECT_EQ(map.fileIds.at(source), ref.id);

    // The library file goes away: the id now finds the project's copy.
    fs::remove(source);
    EXPECT_EQ(registry.FindPath(ref.id), fs::absolute(project + "/Audio/registered.wav").string());

    RecordCollectedPath(map, source, "");  // an empty id keeps the recorded one
    EXPECT_EQ(map.fileIds.at(source), ref.id);
    RecordCollectedPath(map, "", "00000000000000ff");
    EXPECT_EQ(map.sourcePaths.count(""), 0u);
}

TEST(CollectProjectAudio, OnlySoundIsCopiedAndEverythingElseStaysWhereItIs) {
    // A project from someone else names the recipient's files: none of them
    // may travel back inside its "Audio" folder, and no special file may
    // hang or fill the save.
    TempDir dir;
    const std::string project = dir.File("proj");
    fs::create_directories(project);
    fs::create_directories(dir.File("outside"));
    const std::string secret = dir.File("outside/secret.txt");
    ASSERT_TRUE(WriteWholeFile(secret, "the recipient's private notes"));
    const std::string fifo = dir.File("outside/pipe.wav");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string sound = dir.File("outside/boom.wav");
    ASSERT_TRUE(WriteWholeFile(sound, WavHolding("boom")));

    Project doc;
    for (const std::string& path : {secret, std::string("/etc/passwd"), fifo, std::string("/dev/zero"), sound})
        doc.results.push_back(ResultFor(path));
    CollectedAudioMap map = CollectProjectAudio(doc, project);
    EXPECT_EQ(FolderNames(project + "/Audio"), (std::vector<std::string>{"boom.wav"}));
    EXPECT_EQ(LookupCollectedPath(map, sound), "Audio/boom.wav");
    EXPECT_EQ(map.leftOut, (std::vector<std::string>{"/dev/zero", "/etc/passwd", fifo, secret}));
    for (const std::string& path : map.leftOut) EXPECT_EQ(LookupCollectedPath(map, path), path);
}
