// The MISSING SOURCES block's rules: texts, the answers of a located file,
// "Use anyway", "Relink all" and the folder search's hand-over, on a private
// registry, document and missing list.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>

#include "demo_content/demo_generator.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "persistence/project_load.h"
#include "render/clip_bed_events.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"
#include "ui/missing_sources_logic.h"

namespace fs = std::filesystem;

namespace {

class MissingSources : public testing::Test {
protected:
    void SetUp() override {
        targets.project = project.get();
        targets.library = library.get();
        targets.registry = registry.get();
        targets.missing = &missing;
        targets.app = app.get();
        targets.now = 100;
        targets.rebuildVoices = [this] {
            ++rebuilds;
            return true;
        };
    }
    // A sound the project's result uses, registered with its content.
    FileRef Used(const std::string& name, const std::string& content) {
        const std::string path = dir.File(name);
        WriteWholeFile(path, WavHolding(content));  // only sounds get ids
        const FileRef ref = registry->FileRefForPath(path);
        project->results.emplace_back();
        project->results.back().filepath = path;
        project->results.back().fileId = ref.id;
        return ref;
    }
    void Refresh() { RefreshMissingFiles(missing, *project, *library, *registry, targets.now, true); }

    TempDir dir;
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<FileRegistry> registry = std::make_unique<FileRegistry>();
    MissingFilesState missing;
    RelinkTargets targets;
    int rebuilds = 0;
};

}  // namespace

TEST(MissingSourceTexts, CountsUsersAndFilters) {
    EXPECT_EQ(RelinkToastText(0), "No matching files found");
    EXPECT_EQ(RelinkToastText(1), "Relinked 1 file");
    EXPECT_EQ(RelinkToastText(2), "Relinked 2 files");
    MissingFile f;
    f.eventCount = 1;
    EXPECT_EQ(UsedByText(f), "used by 1 event");
    f.eventCount = 0;
    f.libraryCount = 1;
    EXPECT_EQ(UsedByText(f), "used by 0 events \xC2\xB7 1 palette");
    f.eventCount = 3;
    f.libraryCount = 2;
    EXPECT_EQ(UsedByText(f), "used by 3 events \xC2\xB7 2 palettes");
    EXPECT_EQ(LocateFilterExtension("/a/b/Door.AIFF"), "AIFF");
    EXPECT_EQ(LocateFilterExtension("/a/b.d/noext"), "wav") << "a dot in a folder is no extension";
    EXPECT_EQ(LocateFilterExtension(""), "wav");
}

TEST_F(MissingSources, EachAnswerOfALocatedFileLeadsWhereItShould) {
    const FileRef a = Used("door.wav", "door content");
    fs::remove(a.path);
    Refresh();
    ASSERT_EQ(missing.files.size(), 1u);
    PendingForcedRelink pending;

    // 2 and 3: the file could not be read (or the id is gone): only the toast.
    const std::string text = dir.File("text.wav");
    WriteWholeFile(text, "no sound");
    EXPECT_EQ(TakeLocateResult(targets, RelinkResult::Unreadable, a.id, text, pending), LocateStep::Unreadable);
    EXPECT_EQ(app->toastText, "Could not read the selected file");
    EXPECT_FLOAT_EQ(app->toastTimer, 4.0f);
    EXPECT_EQ(TakeLocateResult(targets, RelinkResult::Unreadable, a.id, "/x.wav", pending), LocateStep::Unreadable);
    EXPECT_EQ(app->toastText, "\xE2\x80\x9Cx.wav\xE2\x80\x9D was not found") << "gone since it was chosen";
    EXPECT_EQ(TakeLocateResult(targets, RelinkResult::UnknownId, a.id, "/x.wav", pending), LocateStep::Unreadable);
    EXPECT_FALSE(pending.Pending());

    // 1: other content waits for the user's decision, nothing else happens.
    app->toastText.clear();
    EXPECT_EQ(TakeLocateResult(targets, RelinkResult::ContentDiffers, a.id, "/other.wav", pending), LocateStep::Pending);
    EXPECT_TRUE(pending.PendingFor(a.id));
    EXPECT_EQ(pending.path, "/other.wav");
    EXPECT_TRUE(app->toastText.empty());
    EXPECT_EQ(missing.files.size(), 1u);

    // 0: one file relinked: the list is rebuilt, the voices queued, the toast says so.
    WriteWholeFile(a.path, WavHolding("door content"));
    ASSERT_EQ(RelinkFileStrict(*registry, a.id, a.path), RelinkResult::Relinked);
    EXPECT_EQ(TakeLocateResult(targets, RelinkResult::Relinked, a.id, a.path, pending), LocateStep::Relinked);
    EXPECT_EQ(app->toastText, "Relinked 1 file");
    EXPECT_TRUE(missing.files.empty());
    EXPECT_EQ(rebuilds, 1);
}

