// library_panel.cpp — the Library tab, drawn every frame while it is active.
//
// Index
//   Helpers              colours, fonts, the panel's geometry
//   Header               title, dropped folders, add-folder request, message lines
//   Coverage             the spectral coverage of the enabled libraries
//   Empty state / scan   the three empty-state lines, the scan card, the queue cards
//   Library rows         card, checkbox, mini spectrum, count, name or rename field,
//                        menu button, selection clicks; the "##libctx" menu
//   Removal              at the end of the frame, with the index fix-ups
//   Footer               Add Folder and Save Palette, or the SAVE PALETTE count
//   DrawLibraryPanel     the frame order
//   DumpLibraryPanel
#include "ui/library_panel.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/shell_services.h"
#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/named_message.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/library_folders.h"
#include "library/library_scan.h"
#include "library/library_summary.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/library_edits.h"
#include "operations/recipe_lists.h"
#include "platform/path_refusal.h"
#include "ui/draw_ui.h"
#include "ui/drop_handover.h"
#include "ui/missing_sources.h"
#include "ui/palette_saving.h"
#include "ui/ui_colors.h"
#include "ui/ui_layout.h"
#include "ui/widgets.h"

LibraryPanelState gLibraryPanel;

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

// The one card colour that does not follow the theme: a dark amber that
// marks a library whose folder is gone in every theme.
constexpr uint32_t kMissingFolderCardBg = 0xFF161E28;
constexpr const char* kCancelGlyph = "\uF00D";
constexpr const char* kMenuGlyph = "\uF141";

ImVec4 Col(uint32_t c) { return ImGui::ColorConvertU32ToFloat4(c); }

ImFont* SmallFont() { return gAppState.fontSmall ? gAppState.fontSmall : ImGui::GetFont(); }
float SmallFontSize() {
    const ImFont* f = SmallFont();
    return f == ImGui::GetFont() ? ImGui::GetFontSize() : f->FontSize * f->Scale;
}

ImVec2 Add(const ImVec2& a, float x, float y) { return ImVec2(a.x + x, a.y + y); }

ReportRect ToReport(const ImVec2& min, const ImVec2& max) { return {min.x, min.y, max.x - min.x, max.y - min.y}; }

struct PanelGeometry {
    ImVec2 origin;      // the panel child's top-left, screen
    ImVec2 size;
    float font = 18;    // F
    float contentWidth = 0;
    float footerTop = 0;  // local y
    double now = 0;
};

// A small icon button in the look of the library's dim icons.
bool DimIconButton(const char* label) {
    DimIconButtonScope look;
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    const bool clicked = ImGui::SmallButton(label);
    ImGui::PopStyleColor();
    return clicked;
}

float SmallButtonWidth(const char* text) { return ImGui::CalcTextSize(text).x + 2 * ImGui::GetStyle().FramePadding.x; }

// ---------------------------------------------------------------------------
// Header
// ---------------------------------------------------------------------------

void ServeAddFolderRequest(LibraryPanelState& panel, AppState& app, SoundLibrary& library) {
    if (!panel.addFolderRequest) return;
    panel.addFolderRequest = false;
    if (!app.pickFolderDialog) return;
    const std::string folder = app.pickFolderDialog();
    if (folder.empty()) return;
    const std::string refusal = FolderRefusal(folder);
    if (!refusal.empty()) {
        ShowToast(app, refusal, kRefusalToastSeconds);
        std::printf("[Library] folder not added: %s (%s)\n", refusal.c_str(), folder.c_str());
        return;
    }
    // As a dropped folder: scanned now, or queued behind a running scan; a
    // folder that is a library already is not scanned again from here.
    AddDroppedLibraryFolders(library, {folder});
}

bool FitsWidth(const std::string& text, float room) { return ImGui::CalcTextSize(text.c_str()).x <= room; }

// A library row: a two-line card and the gap after it.
float LibraryRowHeight(float font) { return 2.6f * font + ImGui::GetStyle().ItemSpacing.y; }

// The list below the notes keeps a row and most of the next in view.
constexpr float kListLeastRows = 1.6f;

void MessageLine(const PanelGeometry& g, const char* text, uint32_t color) {
    // A name in the message gives up its letters before the rest does.
    const std::string shown =
        ShortenedMessage(text, [&](const std::string& t) { return FitsWidth(t, g.contentWidth); });
    ImGui::GetWindowDrawList()->AddText(ImGui::GetCursorScreenPos(), color, shown.c_str());
    ImGui::Dummy(ImVec2(g.contentWidth, ImGui::GetTextLineHeight()));
}

// One line of a finished scan's note as drawn: on one line with the
// folder's name shortened while the rest fits beside it; wrapped at its
// words otherwise, so that what the scan says is never cut.
struct NoteLine {
    std::string text;   // the whole line
    std::string shown;
    bool wraps = false;
    float height = 0;
};

NoteLine LayOutNoteLine(const ScanNote& note, const std::string& text, float width) {
    NoteLine line;
    line.text = text;
    // Every line is led by the folder's name.
    const bool named = text.compare(0, note.name.size(), note.name) == 0;
    const std::string name = named ? note.name : std::string();
    const std::string rest = text.substr(name.size());
    line.shown = ShortenedMessage("", name, rest, [&](const std::string& t) { return FitsWidth(t, width); });
    line.wraps = !EndsWith(line.shown, rest);
    if (line.wraps) line.shown = IsolatedText(name) + rest;
    line.height = line.wraps ? ImGui::CalcTextSize(line.shown.c_str(), nullptr, false, width).y
                             : ImGui::GetTextLineHeight();
    return line;
}

