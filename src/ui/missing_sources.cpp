// missing_sources.cpp — the MISSING SOURCES block.
//
// Index
//   ProgramRelinkTargets
//   Rows          name, users, last-known path, the locate buttons, the
//                 "different content" question
//   DrawMissingSources
//   TakeFinishedFolderSearch
#include "ui/missing_sources.h"

#include <imgui.h>

#include <cstdio>
#include <string>

#include "app/theme.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/voice_sync.h"
#include "ui/library_panel.h"
#include "ui/widgets.h"

RelinkTargets ProgramRelinkTargets(AppState& app) {
    RelinkTargets t;
    t.project = &gProject;
    t.library = &gSoundLibrary;
    t.registry = &FileRegistry::Instance();
    t.missing = &gMissingFiles;
    t.app = &app;
    t.now = ClockSeconds(app.clock);
    // Rebuilding every voice decodes every sound: the busy task does it, not the frame.
    t.rebuildVoices = [] { return RebuildCacheAsync("Updating audio...", true, SoundLook::First); };
    return t;
}

namespace {

// ---------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------

struct RowMetrics {
    float line = 0;    // one text line with its spacing
    float height = 0;  // a row without the question
    float extra = 0;   // the question's two lines
};

RowMetrics MeasureRows() {
    RowMetrics m;
    m.line = ImGui::GetTextLineHeightWithSpacing();
    m.height = 4 * m.line + 4 + ImGui::GetStyle().ItemSpacing.y;
    m.extra = 2 * m.line;
    return m;
}

// True when the row finished a relink: the list was rebuilt under the loop.
bool DrawMissingRow(LibraryPanelState& panel, AppState& app, const MissingFile& file, float width,
                    const RowMetrics& m) {
    ImGui::PushID(file.id.c_str());
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 p = ImGui::GetCursorScreenPos();
    const float right = p.x + width;
    DrawTextClipped(draw, nullptr, 0, p, right, gTheme.text, file.name.c_str());
    const std::string users = UsedByText(file);
    DrawTextClipped(draw, nullptr, 0, ImVec2(p.x, p.y + m.line), right, gTheme.textDim, users.c_str());
    const ImVec2 pathMin(p.x, p.y + 2 * m.line);
    DrawTextClipped(draw, nullptr, 0, pathMin, right, gTheme.textDim, file.path.c_str());
    const float pathWidth = std::min(width, ImGui::CalcTextSize(file.path.c_str()).x);
    if (ImGui::IsWindowHovered() &&
        ImGui::IsMouseHoveringRect(pathMin, ImVec2(pathMin.x + pathWidth, pathMin.y + ImGui::GetTextLineHeight())))
        ShowStyledTooltip("Last-known location");

    // The row's file and path are copied: a relink rebuilds the list they live in.
    const FileId id = file.id;
    const std::string lastPath = file.path;
    bool finished = false;
    ImGui::SetCursorScreenPos(ImVec2(p.x, p.y + 3 * m.line));
    const bool locate = ImGui::SmallButton("Locate...##msFile");
    ImGui::SameLine();
    const bool locateFolder = ImGui::SmallButton("Locate folder...##msFolder");
    if (locate && PanelMayChangeDocument(app) && app.openFileDialog) {
        const std::string chosen = app.openFileDialog("Locate Missing File", LocateFilterExtension(lastPath).c_str());
        if (!chosen.empty() && !RefuseNonSoundFile(app, chosen)) {
            const RelinkTargets t = ProgramRelinkTargets(app);
            const RelinkResult result = RelinkFileStrict(*t.registry, id, chosen);
            finished = TakeLocateResult(t, result, id, chosen, panel.forcedRelink) == LocateStep::Relinked;
        }
    }
    if (!finished && locateFolder && PanelMayChangeDocument(app) && app.pickFolderDialog) {
        const std::string folder = app.pickFolderDialog();
        if (!folder.empty() && !RefuseRelinkFolder(app, folder))
            StartFolderSearch(panel.folderSearch, app.busyTask, FileRegistry::Instance(), folder);
    }
    if (!finished && panel.forcedRelink.PendingFor(id)) {
        draw->AddText(ImVec2(p.x, p.y + 4 * m.line), gTheme.missingFile, "Selected file has different content.");
        ImGui::SetCursorScreenPos(ImVec2(p.x, p.y + 5 * m.line));
        const bool force = ImGui::SmallButton("Use anyway##msForce");
        ImGui::SameLine();
        const bool cancel = ImGui::SmallButton("Cancel##msForceCancel");
        if (force && PanelMayChangeDocument(app)) finished = UseForcedRelink(ProgramRelinkTargets(app), panel.forcedRelink);
        else if (cancel) panel.forcedRelink.Clear();
    }
    ImGui::PopID();
    ++panel.report.missingRowsDrawn;
    return finished;
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawMissingSources
// ---------------------------------------------------------------------------

void DrawMissingSources(LibraryPanelState& panel, AppState& app, float width) {
    ImGui::Dummy(ImVec2(1, 2));
    char header[64];
    std::snprintf(header, sizeof header, "\uF127  MISSING SOURCES (%d)", static_cast<int>(gMissingFiles.files.size()));
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.missingFile), "%s", header);
    ImGui::SameLine();
    if (ImGui::SmallButton("Relink all##msRelinkAll") && PanelMayChangeDocument(app)) RelinkAll(ProgramRelinkTargets(app));

    const std::vector<MissingFile>& files = gMissingFiles.files;
    const RowMetrics m = MeasureRows();
    int tallRow = -1;
    for (size_t i = 0; panel.forcedRelink.Pending() && i < files.size(); ++i)
        if (panel.forcedRelink.PendingFor(files[i].id)) tallRow = static_cast<int>(i);
    const float top = ImGui::GetCursorPosY();
    const float scroll = ImGui::GetScrollY();
    const RowRange range = VisibleRowRange(static_cast<int>(files.size()), top, m.height, tallRow, m.extra, scroll,
                                           scroll + ImGui::GetWindowHeight());
    for (int i = range.first; i <= range.last && i < static_cast<int>(files.size()); ++i) {
        ImGui::SetCursorPosY(RowTop(i, top, m.height, tallRow, m.extra));
        if (DrawMissingRow(panel, app, files[size_t(i)], width, m)) break;
    }
    ImGui::SetCursorPosY(RowTop(static_cast<int>(files.size()), top, m.height, tallRow, m.extra));
    ImGui::Dummy(ImVec2(1, 4));
}

// ---------------------------------------------------------------------------
// TakeFinishedFolderSearch
// ---------------------------------------------------------------------------

void TakeFinishedFolderSearch(LibraryPanelState& panel, AppState& app) {
    if (!DocumentMayChange(app)) return;
    int count = 0;
    if (TakeFolderSearchResult(panel.folderSearch, app.busyTask, count)) FinishRelink(ProgramRelinkTargets(app), count);
}
