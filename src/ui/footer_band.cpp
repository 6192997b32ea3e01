// footer_band.cpp — the status line at the bottom of the window.
//
// Index
//   DrawFooterBand      counts at the right; at the left the first of: the full
//                       render's progress with "Esc to stop", the export's line when
//                       the transport band has no room for it, the folder scan, the toast
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/theme.h"
#include "document/busy_task.h"
#include "document/named_message.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "playback/audio_engine.h"
#include "ui/job_protocol_logic.h"
#include "ui/main_bands.h"
#include "ui/notices.h"
#include "ui/transport_logic.h"
#include "ui/widgets.h"

namespace {

bool Fits(const std::string& text, float room) { return ImGui::CalcTextSize(text.c_str()).x <= room; }

}  // namespace

void DrawFooterBand(AppState& app, const UILayout& layout) {
    const ImVec2 origin = ImGui::GetWindowPos();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const float F = ImGui::GetFontSize();
    const float h = layout.footerHeight;
    const float pad = std::round(0.6f * F);
    const float textY = origin.y + std::round((h - ImGui::GetTextLineHeight()) / 2);

    gBands.footerRight = FooterCountsText(static_cast<int>(gProject.events.size()), app.projectSampleRate, gProject.fps);
    const float rightW = ImGui::CalcTextSize(gBands.footerRight.c_str()).x;
    const float rightX = origin.x + layout.displayWidth - pad - rightW;
    draw->AddText(ImVec2(rightX, textY), gTheme.textMuted, gBands.footerRight.c_str());

    // The left side stops short of the counts; its texts are fitted to that
    // room (the clip only guards it).
    draw->PushClipRect(origin, ImVec2(rightX - pad, origin.y + h), true);
    float x = origin.x + pad;
    const float room = rightX - pad - x;
    const float r = std::round(0.32f * F);
    const BusyTask& task = app.busyTask;
    const SoundLibrary& library = gSoundLibrary;
    gBands.footerLeft.clear();
    if (task.busy.load() && task.immediate) {
        DrawDotSpinner(draw, ImVec2(x + r, origin.y + h / 2), r, gTheme.text);
        x += 2 * r + pad;
        gBands.footerLeft = LiveBlockText(BusyStatusText(task), app.renderEventsDone.load(),
                                          app.renderEventsTotal.load(), gAudioEngine.stats.buildProgress.load());
        draw->AddText(ImVec2(x, textY), gTheme.text, gBands.footerLeft.c_str());
        x += ImGui::CalcTextSize(gBands.footerLeft.c_str()).x + 2 * pad;
        if (task.cancellable && !task.done.load()) draw->AddText(ImVec2(x, textY), gTheme.textMuted, "Esc to stop");
        app.uiAnimating = true;
    } else if (gBands.exportInFooter && app.exportRunning.load()) {
        // The transport band had no room for the export's line: it stands
        // here, cut by the one rule only when even this room is short.
        DrawExportLine(app, ImVec2(x, origin.y + h / 2), room, r, pad, true);
        gBands.footerLeft = gBands.exportLine;
    } else if (library.scanRunning.load()) {
        DrawDotSpinner(draw, ImVec2(x + r, origin.y + h / 2), r, gTheme.text);
        x += 2 * r + pad;
        gBands.footerLeft = ShortenedMessage("Scanning folder: ", library.scanFolderName, "",
                                             [&](const std::string& text) { return Fits(text, room - 2 * r - pad); });
        draw->AddText(ImVec2(x, textY), gTheme.textMuted, gBands.footerLeft.c_str());
        app.uiAnimating = true;
    } else if (app.toastTimer > 0 && !app.toastText.empty()) {
        ImGui::SetCursorScreenPos(ImVec2(x, textY));
        gBands.footerLeft = DrawToastLine(app, room);
    }
    draw->PopClipRect();
}