// The finished scans' notes stay, through later scans of other folders,
// until the user dismisses them with their cross: a queued scan starting
// must not take away what the one before it had to say. They take at most
// the room the list leaves (ScanNotesHeight) and scroll beyond it.
void DrawMessageLines(LibraryPanelState& panel, SoundLibrary& library, const PanelGeometry& g) {
    if (PanelMessageShown(panel.message, g.now)) {
        MessageLine(g, panel.message.text, gTheme.accent);
        panel.report.message = panel.message.text;
    }
    const std::vector<ScanNote> notes = GetScanNotes(library);
    if (notes.empty()) return;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float cross = SmallButtonWidth("\xC3\x97");
    const float spacing = style.ItemSpacing.y;
    // Laid out first: the region's height follows from it, and with the
    // region too short for them the scrollbar takes its share of the width.
    std::vector<std::vector<NoteLine>> laid;
    float needed = 0;
    const auto layOut = [&](float width) {
        laid.assign(notes.size(), {});
        needed = 0;
        for (size_t i = 0; i < notes.size(); ++i)
            for (const std::string& text : ScanNoteLines(notes[i])) {
                laid[i].push_back(LayOutNoteLine(notes[i], text, width));
                needed += laid[i].back().height + spacing;
            }
    };
    const float room = g.footerTop - 0.3f * g.font - ImGui::GetCursorPosY();
    const float listLeast = kListLeastRows * LibraryRowHeight(g.font);
    const float line = ImGui::GetTextLineHeight() + spacing;
    layOut(g.contentWidth - cross - 6);
    float height = ScanNotesHeight(needed, room, listLeast, line);
    const bool scrolls = height < needed;
    if (scrolls) {
        layOut(g.contentWidth - cross - 6 - style.ScrollbarSize);
        height = ScanNotesHeight(needed, room, listLeast, line);
    }
    for (const std::vector<NoteLine>& lines : laid)
        for (const NoteLine& l : lines) panel.report.noteLines.push_back(l.text);

    panel.report.notesHeight = std::floor(height);
    ImGui::SetCursorPosX(16);
    ImGui::BeginChild("##libnotes", ImVec2(g.contentWidth, std::floor(height)), false,
                      scrolls ? ImGuiWindowFlags_None : ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    const float crossX = ImGui::GetContentRegionAvail().x - cross;
    for (size_t i = 0; i < notes.size(); ++i) {
        const float top = ImGui::GetCursorPosY();
        ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(notes[i].incomplete ? gTheme.warning
                                                                                                : gTheme.textDim));
        for (const NoteLine& l : laid[i]) {
            ImGui::SetCursorPosX(0);
            if (l.wraps) ImGui::PushTextWrapPos(crossX - 6);
            ImGui::TextUnformatted(l.shown.c_str());
            if (l.wraps) ImGui::PopTextWrapPos();
            if (l.shown != l.text && !l.wraps && ImGui::IsItemHovered()) ShowStyledTooltip("%s", l.text.c_str());
        }
        ImGui::PopStyleColor();
        const float after = ImGui::GetCursorPosY();
        ImGui::SetCursorPos(ImVec2(crossX, top));
        ImGui::PushID(static_cast<int>(i));
        DimIconButtonScope dim;
        const bool dismissed = ImGui::SmallButton("\xC3\x97##scannote");
        if (ImGui::IsItemHovered()) ShowStyledTooltip("Dismiss");
        ImGui::PopID();
        ImGui::SetCursorPos(ImVec2(0, after));
        if (dismissed) {
            DismissScanNote(library, i);
            break;
        }
    }
    ImGui::EndChild();
    ImGui::SetCursorPosX(16);
}

// ---------------------------------------------------------------------------
// Coverage
// ---------------------------------------------------------------------------

