// The Library tab drawn in a windowless GUI on the program's own globals:
// what it shows, the clicks on its rows, its menu's two-step removal and the
// rename through the menu, the missing-file rows it draws, and the SAVE
// PALETTE view.
#include <SDL_scancode.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <filesystem>
#include <functional>

#include "app/drawn_text.h"
#include "app/shell_services.h"
#include "document/event.h"
#include "document/project.h"
#include "library/library_index_file.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"
#include "support/temp_dir.h"
#include "ui/library_panel.h"
#include "ui/ui_layout.h"

namespace fs = std::filesystem;

namespace {

class LibraryPanelRig : public testing::Test {
protected:
    void SetUp() override {
        gui.MapKeysAsSdl();
        Reset();
        savedServices = gShellServices.savePreferences;
        gShellServices.savePreferences = [this] { ++preferencesSaved; };
        gSoundLibrary.indexFolder = dir.File("index");
        fs::create_directories(gSoundLibrary.indexFolder);
    }
    void TearDown() override {
        Reset();
        gShellServices.savePreferences = savedServices;
    }
    static void Reset() {
        SoundLibrary& l = gSoundLibrary;
        l.libraries.clear();
        l.pendingFolders.clear();
        l.pendingFolderNames.clear();
        l.indexFolder.clear();
        l.scanRunning.store(0);
        MarkLibrariesChanged(l);
        gMissingFiles.files.clear();
        gProject = Project{};
        AppState& app = gAppState;
        app.activeTab = 2;
        app.savePaletteOpen = false;
        app.renamingLibrary = -1;
        app.libraryRenameBuffer[0] = '\0';
        app.libraryRenameFocus = false;
        app.librarySelection.clear();
        app.librarySelectionAnchor = -1;
        app.libraryIndex = -1;
        app.projectPath.clear();
        app.toastText.clear();
        LibraryPanelState& p = gLibraryPanel;
        p.addFolderRequest = p.savePaletteRequest = false;
        p.pendingRemove = -1;
        p.message = PanelMessage{};
        p.coverage = CoverageCache{};
        p.forcedRelink.Clear();
        p.groups.Clear();
    }

    // A library with `files` entries; its index file is written.
    int AddLibrary(const std::string& name, int files, bool palette = false) {
        LibraryIndex l;
        l.name = name;
        l.path = palette ? "" : "/sfx/" + name;
        l.savedPalette = palette ? 1 : 0;
        for (int i = 0; i < files; ++i) {
            LibraryEntry e;
            e.path = l.path + "/" + std::to_string(i) + ".wav";
            e.bandEnergy[1] = 1;
            l.entries.push_back(e);
        }
        EXPECT_TRUE(WriteLibraryIndexFile(l, LibraryIndexFilePath(gSoundLibrary.indexFolder, name)));
        gSoundLibrary.libraries.push_back(l);
        MarkLibrariesChanged(gSoundLibrary);
        return static_cast<int>(gSoundLibrary.libraries.size()) - 1;
    }
    bool IndexFileExists(const std::string& name) const {
        return fs::exists(LibraryIndexFilePath(gSoundLibrary.indexFolder, name));
    }

    void Frame() {
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
        ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoBringToFrontOnFocus);
        ImGui::PopStyleVar();
        const UILayout layout = ComputeUILayout(gui.width, gui.height, ImGui::GetFontSize(), false, LayoutVideo{});
        DrawLibraryPanel(ImGui::GetWindowDrawList(), layout);
        ImGui::End();
        gui.EndFrame();
    }
    void Frames(int n) {
        for (int i = 0; i < n; ++i) Frame();
    }
    void Click(float x, float y) { gui.Click(x, y, [this] { Frame(); }); }
    static void ClickCentre(LibraryPanelRig& rig, const ReportRect& r) { rig.Click(r.x + r.w / 2, r.y + r.h / 2); }
    const ReportRect* MenuItem(const std::string& name) const {
        for (const auto& [item, rect] : gLibraryPanel.report.menuItems)
            if (item == name) return &rect;
        return nullptr;
    }
    // Opens row k's menu (in display order) and waits for it to be drawn.
    void OpenMenu(int k) {
        const ReportRect row = gLibraryPanel.report.rowRects.at(size_t(k));
        gui.MoveMouse(row.x + 30, row.y + row.h / 2);
        Frames(2);
        ClickCentre(*this, gLibraryPanel.report.menuRects.at(size_t(k)));
        Frames(2);
    }

    TempDir dir;
    HeadlessGui gui;
    int preferencesSaved = 0;
    std::function<void()> savedServices;
};

}  // namespace

