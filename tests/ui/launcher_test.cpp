// The launcher: its date and description caches, its actions on the
// program's own document and preferences, and the card driven with a
// scripted mouse in a windowless GUI.
#include <gtest/gtest.h>
#include <imgui.h>

#include <sys/time.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

#include "app/drawn_text.h"
#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "persistence/project_file.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"
#include "support/imgui_headless.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "ui/launcher.h"
#include "ui/launcher_logic.h"
#include "ui/ui_layout.h"

namespace fs = std::filesystem;

namespace {

// 2026-03-05 14:07:00 UTC.
constexpr std::time_t kMarch5 = 1772719620;

void SetFileTime(const std::string& path, std::time_t t) {
    const timeval times[2] = {{t, 0}, {t, 0}};
    ASSERT_EQ(utimes(path.c_str(), times), 0);
}

// TZ for one scope; the C library reads it again on the way in and out.
class FixedZone {
public:
    explicit FixedZone(const char* zone) {
        env_.Set("TZ", zone);
        tzset();
    }

private:
    struct ReadAgain {
        ~ReadAgain() { tzset(); }
    } readAgain_;           // destroyed last: after TZ is put back
    ScopedEnvironment env_;
};

bool WriteProject(const std::string& path, const std::string& description) {
    Project project;
    AddEvent(project, 1.0f, kShapeSpot, 0.5f);
    ProjectSaveContext ctx;
    ctx.project = &project;
    ctx.projectDescription = description;
    fs::create_directories(fs::path(path).parent_path());
    return WriteProjectFile(path, ctx);
}

std::string WriteDescribed(TempDir& dir, const std::string& name, const std::string& description) {
    const std::string path = dir.File(name + "/" + name + ".tlproj");
    EXPECT_TRUE(WriteProject(path, description));
    return path;
}

void ResetLauncherState() {
    AppState& app = gAppState;
    app.recentProjects.clear();
    app.showLauncher = false;
    app.launcherDismissed = false;
    app.showLauncherOnStartup = true;
    app.confirmAction = 0;
    app.confirmOpenPath.clear();
    app.modified = false;
    app.toastText.clear();
    app.toastTimer = 0;
    gProject.events.clear();
}

}  // namespace

TEST(LauncherCaches, DatesReadInLocalTimeAndKeptAsFirstRead) {
    FixedZone utc("UTC");
    EXPECT_EQ(FormatProjectDate(kMarch5), "Mar 05, 2026  14:07");
    {
        FixedZone east("EST5");
        EXPECT_EQ(FormatProjectDate(kMarch5), "Mar 05, 2026  09:07");
    }

    TempDir dir;
    const std::string path = dir.File("a.tlproj");
    WriteWholeFile(path, "{}");
    SetFileTime(path, kMarch5);
    PathTextCache cache;
    EXPECT_EQ(ProjectFileDateText(cache, path), "Mar 05, 2026  14:07");
    // Touched while the card is open: the first date stays.
    SetFileTime(path, kMarch5 + 86400 * 40);
    EXPECT_EQ(ProjectFileDateText(cache, path), "Mar 05, 2026  14:07");
    PathTextCache fresh;
    EXPECT_EQ(ProjectFileDateText(fresh, path), "Apr 14, 2026  14:07");

    const std::string missing = dir.File("gone.tlproj");
    EXPECT_EQ(ProjectFileDateText(cache, missing), "");
    WriteWholeFile(missing, "{}");
    EXPECT_EQ(ProjectFileDateText(cache, missing), "") << "an empty entry lives for the process too";
    EXPECT_EQ(cache.Size(), 2u);
}

TEST(LauncherCaches, DescriptionsComeFromTheFileAndArriveFromTheWorker) {
    TempDir dir;
    const std::string described = WriteDescribed(dir, "Chase", "Reel 3 \xE2\x80\x94 the chase");
    const std::string plain = WriteDescribed(dir, "Plain", "");
    EXPECT_EQ(ReadProjectDescriptionFile(described), "Reel 3 \xE2\x80\x94 the chase");
    EXPECT_EQ(ReadProjectDescriptionFile(plain), "") << "no description gives an empty line";
    WriteWholeFile(dir.File("number.tlproj"), "{\"projectDescription\": 5}");
    WriteWholeFile(dir.File("array.tlproj"), "[{\"projectDescription\": \"x\"}]");
    EXPECT_EQ(ReadProjectDescriptionFile(dir.File("number.tlproj")), "");
    EXPECT_EQ(ReadProjectDescriptionFile(dir.File("array.tlproj")), "");
    EXPECT_EQ(ReadProjectDescriptionFile(dir.File("missing.tlproj")), "");

    ProjectDescriptionCache cache;
    bool pending = false;
    EXPECT_EQ(cache.Get(described, &pending), "");
    EXPECT_TRUE(pending);
    EXPECT_EQ(cache.Get(plain, &pending), "");
    cache.WaitIdle();
    EXPECT_FALSE(cache.Busy());
    EXPECT_EQ(cache.Get(described, &pending), "Reel 3 \xE2\x80\x94 the chase");
    EXPECT_FALSE(pending);
    EXPECT_EQ(cache.Get(plain, &pending), "");
    EXPECT_FALSE(pending);

    // Edited while the program runs: the first text stays until a restart.
    ASSERT_TRUE(WriteProject(described, "changed"));
    EXPECT_EQ(cache.Get(described), "Reel 3 \xE2\x80\x94 the chase");
}