// `top` is local to the panel; `height` the room down to the footer.
// False, drawing nothing, when `height` has no room for the bars (FitCoverage).
bool DrawCoverage(LibraryPanelState& panel, const SoundLibrary& library, const PanelGeometry& g, float top,
                  float columnWidth, float height) {
    UpdateCoverage(panel.coverage, library);
    const CoverageCache& c = panel.coverage;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    ImFont* small = SmallFont();
    const float smallSize = SmallFontSize();
    const float left = g.origin.x + 16;
    float y = g.origin.y + top;

    const bool any = !library.libraries.empty();
    // The count line may need two lines, the heading too.
    char files[48], palettes[48], countLine[112];
    std::snprintf(files, sizeof files, "%d files", c.fileCount);
    std::snprintf(palettes, sizeof palettes, "%d palette%s", c.libraryCount, PluralSuffix(c.libraryCount));
    std::snprintf(countLine, sizeof countLine, "%s \xC2\xB7 %s", files, palettes);
    const bool countFits = small->CalcTextSizeA(smallSize, FLT_MAX, 0, countLine).x <= columnWidth;
    const char* heading = "SPECTRAL COVERAGE";
    const bool headingFits = small->CalcTextSizeA(smallSize, FLT_MAX, 0, heading).x <= columnWidth;
    const float headingHeight = (headingFits ? 1 : 2) * smallSize + 0.3f * g.font;
    const float labelsHeight = 0.15f * g.font + smallSize;
    const CoverageFit fit = FitCoverage(height, headingHeight, labelsHeight,
                                        any ? (countFits ? 1 : 2) * smallSize + 0.3f * g.font : 0.0f, g.font);
    if (!fit.shown) return false;

    // The heading, on two lines when the column is narrow.
    if (headingFits) {
        draw->AddText(small, smallSize, ImVec2(left, y), gTheme.textMuted, heading);
        y += smallSize;
    } else {
        draw->AddText(small, smallSize, ImVec2(left, y), gTheme.textMuted, "SPECTRAL");
        draw->AddText(small, smallSize, ImVec2(left, y + smallSize), gTheme.textMuted, "COVERAGE");
        y += 2 * smallSize;
    }
    y += 0.3f * g.font;

    const float countHeight = any && fit.countLine ? (countFits ? 1 : 2) * smallSize + 0.3f * g.font : 0.0f;
    const float roomLeft = g.origin.y + top + height - y - labelsHeight - countHeight;
    const CoverageBarGeometry bars = CoverageBars(columnWidth, g.font, roomLeft);
    const float bottom = y + bars.maxHeight;
    const int alpha = any ? 200 : 40;
    const char* labels[5] = {"Sub", "Low", "Mid", "High", "Air"};
    // Labels shrink to their bar's pitch rather than run into each other.
    const float pitch = bars.barWidth + bars.gap;
    const float widest = small->CalcTextSizeA(smallSize, FLT_MAX, 0, "High").x;
    const float labelSize = widest > pitch ? smallSize * pitch / widest : smallSize;
    for (int b = 0; b < 5; ++b) {
        const float x = left + static_cast<float>(b) * pitch;
        // With no library at all the bars lie flat, as an empty gauge.
        const float h = any ? CoverageBarHeight(c.bands[b], bars.maxHeight) : 2.0f;
        if (h > 0)
            draw->AddRectFilled(ImVec2(x, bottom - h), ImVec2(x + bars.barWidth, bottom),
                                WithAlpha(LevelColor(0.1f + 0.2f * static_cast<float>(b)), alpha), 2);
        const float w = small->CalcTextSizeA(labelSize, FLT_MAX, 0, labels[b]).x;
        draw->AddText(small, labelSize, ImVec2(x + (bars.barWidth - w) / 2, bottom + 0.15f * g.font), gTheme.textDim,
                      labels[b]);
    }
    panel.report.coverageAlpha = alpha;
    if (!any || !fit.countLine) return true;
    const float lineY = bottom + labelsHeight + 0.3f * g.font;
    if (countFits) {
        draw->AddText(small, smallSize, ImVec2(left, lineY), gTheme.textDim, countLine);
    } else {
        draw->AddText(small, smallSize, ImVec2(left, lineY), gTheme.textDim, files);
        draw->AddText(small, smallSize, ImVec2(left, lineY + smallSize), gTheme.textDim, palettes);
    }
    panel.report.coverageCountLine = true;
    panel.report.coverageCountText = countLine;
    return true;
}

// ---------------------------------------------------------------------------
// Empty state / scan
// ---------------------------------------------------------------------------

void DrawEmptyState(LibraryPanelState& panel, const PanelGeometry& g, float width) {
    const char* lines[3] = {"No palettes yet.", "Drop a folder here, or use Scan Folder,", "to index your sounds."};
    const float line = ImGui::GetTextLineHeight();
    const float block = 3 * line + 4;
    // Centred in the panel's height, whatever lies above it in the list.
    const float windowTop = ImGui::GetWindowPos().y;
    const float y = std::max(ImGui::GetCursorPosY(), g.origin.y + (g.size.y - block) / 2 - windowTop);
    ImGui::SetCursorPosY(y);
    DrawCenteredText(width, lines[0], gTheme.textMuted);
    ImGui::SetCursorPosY(y + line + 4);
    DrawCenteredText(width, lines[1], gTheme.textDim);
    ImGui::SetCursorPosY(y + 2 * line + 4);
    DrawCenteredText(width, lines[2], gTheme.textDim);
    panel.report.emptyState = true;
}

// The parts a scan card and a queue card share: the card and its checkbox.
struct Card {
    ImVec2 min, max;
    float mid = 0;
    float barsX = 0;  // left of the five bars
};

Card BeginCard(float width, float font, uint32_t background, uint32_t outline, const char* checkboxId) {
    Card c;
    c.min = ImGui::GetCursorScreenPos();
    c.max = Add(c.min, width, 2.6f * font);
    c.mid = (c.min.y + c.max.y) / 2;
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(c.min, c.max, background, 4);
    draw->AddRect(c.min, c.max, outline, 4, 0, 1);
    const float box = font + 2;
    ImGui::SetCursorScreenPos(ImVec2(c.min.x + 8, c.mid - box / 2));
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1, 1));
    ImGui::BeginDisabled();
    bool on = true;
    ImGui::Checkbox(checkboxId, &on);
    ImGui::EndDisabled();
    ImGui::PopStyleVar();
    c.barsX = c.min.x + 8 + box + 8;
    return c;
}

void EndCard(const Card& c) {
    ImGui::SetCursorScreenPos(c.min);
    ImGui::Dummy(ImVec2(c.max.x - c.min.x, c.max.y - c.min.y));
}

// The card's right-hand button; returns whether it was clicked and its left edge.
bool CardButton(const Card& c, const char* label, float& left) {
    const float w = SmallButtonWidth(kCancelGlyph);
    left = c.max.x - 8 - w;
    ImGui::SetCursorScreenPos(ImVec2(left, c.mid - ImGui::GetTextLineHeight() / 2));
    return DimIconButton(label);
}

