// job_protocol.cpp — the UI job protocol, run by DrawUI before it draws.
//
// Index
//   gJobFrame
//   Finishing            the follow-ups of a finished task (input, backdrop, toast, locks)
//   Layers, spinner, card  what the overlay and the live block draw
//   DrawBusyOverlay      step 9: "##busy"
//   RunJobProtocol       steps 1–9 in order
//   RunWorkerCompletions steps 10–11
//   DrawLiveBlock        step 12: "##liveblock"
//   DumpJobProtocol
//
// The requests of steps 1–5 are the document's (TakeJobRequests,
// operations/job_requests.h).
#include "ui/job_protocol.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>

#include "app/frame_driver.h"
#include "app/imgui_compat.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/job_requests.h"
#include "operations/layer_sounds.h"
#include "operations/trace_job.h"
#include "playback/audio_engine.h"
#include "ui/command_chooser.h"
#include "ui/job_protocol_logic.h"
#include "ui/ui_colors.h"
#include "ui/ui_layout.h"

JobFrameState gJobFrame;

namespace {

constexpr float kCardOffsetY = 24;      // the card's centre sits this far above the window's
constexpr float kBarWidth = 200;
constexpr float kBarHeight = 3;
constexpr float kCancelWidth = 80;
constexpr float kCancelHeight = 24;
constexpr float kSpinnerRadius = 11;
constexpr float kCardPadding = 20;
constexpr float kCardGap = 12;
constexpr float kCardMinWidth = 260;
// The live block's card ends this far above the timeline's bottom edge (its
// scroll bar and toolbar stay clear).
constexpr float kLiveBlockAboveTimelineEnd = 44;

int AlphaOf(float fraction) { return static_cast<int>(std::lround(std::clamp(fraction, 0.0f, 1.0f) * 255.0f)); }

// ---------------------------------------------------------------------------
// Finishing
// ---------------------------------------------------------------------------

void FinishFollowUps(const DocumentContext& ctx, FrameDriver* frames, JobFrameState& state, bool wasFull,
                     bool cancelled) {
    AppState& app = *ctx.app;
    if (!wasFull) app.frozenFrameTexture = nullptr;
    if (frames) ReleaseGuiInput(*frames);
    ShowLayerSoundsToast(app, *ctx.project, !ctx.library || ctx.library->libraries.empty());
    FinishRenderRequest(ctx, cancelled);
    state.cancelSeen = false;
    ++state.tasksFinished;
}

// ---------------------------------------------------------------------------
// Layers, spinner, card
// ---------------------------------------------------------------------------

// Three quarters of a circle turning about once a second.
void DrawSpinner(ImDrawList* draw, ImVec2 centre, float radius, uint32_t color) {
    const float start = static_cast<float>(std::fmod(ImGui::GetTime() * 6.0, 2.0 * IM_PI));
    draw->PathArcTo(centre, radius, start, start + 1.5f * IM_PI, 32);
    draw->PathStroke(color, false, 2.5f);
}

struct CardLayout {
    ImVec2 min, max;
    ImVec2 spinner;
    ImVec2 text;
    ImVec2 bar;     // top-left of the bar, when shown
    ImVec2 cancel;  // top-left of the button, when shown
};

CardLayout LayOutCard(ImVec2 display, ImVec2 textSize, bool bar, bool cancel) {
    float width = std::max(kCardMinWidth, textSize.x + 2 * kCardPadding);
    float height = kCardPadding + 2 * kSpinnerRadius + kCardGap + textSize.y + kCardPadding;
    if (bar) height += kCardGap + kBarHeight;
    if (cancel) height += kCardGap + kCancelHeight;
    const ImVec2 centre(display.x * 0.5f, display.y * 0.5f - kCardOffsetY);
    CardLayout c;
    c.min = ImVec2(std::floor(centre.x - width * 0.5f), std::floor(centre.y - height * 0.5f));
    c.max = ImVec2(c.min.x + width, c.min.y + height);
    float y = c.min.y + kCardPadding;
    c.spinner = ImVec2(centre.x, y + kSpinnerRadius);
    y += 2 * kSpinnerRadius + kCardGap;
    c.text = ImVec2(std::floor(centre.x - textSize.x * 0.5f), y);
    y += textSize.y;
    if (bar) {
        y += kCardGap;
        c.bar = ImVec2(std::floor(centre.x - kBarWidth * 0.5f), y);
        y += kBarHeight;
    }
    if (cancel) {
        y += kCardGap;
        c.cancel = ImVec2(std::floor(centre.x - kCancelWidth * 0.5f), y);
    }
    return c;
}

// A window over the whole display without decoration, padding or
// background: what it shows it draws itself. End it with ImGui::End.
void BeginFullScreenLayer(const char* id, ImGuiWindowFlags extraFlags) {
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBringToFrontOnFocus |
                                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBackground | extraFlags;
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::Begin(id, nullptr, flags);
    ImGui::PopStyleVar(2);
}

// ---------------------------------------------------------------------------
// DrawBusyOverlay
// ---------------------------------------------------------------------------

void DrawBusyOverlay(AppState& app, JobFrameState& state) {
    BusyTask& task = app.busyTask;
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    const float a = BusyOverlayFade(ClockSeconds(app.clock), task.startedAt);
    const bool canCancel = task.cancellable && !task.done.load();

    BeginFullScreenLayer("##busy", canCancel ? 0 : ImGuiWindowFlags_NoInputs);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 origin(0, 0);

    // The last live frame, upright; a plain backdrop when it could not be
    // captured (the window must not show through half-drawn).
    if (app.frozenFrameTexture) {
        const float* uv = app.frozenFrameUv;
        draw->AddImage(static_cast<ImTextureID>(app.frozenFrameTexture), origin, display, ImVec2(uv[0], uv[1]),
                       ImVec2(uv[2], uv[3]), IM_COL32_WHITE);
    } else {
        draw->AddRectFilled(origin, display, WithAlpha(gTheme.busyOverlayBg, 255));
    }
    draw->AddRectFilled(origin, display, WithAlpha(gTheme.busyOverlayBg, static_cast<int>(a * 140.0f)));

    if (a > 0.01f) {
        const std::string status = BusyStatusText(task);
        const float progress = task.progress.load();
        const ImVec2 textSize = ImGui::CalcTextSize(status.c_str());
        const CardLayout c = LayOutCard(display, textSize, progress >= 0, canCancel);
        draw->AddRectFilled(c.min, c.max, WithAlpha(gTheme.cardBg, AlphaOf(a)), 8.0f);
        draw->AddRect(c.min, c.max, WithAlpha(gTheme.border, AlphaOf(a)), 8.0f);
        DrawSpinner(draw, c.spinner, kSpinnerRadius, WithAlpha(gTheme.accent, AlphaOf(a)));
        draw->AddText(c.text, WithAlpha(gTheme.text, AlphaOf(a)), status.c_str());
        if (progress >= 0) {
            const ImVec2 end(c.bar.x + kBarWidth, c.bar.y + kBarHeight);
            draw->AddRectFilled(c.bar, end, WithAlpha(gTheme.textMuted, static_cast<int>(a * 120.0f)));
            const float fill = std::clamp(progress, 0.0f, 1.0f) * kBarWidth;
            if (fill > 0)
                draw->AddRectFilled(c.bar, ImVec2(c.bar.x + fill, end.y), WithAlpha(gTheme.text, AlphaOf(a)));
        }
        if (canCancel) {
            ImGui::SetCursorScreenPos(c.cancel);
            ImGui::PushStyleVar(ImGuiStyleVar_Alpha, a);
            ImGui::PushStyleColor(ImGuiCol_Button, ImGui::ColorConvertU32ToFloat4(gTheme.buttonBg));
            ImGui::PushStyleColor(ImGuiCol_ButtonHovered, ImGui::ColorConvertU32ToFloat4(gTheme.buttonBgHover));
            ImGui::PushStyleColor(ImGuiCol_ButtonActive, ImGui::ColorConvertU32ToFloat4(gTheme.buttonBgHover));
            ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(gTheme.text));
            if (ImGui::Button("Cancel", ImVec2(kCancelWidth, kCancelHeight)) && CancelBusyTask(task))
                state.cancelSeen = true;
            const ImVec2 min = ImGui::GetItemRectMin(), size = ImGui::GetItemRectSize();
            const float rect[4] = {min.x, min.y, size.x, size.y};
            std::copy(rect, rect + 4, state.cancelRect);
            ImGui::PopStyleColor(4);
            ImGui::PopStyleVar();
        }
    }
    ImGui::End();
    state.overlayDrawn = true;
    state.overlayAlpha = a;
}

}  // namespace