TEST_F(LibraryPanelRig, WithNothingAtAllTheEmptyStateAndFlatBarsShow) {
    Frame();
    const LibraryPanelFrameReport& r = gLibraryPanel.report;
    EXPECT_TRUE(r.drawn);
    EXPECT_TRUE(r.emptyState);
    EXPECT_EQ(r.coverageAlpha, 40);
    EXPECT_FALSE(r.coverageCountLine);
    EXPECT_TRUE(r.rows.empty());

    gMissingFiles.files.push_back(MissingFile{"00000000000000aa", "/gone/a.wav", "a.wav", 1, 0});
    Frame();
    EXPECT_FALSE(gLibraryPanel.report.emptyState) << "a missing file is something to show";
    EXPECT_EQ(gLibraryPanel.report.missingRowsDrawn, 1);
}

TEST_F(LibraryPanelRig, RowsAreShownByNameWithTheirCountsAndTheCoverageCountsTheEnabled) {
    AddLibrary("wind", 3);
    AddLibrary("Ambience", 1234);
    const int off = AddLibrary("Doors", 2);
    gSoundLibrary.libraries[size_t(off)].enabled = 0;
    AddLibrary("Rain Palette", 1, true);
    Frame();
    const LibraryPanelFrameReport& r = gLibraryPanel.report;
    EXPECT_FALSE(r.emptyState);
    EXPECT_EQ(r.rows, (std::vector<std::string>{"Ambience|1,234 files", "Doors|2 files", "Rain Palette|1 files",
                                                "wind|3 files"}));
    EXPECT_EQ(r.coverageAlpha, 200);
    EXPECT_EQ(r.coverageCountText, "1238 files \xC2\xB7 3 palettes");
}

TEST_F(LibraryPanelRig, ClicksOnRowsSelectByPlainCtrlAndShift) {
    for (const char* name : {"A", "B", "C", "D"}) AddLibrary(name, 1);
    Frame();
    auto centre = [](const ReportRect& r) { return ImVec2(r.x + r.w * 0.6f, r.y + r.h / 2); };
    const std::vector<ReportRect> rows = gLibraryPanel.report.rowRects;
    ImVec2 p = centre(rows[1]);
    Click(p.x, p.y);
    EXPECT_EQ(gAppState.librarySelection, std::set<int>{1});
    ImGui::GetIO().KeyShift = true;
    p = centre(rows[3]);
    Click(p.x, p.y);
    ImGui::GetIO().KeyShift = false;
    EXPECT_EQ(gAppState.librarySelection, (std::set<int>{1, 2, 3}));
    ImGui::GetIO().KeyCtrl = true;
    p = centre(rows[2]);
    Click(p.x, p.y);
    ImGui::GetIO().KeyCtrl = false;
    EXPECT_EQ(gAppState.librarySelection, (std::set<int>{1, 3}));
    EXPECT_EQ(gAppState.librarySelectionAnchor, 2);
}

TEST_F(LibraryPanelRig, RemovalAsksTwiceAndFixesTheIndicesAfterwards) {
    for (const char* name : {"A", "B", "C"}) AddLibrary(name, 1);
    gAppState.librarySelection = {0, 2};
    gAppState.librarySelectionAnchor = 2;
    Frame();
    OpenMenu(1);
    const ReportRect* remove = MenuItem("remove");
    ASSERT_NE(remove, nullptr);
    ClickCentre(*this, *remove);
    EXPECT_EQ(gSoundLibrary.libraries.size(), 3u) << "the first click only asks";
    EXPECT_EQ(gLibraryPanel.pendingRemove, 1);
    Frame();
    const ReportRect* confirm = MenuItem("confirm");
    ASSERT_NE(confirm, nullptr) << "the menu stayed open with the question";
    ClickCentre(*this, *confirm);
    ASSERT_EQ(gSoundLibrary.libraries.size(), 2u);
    EXPECT_EQ(gSoundLibrary.libraries[1].name, "C");
    EXPECT_FALSE(IndexFileExists("B"));
    EXPECT_EQ(gAppState.librarySelection, (std::set<int>{0, 1}));
    EXPECT_EQ(gAppState.librarySelectionAnchor, 1);
    EXPECT_EQ(preferencesSaved, 1);
    EXPECT_EQ(gLibraryPanel.pendingRemove, -1);
}

TEST_F(LibraryPanelRig, ARenameThroughTheMenuAndEnterMovesTheIndexFile) {
    AddLibrary("Rain", 2);
    gProject.events.resize(1);
    std::snprintf(gProject.events[0].libFilter, sizeof gProject.events[0].libFilter, "Rain");
    Frame();
    OpenMenu(0);
    const ReportRect* rename = MenuItem("rename");
    ASSERT_NE(rename, nullptr);
    ClickCentre(*this, *rename);
    Frames(2);
    EXPECT_EQ(gAppState.renamingLibrary, 0);
    EXPECT_TRUE(gLibraryPanel.report.renameFieldShown);
    EXPECT_FALSE(gAppState.libraryRenameFocus) << "the field has taken the focus";
    gui.TypeText("Storm");  // the whole name was selected: typing replaces it
    Frame();
    gui.SetKey(SDL_SCANCODE_RETURN, true);
    Frame();
    gui.SetKey(SDL_SCANCODE_RETURN, false);
    Frame();
    EXPECT_EQ(gAppState.renamingLibrary, -1);
    EXPECT_EQ(gSoundLibrary.libraries[0].name, "Storm");
    EXPECT_TRUE(IndexFileExists("Storm"));
    EXPECT_FALSE(IndexFileExists("Rain"));
    EXPECT_STREQ(gProject.events[0].libFilter, "Storm");
    EXPECT_EQ(gLibraryPanel.report.rows, std::vector<std::string>{"Storm|2 files"});
}