// ---------------------------------------------------------------------------
// The program's actions: its document, state and preferences file
// ---------------------------------------------------------------------------

class LauncherActionsOnTheProgram : public testing::Test {
protected:
    void SetUp() override {
        env.UnsetUserFolderVariables();
        env.Set("APPDATA", dir.File("appdata"));
        ResetLauncherState();
    }
    void TearDown() override { ResetLauncherState(); }
    std::string Preferences() {
        std::string text;
        ReadFileText(PreferencesFilePath(), 1 << 20, text);
        return text;
    }

    ScopedEnvironment env;
    TempDir dir;
};

TEST_F(LauncherActionsOnTheProgram, ADeletedProjectLeavesTheListAndTheSavedPreferencesOnTheFirstClick) {
    AppState& app = gAppState;
    const std::string kept = WriteDescribed(dir, "Kept", "");
    const std::string deleted = WriteDescribed(dir, "Deleted", "");
    app.recentProjects = {deleted, kept};
    app.showLauncher = true;
    fs::remove(deleted);

    LauncherClickRow(app, ProgramLauncherActions(), deleted);
    EXPECT_EQ(app.recentProjects, std::vector<std::string>{kept});
    EXPECT_EQ(app.toastText, "\xE2\x80\x9C" + fs::path(deleted).filename().string() +
                                 "\xE2\x80\x9D was not found \xE2\x80\x94 removed from recent");
    EXPECT_FLOAT_EQ(app.toastTimer, 3.0f);
    EXPECT_TRUE(app.showLauncher) << "the card stays open";
    const std::string prefs = Preferences();
    EXPECT_NE(prefs.find("recentProject=" + kept), std::string::npos) << prefs;
    EXPECT_EQ(prefs.find(deleted), std::string::npos) << "saved at once, without the deleted project";
}

TEST_F(LauncherActionsOnTheProgram, WithUnsavedEventsEveryDocumentReplacingButtonRaisesThePrompt) {
    AppState& app = gAppState;
    const std::string other = WriteDescribed(dir, "Other", "");
    app.recentProjects = {other};
    AddEvent(gProject, 1.0f, kShapeSpot, 0.5f);
    app.modified = true;

    app.showLauncher = true;
    LauncherClickRow(app, ProgramLauncherActions(), other);
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_EQ(app.confirmOpenPath, other);
    EXPECT_EQ(gProject.events.size(), 1u) << "the document waits behind the prompt";
    EXPECT_FALSE(app.showLauncher) << "the prompt in the title bar takes over";
    EXPECT_TRUE(app.launcherDismissed);

    app.confirmAction = 0;
    app.showLauncher = true;
    LauncherNewProject(app, ProgramLauncherActions());
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_EQ(gProject.events.size(), 1u);
    EXPECT_FALSE(app.showLauncher);
}

