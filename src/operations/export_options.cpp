// export_options.cpp — the export tab's options as an edit of the project.
//
// Index
//   SetExportSettings
#include "operations/export_options.h"

#include "export/export_settings.h"
#include "operations/app_state.h"

bool SetExportSettings(const DocumentContext& ctx, const ExportSettings& edited) {
    AppState& app = *ctx.app;
    if (app.exportSettings == edited) return false;
    app.exportSettings = edited;
    app.modified = true;
    return true;
}
