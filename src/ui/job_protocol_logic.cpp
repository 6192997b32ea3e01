// job_protocol_logic.cpp — the plain rules of the UI job protocol.
//
// Index
//   Workers              PumpExportCompletion
//   Overlay texts        BusyOverlayFade, LiveBlockText
#include "ui/job_protocol_logic.h"

#include <algorithm>
#include <cstdio>

#include "document/busy_task.h"
#include "operations/app_state.h"
#include "operations/export_job.h"

namespace {

constexpr double kExportLingerSeconds = 0.8;
constexpr double kFadeDelaySeconds = 0.2;
constexpr double kFadeSeconds = 0.3;

}  // namespace

// ---------------------------------------------------------------------------
// Workers
// ---------------------------------------------------------------------------

bool PumpExportCompletion(AppState& app, double now) {
    if (!app.exportDone.load(std::memory_order_acquire)) return false;
    JoinThreadHandle(app.exportThread);
    if (app.exportDoneTime < 0) {
        if (app.exportProgress.load() >= 0) app.exportProgress.store(1.0f);
        app.exportDoneTime = now;
    }
    if (now - app.exportDoneTime < kExportLingerSeconds) return false;
    app.exportDoneTime = -1;
    FinishExport(app);  // clears the running state, runs the completion once
    return true;
}

// ---------------------------------------------------------------------------
// Overlay texts
// ---------------------------------------------------------------------------

float BusyOverlayFade(double now, double startedAt) {
    const double t = now - startedAt;
    if (!(t >= kFadeDelaySeconds)) return 0.0f;
    return static_cast<float>(std::clamp((t - kFadeDelaySeconds) / kFadeSeconds, 0.0, 1.0));
}

std::string LiveBlockText(const std::string& status, int eventsDone, int eventsTotal, int clipsBuilt) {
    char text[160];
    if (eventsTotal > 0)
        std::snprintf(text, sizeof text, "%s  event %d / %d  \xC2\xB7  %d clips", status.c_str(), eventsDone,
                      eventsTotal, clipsBuilt);
    else
        std::snprintf(text, sizeof text, "%s  %d clips", status.c_str(), clipsBuilt);
    return text;
}