void DrawScanCard(LibraryPanelState& panel, SoundLibrary& library, const PanelGeometry& g, float width) {
    const float t = static_cast<float>(g.now);
    ImGui::PushID("##scancard");
    const int pulse = static_cast<int>(((std::sin(2.5f * t) + 1) / 2) * 35 + 40);
    const Card c = BeginCard(width, g.font, gTheme.cardBg, WithAlpha(gTheme.textMuted, pulse), "##scen");
    ImDrawList* draw = ImGui::GetWindowDrawList();
    for (int i = 0; i < 5; ++i) {
        const float fi = static_cast<float>(i);
        const float h = (0.35f * (std::sin(fi * 2.21f + 6.8f * t) + 1) / 2 + 0.65f * (std::sin(4.5f * t + 1.3f * fi) + 1) / 2) * 10 + 2;
        const float level = std::min(1.0f, ((std::sin(0.8f * fi + 0.9f * t) + 1) / 2) * 0.5f + 0.25f * fi);
        const float x = c.barsX + 6 * fi;
        draw->AddRectFilled(ImVec2(x, c.mid + 6 - h), ImVec2(x + 4, c.mid + 6), WithAlpha(LevelColor(level), 180));
    }
    float right = 0;
    if (CardButton(c, (std::string(kCancelGlyph) + "##scancancel").c_str(), right)) {
        // The scan thread sees the flag and stops itself.
        library.scanRunning.store(0);
    }
    char counts[48];
    std::snprintf(counts, sizeof counts, "%d / %d", library.scanFilesDone.load(), library.scanFilesFound.load());
    const float countsWidth = ImGui::CalcTextSize(counts).x;
    const float line = ImGui::GetTextLineHeight();
    const float countsX = right - 8 - countsWidth;
    draw->AddText(ImVec2(countsX, c.mid - line / 2), WithAlpha(gTheme.textDim, 100), counts);
    const float barX = countsX - 8 - 80;
    const float progress = std::clamp(library.scanProgress.load(), 0.0f, 1.0f);
    draw->AddRectFilled(ImVec2(barX, c.mid - 1.5f), ImVec2(barX + 80, c.mid + 1.5f), WithAlpha(gTheme.controlBg, 120), 2);
    if (progress > 0)
        draw->AddRectFilled(ImVec2(barX, c.mid - 1.5f), ImVec2(barX + 80 * progress, c.mid + 1.5f),
                            WithAlpha(gTheme.textMuted, 200), 2);
    DrawTextClipped(draw, nullptr, 0, ImVec2(c.barsX + 30 + 8, c.mid - line / 2), barX - 8, gTheme.textDim,
                    library.scanFolderName);
    EndCard(c);
    ImGui::PopID();
    panel.report.scanCard = true;
}

void DrawQueue(LibraryPanelState& panel, SoundLibrary& library, const PanelGeometry& g, float width) {
    for (size_t i = 0; i < library.pendingFolders.size(); ++i) {
        ImGui::PushID(static_cast<int>(5000 + i));
        const Card c = BeginCard(width, g.font, gTheme.panelBg, WithAlpha(gTheme.textDim, 30), "##qchk");
        ImDrawList* draw = ImGui::GetWindowDrawList();
        for (int b = 0; b < 5; ++b) {
            const float x = c.barsX + 6 * static_cast<float>(b);
            draw->AddRectFilled(ImVec2(x, c.mid + 6 - 3), ImVec2(x + 4, c.mid + 6), WithAlpha(gTheme.textDim, 50));
        }
        float right = 0;
        const bool removed = CardButton(c, (std::string(kCancelGlyph) + "##qrm").c_str(), right);
        const float line = ImGui::GetTextLineHeight();
        const float wordX = right - 8 - ImGui::CalcTextSize("queued").x;
        draw->AddText(ImVec2(wordX, c.mid - line / 2), WithAlpha(gTheme.textDim, 70), "queued");
        const std::string& name = i < library.pendingFolderNames.size() ? library.pendingFolderNames[i]
                                                                        : library.pendingFolders[i];
        DrawTextClipped(draw, nullptr, 0, ImVec2(c.barsX + 30 + 8, c.mid - line / 2), wordX - 8,
                        WithAlpha(gTheme.textDim, 120), name.c_str());
        EndCard(c);
        ImGui::PopID();
        ++panel.report.queueCards;
        if (removed) {
            RemoveQueuedFolder(library, static_cast<int>(i));
            break;  // the lists moved under the loop
        }
    }
}

// ---------------------------------------------------------------------------
// Library rows
// ---------------------------------------------------------------------------

struct RowContext {
    LibraryPanelState& panel;
    AppState& app;
    SoundLibrary& library;
    const PanelGeometry& g;
    const std::vector<int>& order;
    float width = 0;
    int removeNow = -1;
    bool anyMenuOpen = false;
};

void MenuItemRect(RowContext& rc, const char* label) {
    rc.panel.report.menuItems.emplace_back(label, ToReport(ImGui::GetItemRectMin(), ImGui::GetItemRectMax()));
}