// ---------------------------------------------------------------------------
// RunJobProtocol
// ---------------------------------------------------------------------------

bool RunJobProtocol(const DocumentContext& ctx, FrameDriver* frames, JobFrameState& state) {
    AppState& app = *ctx.app;
    BusyTask& task = app.busyTask;
    state.overlayDrawn = false;
    state.liveBlockDrawn = false;
    state.overlayAlpha = 0;
    std::fill(std::begin(state.cancelRect), std::end(state.cancelRect), 0.0f);

    // 1–5. Requests, while the document may change.
    TakeJobRequests(ctx, {.leftButtonDown = ImGui::GetIO().MouseDown[0],
                          .leavingCommandParked = CommandStopsBusyTask(app.pendingCommand.load())});

    // 6. Escape stops a cancellable task that is not done yet.
    if (task.busy.load() && ImCompat::IsNamedKeyPressed(ImGuiKey_Escape, false) && CancelBusyTask(task))
        state.cancelSeen = true;

    // 7, 8. Start, completion and the follow-ups of the task.
    const bool wasFull = task.immediate;
    const bool cancelled = state.cancelSeen || task.cancelRequested.load();
    if (PumpBusyTask(task, &app.traceRunning) == BusyPump::Finished)
        FinishFollowUps(ctx, frames, state, wasFull, cancelled);

    // 9. A task other than a full render owns the screen once its backdrop is taken.
    if (task.busy.load() && !task.immediate && !task.snapshotRequested) {
        DrawBusyOverlay(app, state);
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// RunWorkerCompletions
// ---------------------------------------------------------------------------

void RunWorkerCompletions(AppState& app) {
    PumpExportCompletion(app, ClockSeconds(app.clock));
    // A task queued behind the trace joins the slot itself.
    if (!app.busyTask.busy.load()) JoinTraceWorker(app);
}

// ---------------------------------------------------------------------------
// DrawLiveBlock
// ---------------------------------------------------------------------------

void DrawLiveBlock(const DocumentContext& ctx, JobFrameState& state, const UILayout* layout) {
    const AppState& app = *ctx.app;
    const BusyTask& task = app.busyTask;
    if (!task.busy.load() || !task.immediate) return;
    const ImVec2 display = ImGui::GetIO().DisplaySize;
    BeginFullScreenLayer("##liveblock", ImGuiWindowFlags_NoNav);
    // Above every window of the frame, so no panel underneath is hovered;
    // its display order only: the keyboard focus stays where it was.
    ImGui::BringWindowToDisplayFront(ImGui::GetCurrentWindow());

    const float a = BusyOverlayFade(ClockSeconds(app.clock), task.startedAt);
    if (a > 0.01f) {
        const int clips = ctx.engine ? ctx.engine->stats.buildProgress.load() : 0;
        const std::string text = LiveBlockText(BusyStatusText(task), app.renderEventsDone.load(),
                                               app.renderEventsTotal.load(), clips);
        const ImVec2 size = ImGui::CalcTextSize(text.c_str());
        const uint32_t color = WithAlpha(gTheme.text, static_cast<int>(a * 200.0f));
        const float gap = 10;
        const float width = 2 * kSpinnerRadius + gap + size.x;
        const float padX = 12, padY = 6, half = std::max(kSpinnerRadius, size.y * 0.5f) + padY;
        // In the window's middle the card lay across the transport band and
        // the ruler at 720p, hiding the ruler's labels: it stands instead in
        // the timeline's lower part, above its scroll bar and toolbar.
        float centreY = display.y * 0.5f;
        if (layout && layout->timelineHeight > 0) {
            const LayoutRect timeline = TimelineRect(*layout);
            centreY = std::max(timeline.y + 0.5f * timeline.height,
                               timeline.y + timeline.height - kLiveBlockAboveTimelineEnd - half);
        }
        const ImVec2 left(std::floor(display.x * 0.5f - width * 0.5f), std::floor(centreY));
        ImDrawList* draw = ImGui::GetWindowDrawList();
        // A card of its own hides whatever the lanes draw under the text.
        const ImVec2 card0(left.x - padX, left.y - half), card1(left.x + width + padX, left.y + half);
        draw->AddRectFilled(card0, card1, WithAlpha(gTheme.cardBg, static_cast<int>(a * 240.0f)), 6.0f);
        state.liveBlockRect[0] = card0.x;
        state.liveBlockRect[1] = card0.y;
        state.liveBlockRect[2] = card1.x;
        state.liveBlockRect[3] = card1.y;
        DrawSpinner(draw, ImVec2(left.x + kSpinnerRadius, left.y), kSpinnerRadius, color);
        draw->AddText(ImVec2(left.x + 2 * kSpinnerRadius + gap, std::floor(left.y - size.y * 0.5f)), color,
                      text.c_str());
    }
    ImGui::End();
    state.liveBlockDrawn = true;
}

// ---------------------------------------------------------------------------
// DumpJobProtocol
// ---------------------------------------------------------------------------

void DumpJobProtocol(StateDump& dump) {
    const AppState& app = gAppState;
    const BusyTask& task = app.busyTask;
    const ImGuiIO& io = ImGui::GetIO();
    dump.Field("busy", task.busy.load());
    dump.Field("busy.status", BusyStatusText(task));
    dump.Field("busy.full", task.immediate);
    dump.Field("busy.threadStarted", task.threadStarted);
    dump.Field("busy.eventsDone", int(app.renderEventsDone.load()));
    dump.Field("busy.eventsTotal", int(app.renderEventsTotal.load()));
    dump.Field("busy.done", task.done.load());
    dump.Field("busy.progress", static_cast<double>(task.progress.load()));
    dump.Field("busy.frozenFrame", app.frozenFrameTexture != nullptr);
    dump.Field("busy.overlay", gJobFrame.overlayDrawn);
    dump.Field("busy.overlayAlpha", static_cast<double>(gJobFrame.overlayAlpha));
    const float* c = gJobFrame.cancelRect;
    char rect[96];
    std::snprintf(rect, sizeof rect, "%.1f,%.1f,%.1f,%.1f", c[0], c[1], c[2], c[3]);
    dump.Field("busy.cancelRect", std::string(rect));
    dump.Field("busy.liveBlock", gJobFrame.liveBlockDrawn);
    const float* b = gJobFrame.liveBlockRect;
    std::snprintf(rect, sizeof rect, "%.1f,%.1f,%.1f,%.1f", b[0], b[1], b[2], b[3]);
    dump.Field("busy.liveBlockRect", std::string(rect));
    dump.Field("busy.tasksFinished", gJobFrame.tasksFinished);
    int keysDown = 0;
    for (bool down : io.KeysDown) keysDown += down ? 1 : 0;
    dump.Field("keys.down", keysDown);
    dump.Field("gui.activeItem", ImGui::GetActiveID() != 0);
}