TEST_F(LibraryPanelRig, ThousandsOfMissingFilesDrawOnlyTheRowsInView) {
    for (int i = 0; i < 5000; ++i) {
        char id[17];
        std::snprintf(id, sizeof id, "%016x", i + 1);
        gMissingFiles.files.push_back(MissingFile{id, "/gone/" + std::to_string(i) + ".wav", std::to_string(i) + ".wav", 1, 0});
    }
    Frame();
    EXPECT_GT(gLibraryPanel.report.missingRowsDrawn, 0);
    EXPECT_LT(gLibraryPanel.report.missingRowsDrawn, 20);
}

TEST_F(LibraryPanelRig, SavingThePaletteOfTheProjectsSoundsNamesItAndAsksForANewName) {
    AddLibrary("Known", 0);
    for (const char* name : {"rain.wav", "wind.wav"}) {
        const std::string path = dir.File(name);
        WriteWholeFile(path, "RIFF");
        LibraryEntry e;
        e.path = path;
        gSoundLibrary.libraries[0].entries.push_back(e);
    }
    gProject.events.resize(2);
    std::snprintf(gProject.events[0].presetName, sizeof gProject.events[0].presetName, "Rain");
    std::snprintf(gProject.events[1].presetName, sizeof gProject.events[1].presetName, "Wind");
    gProject.results.resize(2);
    gProject.results[0].filepath = dir.File("rain.wav");
    gProject.results[1].filepath = dir.File("wind.wav");
    gProject.results[1].eventIdx = 1;

    gLibraryPanel.savePaletteRequest = true;
    Frame();
    EXPECT_TRUE(gAppState.savePaletteOpen);
    Frame();
    EXPECT_TRUE(gLibraryPanel.report.savePaletteView);
    EXPECT_FALSE(gLibraryPanel.report.drawn && gLibraryPanel.report.libraryRowsDrawn > 0) << "the view replaces the list";

    // "Save 2 files" is the right half of the row under the title.
    const LayoutRect panel = TabPanelRect(ComputeUILayout(gui.width, gui.height, ImGui::GetFontSize(), false, {}));
    const float contentWidth = panel.width - 32;
    Click(panel.x + 16 + contentWidth * 0.75f, panel.y + 30 + 5);
    EXPECT_FALSE(gAppState.savePaletteOpen);
    ASSERT_EQ(gSoundLibrary.libraries.size(), 2u);
    EXPECT_EQ(gSoundLibrary.libraries[1].name, "Rain + Wind");
    EXPECT_EQ(gSoundLibrary.libraries[1].entries.size(), 2u);
    EXPECT_TRUE(IndexFileExists("Rain + Wind"));
    EXPECT_EQ(gAppState.renamingLibrary, 1) << "the new palette asks for its name";
    EXPECT_STREQ(gAppState.libraryRenameBuffer, "Rain + Wind");
    EXPECT_EQ(std::string(gLibraryPanel.message.text), "Rain + Wind: 2 files");
}

TEST_F(LibraryPanelRig, ScanNotesStartAtTheMarginAndWrapRatherThanLoseTheirEnd) {
    AddLibrary("wind", 3);
    ScanNote gone;
    gone.folder = "/sfx/Vanish";
    gone.name = "Vanish";
    gone.incomplete = true;
    gone.error = "Folder became inaccessible during the scan \xE2\x80\x94 3 of 5 files indexed; rescan when it is back";
    AddScanNote(gSoundLibrary, gone);
    ScanNote steps;
    steps.folder = "/sfx/Steps";
    steps.name = "Steps";
    steps.skipped = 1;
    AddScanNote(gSoundLibrary, steps);
    DrawnTextRecording recording;
    Frames(2);
    const DrawnText* first = nullptr;
    const DrawnText* second = nullptr;
    for (const DrawnText& t : recording.record.texts) {
        if (t.text.rfind("Vanish: ", 0) == 0) first = &t;
        if (t.text.rfind("Steps: ", 0) == 0) second = &t;
    }
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->text, "Vanish: " + gone.error) << "the whole note, its end included";
    EXPECT_GT(first->height, 1.5f * first->fontSize) << "wrapped onto a second line";
    EXPECT_TRUE(first->Whole());
    EXPECT_TRUE(second->Whole());
    EXPECT_FLOAT_EQ(second->x, first->x) << "the second note at the first's margin";
    EXPECT_GT(second->y, first->y + first->height - 0.5f);
    while (!GetScanNotes(gSoundLibrary).empty()) DismissScanNote(gSoundLibrary, 0);
}