void DrawRowMenu(RowContext& rc, int index) {
    PopupMenuScope look;
    if (!ImGui::BeginPopup("##libctx")) return;
    rc.anyMenuOpen = true;
    AppState& app = rc.app;
    SoundLibrary& library = rc.library;
    LibraryIndex& l = library.libraries[size_t(index)];
    // While a preview reads the libraries nothing here may change them.
    const ImGuiSelectableFlags frozen = LibraryChangesWait(library) ? ImGuiSelectableFlags_Disabled : 0;
    const char* enabledLabel = l.enabled ? "\uF205  In this project" : "\uF204  In this project";
    if (ImGui::Selectable(enabledLabel, false, frozen)) {
        l.enabled = l.enabled ? 0 : 1;
        MarkLibrariesChanged(library);
    }
    MenuItemRect(rc, "enable");
    if (ImGui::Selectable("\uF303  Rename", false, frozen)) {
        app.renamingLibrary = index;
        CopyTextField(app.libraryRenameBuffer, l.name);
        app.libraryRenameFocus = true;
    }
    MenuItemRect(rc, "rename");
    if (!l.savedPalette && !l.folderMissing && !library.scanRunning.load()) {
        // A rescan keeps the library's place in the project and its group.
        if (ImGui::Selectable("\uF021  Rescan")) StartLibraryScan(library, l.path, l.enabled, l.group);
        MenuItemRect(rc, "rescan");
    }
    if (!l.savedPalette && l.folderMissing) {
        if (ImGui::Selectable("\uF07B  Relink...", false, frozen) && app.pickFolderDialog &&
            PanelMayChangeDocument(app)) {
            const std::string folder = app.pickFolderDialog();
            if (!folder.empty()) {
                const std::string name = l.name;
                const int kept = RelinkLibrary(ProgramDocumentContext(), library, index, folder);
                char text[160];
                if (kept > 0)
                    std::snprintf(text, sizeof text, "%s: %d files", name.c_str(), kept);
                else
                    std::snprintf(text, sizeof text, "No files of %s were found there.", name.c_str());
                SetPanelMessage(rc.panel.message, text, rc.g.now);
            }
        }
        MenuItemRect(rc, "relink");
    }
    if (!l.savedPalette && !l.path.empty() && app.revealFileCallback) {
        if (ImGui::Selectable("\uF07B  Show in File Manager")) app.revealFileCallback(l.path);
        MenuItemRect(rc, "reveal");
    }
    if (rc.panel.pendingRemove == index) {
        ImGui::PushStyleColor(ImGuiCol_Text, Col(WithAlpha(gTheme.danger, 255)));
        if (ImGui::Selectable("\uF1F8  Confirm remove?", false, frozen)) rc.removeNow = index;
        ImGui::PopStyleColor();
        MenuItemRect(rc, "confirm");
    } else {
        if (ImGui::Selectable("\uF1F8  Remove", false, ImGuiSelectableFlags_DontClosePopups | frozen))
            rc.panel.pendingRemove = index;
        MenuItemRect(rc, "remove");
    }
    ImGui::EndPopup();
}

void CommitRename(RowContext& rc, int index) {
    AppState& app = rc.app;
    const std::string typed = app.libraryRenameBuffer;
    app.renamingLibrary = -1;
    if (!PanelMayChangeDocument(app)) return;
    // The events' filters and those of the recipes in memory follow the name.
    const RenameOutcome outcome = RenameLibrary(ProgramDocumentContext(), rc.library, gRecipes, index, typed);
    if (!outcome.message.empty()) SetPanelMessage(rc.panel.message, outcome.message, rc.g.now);
}

void DrawRenameField(RowContext& rc, int index, float x, float y, float right) {
    AppState& app = rc.app;
    ImGui::SetCursorScreenPos(ImVec2(x, y - ImGui::GetStyle().FramePadding.y));
    ImGui::SetNextItemWidth(std::max(40.0f, right - x));
    if (app.libraryRenameFocus) ImGui::SetKeyboardFocusHere();
    // Outlined like the row's checkbox, so the name reads as being edited.
    ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 1.0f);
    const bool enter = ImGui::InputText("##libren", app.libraryRenameBuffer, sizeof app.libraryRenameBuffer,
                                        ImGuiInputTextFlags_EnterReturnsTrue | ImGuiInputTextFlags_AutoSelectAll);
    ImGui::PopStyleVar();
    const bool active = ImGui::IsItemActive();
    if (active) app.libraryRenameFocus = false;
    rc.panel.report.renameFieldShown = true;
    if (enter || (!active && !app.libraryRenameFocus)) CommitRename(rc, index);
}

void DrawMiniSpectrum(RowContext& rc, int index, float x, float mid, bool active) {
    const std::array<float, 5>& bands = MiniSpectrumFor(rc.panel.spectra, rc.library, index);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float bottom = mid + 7;
    for (int b = 0; b < 5; ++b) {
        const float bx = x + 5.5f * static_cast<float>(b);
        const float h = MiniSpectrumBarHeight(bands[size_t(b)]);
        draw->AddRectFilled(ImVec2(bx, bottom - h), ImVec2(bx + 4, bottom),
                            MiniSpectrumBarColor(b, rc.app.weightColors, active));
    }
}

