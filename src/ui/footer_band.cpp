// footer_band.cpp — the status line at the bottom of the window.
//
// Index
//   DrawFooterBand      counts at the right; at the left the first of: the full
//                       render's progress with "Esc to stop", the folder scan, the toast
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/theme.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "playback/audio_engine.h"
#include "ui/job_protocol_logic.h"
#include "ui/main_bands.h"
#include "ui/notices.h"
#include "ui/transport_logic.h"
#include "ui/widgets.h"

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

    // The left side stops short of the counts.
    draw->PushClipRect(origin, ImVec2(rightX - pad, origin.y + h), true);
    float x = origin.x + pad;
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
    } else if (library.scanRunning.load()) {
        DrawDotSpinner(draw, ImVec2(x + r, origin.y + h / 2), r, gTheme.text);
        x += 2 * r + pad;
        gBands.footerLeft = std::string("Scanning folder: ") + library.scanFolderName;
        draw->AddText(ImVec2(x, textY), gTheme.textMuted, gBands.footerLeft.c_str());
        app.uiAnimating = true;
    } else if (app.toastTimer > 0 && !app.toastText.empty()) {
        gBands.footerLeft = app.toastText;
        ImGui::SetCursorScreenPos(ImVec2(x, textY));
        DrawToastLine(app);
    }
    draw->PopClipRect();
}