TEST_F(MissingSources, UseAnywayAdoptsOtherSoundButRefusesWhatIsNotSound) {
    const FileRef a = Used("door.wav", "door content");
    fs::remove(a.path);
    Refresh();
    PendingForcedRelink pending;

    // Random bytes under a sound's name: refused at "Locate..." and at "Use
    // anyway" alike, and the file stays missing.
    const std::string noise = dir.File("noise.wav");
    std::string bytes(5000, '\0');
    std::mt19937 random(7);
    for (char& c : bytes) c = static_cast<char>(random());
    WriteWholeFile(noise, bytes);
    EXPECT_TRUE(RefuseNonSoundFile(*app, noise));
    EXPECT_NE(app->toastText.find("noise.wav"), std::string::npos) << app->toastText;
    EXPECT_NE(app->toastText.find("not relinked"), std::string::npos) << app->toastText;
    // The relink itself reads no file that is not sound...
    EXPECT_EQ(TakeLocateResult(targets, RelinkFileStrict(*registry, a.id, noise), a.id, noise, pending),
              LocateStep::Unreadable);
    EXPECT_FALSE(pending.Pending());
    // ...and a pending pair whose file became noise since is refused too.
    pending.id = a.id;
    pending.path = noise;
    app->toastText.clear();
    EXPECT_FALSE(UseForcedRelink(targets, pending));
    EXPECT_FALSE(pending.Pending());
    EXPECT_NE(app->toastText.find("not relinked"), std::string::npos);
    EXPECT_TRUE(registry->FindPath(a.id).empty()) << "the id still points nowhere";
    EXPECT_EQ(project->results[0].filepath, a.path);
    EXPECT_TRUE(RefuseNonSoundFile(*app, dir.path())) << "a folder is no sound either";
    EXPECT_EQ(app->toastText, "\xE2\x80\x9C" + fs::path(dir.path()).filename().string() +
                                  "\xE2\x80\x9D is a folder, not a file");
    EXPECT_TRUE(RefuseRelinkFolder(*app, noise)) << "nor a file a folder";
    EXPECT_EQ(app->toastText, "\xE2\x80\x9Cnoise.wav\xE2\x80\x9D is a file, not a folder");
    EXPECT_FALSE(RefuseRelinkFolder(*app, dir.path()));

    const std::string other = dir.File("door_v2.wav");
    AudioSpec spec;
    spec.seconds = 0.2;
    ASSERT_TRUE(WriteTestAudio(other, spec));
    EXPECT_FALSE(RefuseNonSoundFile(*app, other));
    ASSERT_EQ(TakeLocateResult(targets, RelinkFileStrict(*registry, a.id, other), a.id, other, pending),
              LocateStep::Pending);
    EXPECT_TRUE(UseForcedRelink(targets, pending));
    EXPECT_FALSE(pending.Pending());
    EXPECT_EQ(project->results[0].filepath, other) << "the document takes the relinked path";
    EXPECT_TRUE(missing.files.empty());
    EXPECT_EQ(app->toastText, "Relinked 1 file");

    // A chosen file that vanished before "Use anyway".
    pending.id = a.id;
    pending.path = dir.File("gone.wav");
    EXPECT_FALSE(UseForcedRelink(targets, pending));
    EXPECT_FALSE(pending.Pending());
    EXPECT_EQ(app->toastText, "\xE2\x80\x9Cgone.wav\xE2\x80\x9D was not found");
}

TEST_F(MissingSources, RelinkAllCountsOnlyFilesThatWereAbsent) {
    const FileRef a = Used("a.wav", "a");
    const FileRef b = Used("b.wav", "b");
    Used("c.wav", "c");
    fs::rename(a.path, a.path + ".away");
    fs::rename(b.path, b.path + ".away");
    Refresh();
    ASSERT_EQ(missing.files.size(), 2u);

    EXPECT_EQ(RelinkAll(targets), 0) << "nothing came back; c was never missing";
    EXPECT_EQ(app->toastText, "No matching files found");
    EXPECT_EQ(rebuilds, 0) << "no voice to rebuild";

    fs::rename(a.path + ".away", a.path);
    app->busyTask.busy.store(true);  // a task runs: the rebuild waits for another occasion
    EXPECT_EQ(RelinkAll(targets), 1);
    app->busyTask.busy.store(false);
    EXPECT_EQ(app->toastText, "Relinked 1 file");
    EXPECT_EQ(rebuilds, 0);
    EXPECT_EQ(missing.files.size(), 1u);
    EXPECT_EQ(missing.files[0].id, b.id);
}

