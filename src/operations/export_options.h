// export_options.h — the export tab's options as an edit of the project.
//
// Index
//   SetExportSettings   store the options the panel drew, marking the project unsaved
//
// The options are saved with the project (and the preferences), so a change
// marks the project unsaved like any other saved change: closing asks, and
// auto-save and the recovery backup see it. They take no undo step: the
// history is for the design, and an export option is not part of it. An
// export already running works from its own copy (MakeExportJob), so the
// options may change while it runs. Interface thread.
#pragma once

#include "operations/document_context.h"

struct ExportSettings;

// Stores `edited` as the project's export options when it differs from
// them. True when something changed.
bool SetExportSettings(const DocumentContext& ctx, const ExportSettings& edited);