TEST_F(LauncherActionsOnTheProgram, DontShowOnStartupIsSavedAtOnce) {
    AppState& app = gAppState;
    SetShowOnStartup(app, ProgramLauncherActions(), false);
    EXPECT_FALSE(app.showLauncherOnStartup);
    EXPECT_NE(Preferences().find("showLauncherOnStartup=0"), std::string::npos);
    SetShowOnStartup(app, ProgramLauncherActions(), true);
    EXPECT_NE(Preferences().find("showLauncherOnStartup=1"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The card with a scripted mouse
// ---------------------------------------------------------------------------

class LauncherCard : public testing::Test {
protected:
    void SetUp() override {
        ResetLauncherState();
        layout.displayWidth = gui.width;
        layout.displayHeight = gui.height;
        actions.openRecent = [this](const std::string& path) {
            opened = path;
            return LauncherOutcome::Close;
        };
        actions.newProject = [this] {
            ++news;
            return LauncherOutcome::Close;
        };
        actions.openFile = [] { return LauncherOutcome::StayOpen; };  // the dialog was cancelled
        actions.savePreferences = [this] { ++saves; };
    }
    void TearDown() override { ResetLauncherState(); }

    void Step(float x, float y, bool down) {
        gui.MoveMouse(x, y);
        gui.SetButton(0, down);
        gui.Frame();
        DrawLauncher(gAppState, layout, actions);
        gui.EndFrame();
    }
    void Click(float x, float y) {
        Step(x, y, false);
        Step(x, y, true);
        Step(x, y, false);
    }
    static float CX(const LauncherRect& r) { return r.x + r.width / 2; }
    static float CY(const LauncherRect& r) { return r.y + r.height / 2; }

    HeadlessGui gui;
    UILayout layout;
    LauncherActions actions;
    std::string opened;
    int news = 0;
    int saves = 0;
};

TEST_F(LauncherCard, RowsButtonsTheStartupSwitchAndAClickOutside) {
    AppState& app = gAppState;
    TempDir dir;
    const std::string a = WriteDescribed(dir, "Alpha", "first");
    const std::string b = WriteDescribed(dir, "Beta", "");
    app.recentProjects = {a, b};
    app.showLauncher = true;
    Step(0, 0, false);
    Step(0, 0, false);  // the card sizes itself to its rows on the first frame
    ASSERT_TRUE(gLauncherFrame.drawn);
    ASSERT_EQ(gLauncherFrame.rows.size(), 2u);
    const LauncherRect card = gLauncherFrame.card;
    EXPECT_GE(card.width, 200.0f);
    EXPECT_NEAR(card.x + card.width / 2, gui.width / 2, 1.0f) << "centred";

    // The row's project, then the card closes.
    Click(CX(gLauncherFrame.rows[1]), CY(gLauncherFrame.rows[1]));
    EXPECT_EQ(opened, b);
    EXPECT_FALSE(app.showLauncher);
    EXPECT_TRUE(app.launcherDismissed);

    // A cancelled open dialog leaves the card up; the start-up switch is
    // saved at once.
    app.showLauncher = true;
    Step(0, 0, false);
    Step(0, 0, false);
    Click(CX(gLauncherFrame.buttons["open"]), CY(gLauncherFrame.buttons["open"]));
    EXPECT_TRUE(app.showLauncher);
    const LauncherRect box = gLauncherFrame.buttons["startup"];
    Click(box.x + 6, CY(box));
    EXPECT_FALSE(app.showLauncherOnStartup);
    EXPECT_EQ(saves, 1);
    EXPECT_TRUE(app.showLauncher);

    // A click outside the card closes it; the click does not reach beneath.
    app.launcherDismissed = false;
    Click(card.x / 2, card.y / 2);
    EXPECT_FALSE(app.showLauncher);
    EXPECT_TRUE(app.launcherDismissed);
    Step(0, 0, false);
    EXPECT_FALSE(gLauncherFrame.drawn);

    // Without recent projects the list says so, and New Project closes.
    app.recentProjects.clear();
    app.showLauncher = true;
    Step(0, 0, false);
    Step(0, 0, false);
    EXPECT_TRUE(gLauncherFrame.rows.empty());
    Click(CX(gLauncherFrame.buttons["new"]), CY(gLauncherFrame.buttons["new"]));
    EXPECT_EQ(news, 1);
    EXPECT_FALSE(app.showLauncher);
}

TEST_F(LauncherCard, ANameWiderThanTheWindowEndsInAnEllipsisInsideItsRow) {
    AppState& app = gAppState;
    TempDir dir;
    // Wider than the whole window, still a name the file system takes.
    const std::string name = "Rooftop chase reel three temp sound with the director's notes of Tuesday, Wednesday "
                             "and Thursday, once more from the top, with the rain louder and the glass later, as "
                             "asked on Friday after the screening with everyone";
    const std::string path = WriteDescribed(dir, name, "");
    app.recentProjects = {path};
    app.showLauncher = true;
    DrawnTextRecording recording;
    Step(0, 0, false);
    Step(0, 0, false);
    ASSERT_EQ(gLauncherFrame.rows.size(), 1u);
    const LauncherRect row = gLauncherFrame.rows[0];
    // The name is cut at a character and "…" follows it in the same text,
    // flush with it, all of it inside the row.
    const std::vector<DrawnText>& texts = recording.record.texts;
    int cut = 0;
    for (const DrawnText& t : texts) {
        if (t.text.rfind("Rooftop", 0) != 0) continue;
        ++cut;
        ASSERT_GT(t.text.size(), 3u);
        EXPECT_LT(t.text.size(), name.size());
        const std::string kept = t.text.substr(0, t.text.size() - 3);
        EXPECT_EQ(t.text.substr(kept.size()), "\xE2\x80\xA6") << t.text;
        EXPECT_EQ(name.rfind(kept, 0), 0u) << t.text;
        EXPECT_NE(kept.back(), ' ') << "no blank before the ellipsis";
        EXPECT_GE(t.y, row.y);
        EXPECT_LE(t.x + t.width, row.x + row.width + 0.5f);
    }
    EXPECT_EQ(cut, 1);
}