void DrawLibraryRow(RowContext& rc, int index) {
    AppState& app = rc.app;
    SoundLibrary& library = rc.library;
    LibraryIndex& l = library.libraries[size_t(index)];
    const float F = rc.g.font;
    ImGui::PushID(index);
    const ImVec2 min = ImGui::GetCursorScreenPos();
    const ImVec2 max = Add(min, rc.width, 2.6f * F);
    const float mid = (min.y + max.y) / 2;
    const bool missing = l.folderMissing != 0;
    const bool active = LibraryRowIsActive(l);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(min, max, missing ? kMissingFolderCardBg : gTheme.cardBg, 4);
    if (app.librarySelection.count(index)) draw->AddRectFilled(min, max, WithAlpha(gTheme.whiteOverlay, 0x12), 4);

    // Checkbox, or the warning mark of a folder that is gone.
    const float box = F + 2;
    const float x = min.x + 8;
    if (!missing) {
        ImGui::SetCursorScreenPos(ImVec2(x, mid - box / 2));
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(1, 1));
        // The theme's frame barely differs from the card: an outline keeps an
        // unticked box (a library left out of the project) findable.
        ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 1.0f);
        ImGui::BeginDisabled(LibraryChangesWait(library));
        bool enabled = l.enabled != 0;
        if (ImGui::Checkbox("##en", &enabled)) {
            l.enabled = enabled ? 1 : 0;
            SpreadEnabledToSelection(library, app.librarySelection, index, l.enabled);
            MarkLibrariesChanged(library);
        }
        ImGui::EndDisabled();
        ImGui::PopStyleVar(2);
    } else {
        draw->AddText(ImVec2(x + box / 2 - ImGui::CalcTextSize("!").x / 2, mid - F / 2), gTheme.warning, "!");
    }
    const float spectrumX = x + box + 8;
    DrawMiniSpectrum(rc, index, spectrumX, mid, active);

    // Right side: the menu button's place, the file count left of it.
    const float menuWidth = SmallButtonWidth(kMenuGlyph);
    const float menuX = max.x - 8 - menuWidth;
    const std::string count = FormatFileCount(static_cast<int>(l.entries.size()));
    const float countX = menuX - 6 - ImGui::CalcTextSize(count.c_str()).x;
    ImFont* small = SmallFont();
    const float smallSize = SmallFontSize();
    const float nameY = mid - (F + smallSize + 2) / 2;
    const float summaryY = nameY + F + 2;
    draw->AddText(ImVec2(countX, nameY), active ? gTheme.textDim : WithAlpha(gTheme.textDim, 140), count.c_str());

    const float textX = spectrumX + 4 * 5.5f + 4 + 10;
    if (app.renamingLibrary == index) {
        DrawRenameField(rc, index, textX, nameY, countX - 8);
    } else {
        const uint32_t nameColor = missing ? gTheme.warning : (active ? gTheme.text : WithAlpha(gTheme.textDim, 140));
        DrawTextClipped(draw, nullptr, 0, ImVec2(textX, nameY), countX - 8, nameColor, l.name.c_str());
        // A tag after the name: a saved palette, or a library that holds only
        // part of its folder until a rescan finishes.
        const char* tag = l.savedPalette ? "PALETTE" : l.incomplete ? "INCOMPLETE" : nullptr;
        if (tag) {
            const float tagX = textX + ImGui::CalcTextSize(l.name.c_str()).x + 0.35f * F;
            const float tagW = small->CalcTextSizeA(smallSize, FLT_MAX, 0, tag).x;
            const uint32_t tagColor = l.savedPalette ? gTheme.paletteTag : gTheme.warning;
            if (tagX + tagW <= countX - 8)
                draw->AddText(small, smallSize, ImVec2(tagX, nameY + (F - smallSize) / 2),
                              WithAlpha(tagColor, active ? 200 : 105), tag);
        }
        if (l.incomplete) rc.panel.report.incomplete.push_back(l.name);
    }
    const std::string summary = SummaryForDisplay(l.summary);
    DrawTextClipped(draw, small, smallSize, ImVec2(textX, summaryY), max.x - 8, WithAlpha(gTheme.textDim, 140),
                    summary.c_str());

    // The menu button, while the row is hovered or its menu is open.
    // Pressing the menu button makes it the active item: the row stays hovered meanwhile.
    const bool hovered = ImGui::IsWindowHovered(ImGuiHoveredFlags_AllowWhenBlockedByActiveItem) &&
                         ImGui::IsMouseHoveringRect(min, max);
    const ImVec2 menuMin(menuX, mid - ImGui::GetTextLineHeight() / 2);
    if (hovered || ImGui::IsPopupOpen("##libctx")) {
        ImGui::SetCursorScreenPos(menuMin);
        if (DimIconButton((std::string(kMenuGlyph) + "##ctx").c_str())) ImGui::OpenPopup("##libctx");
    }
    DrawRowMenu(rc, index);

    // A click on the card itself selects.
    if (hovered && ImGui::IsMouseClicked(ImGuiMouseButton_Left) && !ImGui::IsAnyItemHovered() &&
        !ImGui::IsAnyItemActive()) {
        const ImGuiIO& io = ImGui::GetIO();
        const RowClick click = io.KeyShift ? RowClick::Range
                               : (io.KeySuper || io.KeyCtrl) ? RowClick::Toggle
                                                             : RowClick::Plain;
        ApplyLibraryRowClick(app.librarySelection, app.librarySelectionAnchor, index, click, rc.order);
    }

    rc.panel.report.rows.push_back(l.name + "|" + count);
    rc.panel.report.rowRects.push_back(ToReport(min, max));
    rc.panel.report.menuRects.push_back(
        ToReport(menuMin, ImVec2(menuMin.x + menuWidth, menuMin.y + ImGui::GetTextLineHeight())));
    ++rc.panel.report.libraryRowsDrawn;
    ImGui::SetCursorScreenPos(min);
    ImGui::Dummy(ImVec2(rc.width, max.y - min.y));
    ImGui::PopID();
}

