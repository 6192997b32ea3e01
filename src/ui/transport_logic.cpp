// transport_logic.cpp — the rules behind the fixed bands' buttons and texts.
//
// Index
//   Render button      RenderButtonFor, PostRenderClick
//   Lock button        CountLockedEvents, UnlockAllEvents, LockButtonTooltip
//   Trim and meters    TrimGainAfterDrag, GainDbText, MeterFillColor
//   Texts              shape buttons, video caption, footer counts
//   Easing             EaseHighlight, ExportBarFill, ChooseExportLine
#include "ui/transport_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "document/busy_task.h"
#include "document/event.h"
#include "document/named_message.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/event_edits.h"
#include "operations/render_requests.h"
#include "ui/widget_logic.h"

// ---------------------------------------------------------------------------
// Render button
// ---------------------------------------------------------------------------

RenderButtonState RenderButtonFor(int eventCount, int lockedCount, bool libraryLoaded, bool exportRunning) {
    RenderButtonState s;
    s.label = libraryLoaded ? "Render" : "Add Sounds";
    const bool allLocked = eventCount > 0 && lockedCount >= eventCount;
    s.enabled = eventCount > 0 && !allLocked && libraryLoaded && !exportRunning;
    if (!libraryLoaded)
        s.tooltip = "No sounds loaded \xE2\x80\x94 scan a folder in Library";
    else if (allLocked)
        s.tooltip = "All events are locked \xE2\x80\x94 unlock to render";
    else if (lockedCount > 0)
        s.tooltip = "Render all unlocked events\nRight-click: unlock all + Re-Render";
    else
        s.tooltip = "Render all events\nRight-click: full Re-Render";
    return s;
}

bool PostRenderClick(const DocumentContext& ctx, bool libraryLoaded, bool fullRerender) {
    AppState& app = *ctx.app;
    const Project& project = *ctx.project;
    const RenderButtonState state = RenderButtonFor(static_cast<int>(project.events.size()),
                                                    CountLockedEvents(project), libraryLoaded,
                                                    app.exportRunning.load());
    if (!state.enabled || app.busyTask.busy.load()) return false;
    // The right click unlocks every event and replaces every result: the
    // snapshot brings both back in one Undo, as it does for the left click.
    return RequestRenderEdit(ctx, fullRerender ? 2 : 1);
}

// ---------------------------------------------------------------------------
// Lock button
// ---------------------------------------------------------------------------

int CountLockedEvents(const Project& project) {
    return static_cast<int>(std::count_if(project.events.begin(), project.events.end(),
                                          [](const Event& e) { return e.locked; }));
}

std::string LockButtonTooltip(int lockedCount) {
    if (lockedCount <= 0) return "All events unlocked";
    char text[48];
    std::snprintf(text, sizeof text, "Unlock all (%d locked)", lockedCount);
    return text;
}

// ---------------------------------------------------------------------------
// Trim and meters
// ---------------------------------------------------------------------------

float TrimGainAfterDrag(float gain, float deltaPoints) {
    if (!std::isfinite(gain)) gain = kTrimResetGain;
    if (!std::isfinite(deltaPoints)) deltaPoints = 0;
    return std::clamp(gain + kTrimGainPerPoint * deltaPoints, 0.0f, kTrimMaxGain);
}

std::string GainDbText(float gain) {
    const double db = gain >= 0.001f ? 20.0 * std::log10(static_cast<double>(gain)) : -60.0;
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dB", db);
    return text;
}

uint32_t MeterFillColor(float fill, uint32_t normal, uint32_t warning, uint32_t clip) {
    if (fill > 0.9f) return clip;
    if (fill > 0.7f) return warning;
    return normal;
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

std::string ShapeButtonLabel(const char* icon, int shape) {
    char text[96];
    std::snprintf(text, sizeof text, "%s  %s##shp%d", icon ? icon : "", EventShapeName(shape), shape);
    return text;
}

std::string ShapeButtonTooltip(int shape) {
    char text[96];
    std::snprintf(text, sizeof text, "Add %s event at playhead [%d]", EventShapeName(shape), shape + 1);
    return text;
}

std::string VideoCaptionText(int width, int height, float fps, float duration) {
    char text[96];
    std::snprintf(text, sizeof text, "%dx%d  %.1ffps  %.1fs", width, height, static_cast<double>(fps),
                  static_cast<double>(duration));
    return text;
}

std::string FooterCountsText(int eventCount, int sampleRate, float fps) {
    char text[96];
    std::snprintf(text, sizeof text, "%d events   %d kHz   %.0f fps", eventCount, sampleRate / 1000,
                  static_cast<double>(fps));
    return text;
}

// ---------------------------------------------------------------------------
// Easing
// ---------------------------------------------------------------------------

bool EaseHighlight(float& value, float target, float deltaSeconds) {
    // The tab labels' easing: one rate and one settling rule for every eased look.
    bool moving = false;
    value = EaseTabReveal(value, target, deltaSeconds, &moving);
    return moving;
}

float ExportBarFill(float progress) {
    if (!std::isfinite(progress)) return 0;
    return std::clamp(progress, 0.0f, 1.0f) * kExportBarWidth;
}

ExportLineChoice ChooseExportLine(const std::vector<std::string>& lines, float room, float barRoom,
                                  const std::function<float(const std::string&)>& width) {
    if (lines.empty()) return {};
    if (barRoom > 0)
        for (const std::string& line : lines)
            if (width(line) <= room - barRoom) return {line, true, true};
    for (const std::string& line : lines)
        if (width(line) <= room) return {line, false, true};
    return {ShortenedMessage(lines.back(), [&](const std::string& text) { return width(text) <= room; }), false,
            false};
}
