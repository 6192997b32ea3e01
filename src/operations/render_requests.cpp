// render_requests.cpp — the render asked for as an edit, and the locks.
//
// Index
//   RequestRenderEdit
//   UnlockAllEvents
#include "operations/render_requests.h"

#include <algorithm>

#include "document/project.h"
#include "operations/app_state.h"
#include "operations/edit_steps.h"

bool RequestRenderEdit(const DocumentContext& ctx, int kind) {
    if (ctx.project->events.empty() || (kind != 1 && kind != 2) || !BeginEdit(ctx, "Render")) return false;
    ctx.app->renderRequestKind = kind;
    FinishEdit(ctx, EditReach::Document);
    return true;
}

bool UnlockAllEvents(const DocumentContext& ctx) {
    Project& project = *ctx.project;
    const bool anyLocked = std::any_of(project.events.begin(), project.events.end(), [](const Event& e) { return e.locked; });
    if (!anyLocked || !BeginEdit(ctx, "Unlock all")) return false;
    for (Event& e : project.events) e.locked = false;
    FinishEdit(ctx, EditReach::Document);
    return true;
}