void DrawLibraryRows(RowContext& rc) {
    const std::vector<int>& order = rc.order;
    const int count = static_cast<int>(order.size());
    if (count == 0) return;
    const float rowHeight = LibraryRowHeight(rc.g.font);
    const float top = ImGui::GetCursorPosY();
    float scroll = ImGui::GetScrollY();
    const float visible = ImGui::GetWindowHeight();
    // A palette that asks for its name is brought into view first.
    if (rc.app.libraryRenameFocus && rc.app.renamingLibrary >= 0) {
        const auto at = std::find(order.begin(), order.end(), rc.app.renamingLibrary);
        if (at != order.end()) {
            const float rowTop = RowTop(int(at - order.begin()), top, rowHeight, -1, 0);
            if (rowTop < scroll || rowTop + rowHeight > scroll + visible) {
                scroll = std::max(0.0f, rowTop - (visible - rowHeight) / 2);
                ImGui::SetScrollY(scroll);
            }
        }
    }
    const RowRange range = VisibleRowRange(count, top, rowHeight, -1, 0, scroll, scroll + visible);
    for (int k = range.first; k <= range.last; ++k) {
        ImGui::SetCursorPosY(RowTop(k, top, rowHeight, -1, 0));
        DrawLibraryRow(rc, order[size_t(k)]);
    }
    ImGui::SetCursorPosY(RowTop(count, top, rowHeight, -1, 0));
}

// ---------------------------------------------------------------------------
// Removal
// ---------------------------------------------------------------------------

void RemoveAtFrameEnd(RowContext& rc) {
    const int index = rc.removeNow;
    if (index < 0) return;
    rc.panel.pendingRemove = -1;
    AppState& app = rc.app;
    // Indices move only when the library is really gone.
    if (!PanelMayChangeDocument(app) || !RemoveLibrary(rc.library, index, 0)) return;
    FixIndicesAfterRemoval(index, app.renamingLibrary, app.librarySelection, app.librarySelectionAnchor,
                           app.libraryIndex);
    if (gShellServices.savePreferences) gShellServices.savePreferences();
}

// ---------------------------------------------------------------------------
// The list view inside the scroll child
// ---------------------------------------------------------------------------

void DrawListView(LibraryPanelState& panel, AppState& app, SoundLibrary& library, const PanelGeometry& g) {
    const float width = ImGui::GetContentRegionAvail().x;
    if (!gMissingFiles.files.empty()) DrawMissingSources(panel, app, width);
    const bool scanning = library.scanRunning.load() != 0;
    if (library.libraries.empty() && !scanning && gMissingFiles.files.empty()) DrawEmptyState(panel, g, width);
    if (scanning) DrawScanCard(panel, library, g, width);
    DrawQueue(panel, library, g, width);
    RowContext rc{panel, app, library, g, CachedDisplayOrder(panel.order, library), width};
    DrawLibraryRows(rc);
    if (!rc.anyMenuOpen) panel.pendingRemove = -1;
    RemoveAtFrameEnd(rc);
}

// ---------------------------------------------------------------------------
// Footer
// ---------------------------------------------------------------------------