TEST_F(MissingSources, AFolderSearchHandsItsCountOverOnceItsTaskIsOver) {
    const FileRef a = Used("rain.wav", "rain");
    const FileRef b = Used("wind.wav", "wind");
    fs::create_directories(dir.File("found"));
    fs::rename(a.path, dir.File("found/rain.wav"));
    fs::rename(b.path, dir.File("found/wind.wav"));
    Refresh();
    FolderSearch search;
    int count = -1;
    EXPECT_FALSE(TakeFolderSearchResult(search, app->busyTask, count)) << "nothing started";

    search.started = true;
    app->busyTask.busy.store(true);
    RunFolderSearch(search, *registry, dir.File("found"));
    EXPECT_FALSE(TakeFolderSearchResult(search, app->busyTask, count)) << "its task still owns the frame";
    app->busyTask.busy.store(false);
    ASSERT_TRUE(TakeFolderSearchResult(search, app->busyTask, count));
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(TakeFolderSearchResult(search, app->busyTask, count)) << "taken once";
    FinishRelink(targets, count);
    EXPECT_EQ(app->toastText, "Relinked 2 files");
    EXPECT_EQ(project->results[1].filepath, dir.File("found/wind.wav"));

    // A task that ended without running its job leaves nothing to finish.
    search.started = true;
    search.finished.store(false);
    EXPECT_FALSE(TakeFolderSearchResult(search, app->busyTask, count));
    EXPECT_FALSE(search.started);
}

// The demo as a new user may meet it: its Clip's file moved away. The Clip
// names the file by id as a dropped file is named, so the file is listed as
// missing (not only rendered as a placeholder), and locating it brings the
// Clip back to sound.
TEST_F(MissingSources, TheDemoClipMovedAwayIsListedAndLocatedAgain) {
    std::string error;
    ASSERT_TRUE(GenerateDemoContent(dir.File("DemoContent"), error)) << error;
    const std::string folder = dir.File("DemoContent/Projects/") + kDemoProjectName;
    ASSERT_TRUE(LoadProjectFile(folder + "/" + kDemoProjectName + ".tlproj", *project).ok);
    // The project loader registers its files in the program's registry.
    targets.registry = &FileRegistry::Instance();
    int clip = -1;
    for (size_t e = 0; e < project->events.size(); ++e)
        if (project->events[e].shape == kShapeClip) clip = static_cast<int>(e);
    ASSERT_GE(clip, 0);
    Event& event = project->events[size_t(clip)];
    const std::string stored(TextFieldView(event.pinnedFile));
    ASSERT_FALSE(event.pinnedFileId.empty()) << "the demo names its Clip by path only";

    const std::string moved = dir.File("Elsewhere/" + fs::path(stored).filename().string());
    fs::create_directories(dir.File("Elsewhere"));
    fs::rename(stored, moved);
    ASSERT_TRUE(RebuildClipEvent(*project, clip));
    ASSERT_EQ(project->results.size(), 1u);
    EXPECT_TRUE(project->results[0].placeholder);
    RefreshMissingFiles(missing, *project, *library, *targets.registry, targets.now, true);
    ASSERT_EQ(missing.files.size(), 1u) << "the Bed's file is where it was";
    EXPECT_EQ(missing.files[0].id, event.pinnedFileId);
    EXPECT_EQ(missing.files[0].name, fs::path(stored).filename().string());
    EXPECT_EQ(missing.files[0].eventCount, 1u);

    // "Locate...": the file chosen in the dialog has the same content.
    PendingForcedRelink pending;
    const RelinkResult result = RelinkFileStrict(*targets.registry, event.pinnedFileId, moved);
    EXPECT_EQ(TakeLocateResult(targets, result, event.pinnedFileId, moved, pending), LocateStep::Relinked);
    EXPECT_EQ(app->toastText, "Relinked 1 file");
    EXPECT_TRUE(missing.files.empty());
    EXPECT_EQ(TextFieldView(event.pinnedFile), moved);
    ASSERT_TRUE(RebuildClipEvent(*project, clip));
    ASSERT_EQ(project->results.size(), 1u);
    EXPECT_FALSE(project->results[0].placeholder);
    EXPECT_EQ(project->results[0].filepath, moved);
}