void DrawFooter(LibraryPanelState& panel, AppState& app, const SoundLibrary& library, const PanelGeometry& g) {
    const float y = g.origin.y + g.footerTop;
    ImGui::GetWindowDrawList()->AddLine(ImVec2(g.origin.x, y), ImVec2(g.origin.x + g.size.x, y),
                                        WithAlpha(gTheme.textDim, 30));
    ImGui::SetCursorPos(ImVec2(16, g.footerTop + 0.3f * g.font));
    if (app.savePaletteOpen) {
        DrawSavePaletteFooter(panel);
        return;
    }
    SecondaryButtonScope look;
    ImGui::BeginDisabled(library.scanRunning.load() != 0);
    if (ImGui::Button("\uF65E Add Folder##libscan")) panel.addFolderRequest = true;
    ImGui::EndDisabled();
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ShowStyledTooltip("Scan a folder to index your sounds");
    ImGui::SameLine();
    ImGui::BeginDisabled(gProject.results.empty());
    if (ImGui::Button("\uF3A5 Save Palette##libsave")) panel.savePaletteRequest = true;
    ImGui::EndDisabled();
    if (ImGui::IsItemHovered(ImGuiHoveredFlags_AllowWhenDisabled)) ShowStyledTooltip("Save selection as a palette");
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawLibraryPanel
// ---------------------------------------------------------------------------

void DrawLibraryPanel(ImDrawList* /*drawList*/, const UILayout& layout) {
    AppState& app = gAppState;
    SoundLibrary& library = gSoundLibrary;
    LibraryPanelState& panel = gLibraryPanel;
    panel.report = LibraryPanelFrameReport{};
    const LayoutRect rect = TabPanelRect(layout);
    if (rect.width <= 0 || rect.height <= 0) return;

    // 1. The child and its background; the drop outline.
    ImGui::SetCursorPos(ImVec2(rect.x, rect.y));
    ImGui::BeginChild("##library_panel", ImVec2(rect.width, rect.height), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    NoteRegionDrawn("##library_panel");
    PanelGeometry g;
    g.origin = ImGui::GetWindowPos();
    g.size = ImGui::GetWindowSize();
    g.font = ImGui::GetFontSize();
    g.contentWidth = std::max(0.0f, g.size.x - 32);
    g.footerTop = g.size.y - (ImGui::GetFrameHeight() + 0.6f * g.font);
    g.now = ImGui::GetTime();
    // Audio dropped here becomes a palette (the frame's drop hand-over).
    NoteDropZone(DropZoneKind::LibraryPanel, LayoutRect{g.origin.x, g.origin.y, g.size.x, g.size.y});
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(g.origin, Add(g.origin, g.size.x, g.size.y), gTheme.panelBg);
    const bool audioOver = app.dragHasAudio && rect.Contains(app.dragHoverX, app.dragHoverY);
    if (!app.savePaletteOpen && (app.dragHasFolder || audioOver))
        draw->AddRect(Add(g.origin, 3, 3), Add(g.origin, g.size.x - 3, g.size.y - 3), WithAlpha(gTheme.accent, 180),
                      6, 0, 2);
    panel.report.drawn = true;
    panel.report.savePaletteView = app.savePaletteOpen;

    // 2. A rename row that no longer exists.
    if (app.renamingLibrary >= static_cast<int>(library.libraries.size())) app.renamingLibrary = -1;

    // 3–6. Title, then the requests and message lines (or the view's buttons).
    ImGui::SetCursorPos(ImVec2(16, 10));
    ImGui::TextColored(Col(gTheme.textMuted), "%s", app.savePaletteOpen ? "SAVE PALETTE" : "LIBRARY");
    ImGui::SetCursorPos(ImVec2(16, 30));
    if (app.savePaletteOpen) {
        DrawSavePaletteButtons(panel, app, library, g.contentWidth, g.now);
    } else {
        TakeDroppedFolders(app, library);
        ServeAddFolderRequest(panel, app, library);
        ServeSavePaletteRequest(panel, app, gProject, g.now);
        DrawMessageLines(panel, library, g);
    }
    TakeFinishedFolderSearch(panel, app);

    // 7. The coverage column and the scroll child, down to the footer.
    const float top = ImGui::GetCursorPosY();
    const float height = g.footerTop - 0.3f * g.font - top;
    float scrollX = 16;
    float scrollWidth = g.contentWidth;
    if (!app.savePaletteOpen) {
        const float column = std::max(80.0f, 0.22f * g.contentWidth);
        const float gap = std::max(4.0f, 0.02f * g.contentWidth);
        // A panel too low for the bars gives the list the whole width.
        if (height > 0 && DrawCoverage(panel, library, g, top, column, height)) {
            panel.report.coverageShown = true;
            scrollX += column + gap;
            scrollWidth -= column + gap;
        }
    }
    if (height > 0 && scrollWidth > 0) {
        ImGui::SetCursorPos(ImVec2(scrollX, top));
        panel.report.listHeight = height;
        ImGui::BeginChild("##libscroll", ImVec2(scrollWidth, height), false, ImGuiWindowFlags_None);
        if (app.savePaletteOpen)
            DrawSavePaletteGroups(panel);
        else
            DrawListView(panel, app, library, g);
        ImGui::EndChild();
    }
    DrawFooter(panel, app, library, g);
    ImGui::EndChild();
}

// ---------------------------------------------------------------------------
// DumpLibraryPanel
// ---------------------------------------------------------------------------

void DumpLibraryPanel(StateDump& dump) {
    const LibraryPanelFrameReport& r = gLibraryPanel.report;
    auto rectText = [](const ReportRect& rr) {
        char value[96];
        std::snprintf(value, sizeof value, "%.1f,%.1f,%.1f,%.1f", double(rr.x), double(rr.y), double(rr.w), double(rr.h));
        return std::string(value);
    };
    dump.Field("library.drawn", r.drawn);
    dump.Field("library.count", static_cast<int>(gSoundLibrary.libraries.size()));
    dump.Field("library.scanning", gSoundLibrary.scanRunning.load() != 0);
    dump.Field("library.emptyState", r.emptyState);
    dump.Field("library.scanCard", r.scanCard);
    dump.Field("library.queueCards", r.queueCards);
    dump.Field("library.savePaletteView", r.savePaletteView);
    dump.Field("library.renaming", gAppState.renamingLibrary);
    dump.Field("library.renameField", r.renameFieldShown);
    dump.Field("library.message", r.message);
    dump.Field("library.missing", static_cast<int>(gMissingFiles.files.size()));
    std::string rows;
    for (size_t i = 0; i < r.rows.size(); ++i) {
        if (i) rows += ";";
        rows += r.rows[i];
        dump.Field("library.row." + std::to_string(i) + ".rect", rectText(r.rowRects[i]));
        dump.Field("library.row." + std::to_string(i) + ".menu", rectText(r.menuRects[i]));
    }
    dump.Field("library.rows", rows);
    auto joined = [](const std::vector<std::string>& items) {
        std::string text;
        for (const std::string& item : items) text += (text.empty() ? "" : ";") + item;
        return text;
    };
    dump.Field("library.notes", joined(r.noteLines));
    dump.Field("library.notesHeight", static_cast<double>(r.notesHeight));
    dump.Field("library.listHeight", static_cast<double>(r.listHeight));
    dump.Field("library.coverageShown", r.coverageShown);
    dump.Field("library.incomplete", joined(r.incomplete));
    for (const auto& [name, rect] : r.menuItems) dump.Field("library.menu." + name, rectText(rect));
}
