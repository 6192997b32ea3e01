// missing_sources_logic.cpp — relinking the project's missing sound files.
//
// Index
//   Texts            RelinkToastText, UsedByText, LocateFilterExtension
//   Finishing        FinishRelink, RelinkAll
//   One file         TakeLocateResult, RefuseNonSoundFile, RefuseRelinkFolder, UseForcedRelink
//   Folder search    RunFolderSearch, StartFolderSearch, TakeFolderSearchResult
#include "ui/missing_sources_logic.h"

#include <cstdio>
#include <unordered_set>

#include "document/busy_task.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "library/library_scan.h"
#include "library/sound_file_open.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "platform/file_util.h"
#include "platform/path_refusal.h"
#include "ui/library_panel_logic.h"

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

std::string RelinkToastText(int count) {
    if (count < 1) return "No matching files found";
    char text[64];
    std::snprintf(text, sizeof text, "Relinked %d file%s", count, PluralSuffix(count));
    return text;
}

std::string UsedByText(const MissingFile& file) {
    const int events = static_cast<int>(file.eventCount);
    const int palettes = static_cast<int>(file.libraryCount);
    char text[96];
    if (palettes < 1)
        std::snprintf(text, sizeof text, "used by %d event%s", events, PluralSuffix(events));
    else
        std::snprintf(text, sizeof text, "used by %d event%s \xC2\xB7 %d palette%s", events, PluralSuffix(events),
                      palettes, PluralSuffix(palettes));
    return text;
}

std::string LocateFilterExtension(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot + 1 >= name.size()) return "wav";
    return std::string(name.substr(dot + 1));
}

// ---------------------------------------------------------------------------
// Finishing
// ---------------------------------------------------------------------------

namespace {

void Toast(AppState& app, const std::string& text) {
    app.toastText = text;
    app.toastTimer = kRelinkToastSeconds;
}

}  // namespace

void FinishRelink(const RelinkTargets& t, int count) {
    // The ids listed as missing are the ones the relink pointed at files:
    // their layers follow, even where another file now lies at their paths.
    std::unordered_set<FileId> relinked;
    for (const MissingFile& file : t.missing->files) relinked.insert(file.id);
    ApplyResolvedPaths(*t.project, *t.registry, &relinked);
    RefreshMissingFiles(*t.missing, *t.project, *t.library, *t.registry, t.now, true);
    // The voices play the samples they were built from; files that came back
    // are heard once the voices are built again.
    if (count >= 1 && !t.app->busyTask.busy.load() && t.rebuildVoices) t.rebuildVoices();
    Toast(*t.app, RelinkToastText(count));
    std::printf("[Library] relink: %d file%s found again\n", count, PluralSuffix(count));
}

int RelinkAll(const RelinkTargets& t) {
    const int count = RelinkAllMissing(*t.registry);
    FinishRelink(t, count);
    return count;
}

// ---------------------------------------------------------------------------
// One file
// ---------------------------------------------------------------------------

LocateStep TakeLocateResult(const RelinkTargets& t, RelinkResult result, const FileId& id, const std::string& chosen,
                            PendingForcedRelink& pending) {
    switch (result) {
        case RelinkResult::Relinked:
            FinishRelink(t, 1);
            return LocateStep::Relinked;
        case RelinkResult::ContentDiffers:
            pending.id = id;
            pending.path = chosen;
            return LocateStep::Pending;
        default: {
            // Gone or locked since it was chosen: say which.
            const std::string refusal = RegularFileProblem(chosen);
            Toast(*t.app, refusal.empty() ? std::string("Could not read the selected file") : refusal);
            return LocateStep::Unreadable;
        }
    }
}

bool RefuseNonSoundFile(AppState& app, const std::string& chosen) {
    // A folder, pipe, device or socket is named as what it is.
    const std::string refusal = RegularFileProblem(chosen);
    if (!refusal.empty()) {
        Toast(app, refusal);
        return true;
    }
    if (FileOpensAsSound(chosen)) return false;
    const size_t slash = chosen.find_last_of('/');
    Toast(app, (slash == std::string::npos ? chosen : chosen.substr(slash + 1)) +
                   " is unreadable as sound \xE2\x80\x94 not relinked");
    return true;
}

bool RefuseRelinkFolder(AppState& app, const std::string& folder) {
    const std::string refusal = FolderRefusal(folder);
    if (refusal.empty()) return false;
    Toast(app, refusal);
    return true;
}

bool UseForcedRelink(const RelinkTargets& t, PendingForcedRelink& pending) {
    if (!pending.Pending()) return false;
    if (RefuseNonSoundFile(*t.app, pending.path)) {
        pending.Clear();
        return false;
    }
    const RelinkResult result = RelinkFileForced(*t.registry, pending.id, pending.path);
    pending.Clear();
    if (result != RelinkResult::Relinked) {
        Toast(*t.app, "Could not read the selected file");
        return false;
    }
    FinishRelink(t, 1);
    return true;
}

// ---------------------------------------------------------------------------
// Folder search
// ---------------------------------------------------------------------------

void RunFolderSearch(FolderSearch& search, FileRegistry& registry, const std::string& folder) {
    const int32_t count = RelinkMissingFilesInFolder(registry, folder, IsSupportedAudioExtension);
    search.count.store(count);
    search.finished.store(true);
}

bool StartFolderSearch(FolderSearch& search, BusyTask& task, FileRegistry& registry, const std::string& folder) {
    if (search.started) return false;
    search.finished.store(false);
    search.count.store(0);
    BusyTask* taskPtr = &task;
    FolderSearch* searchPtr = &search;
    FileRegistry* registryPtr = &registry;
    const bool queued = StartBusyTask(
        task, "Searching folder...",
        [taskPtr, searchPtr, registryPtr, folder] {
            RunFolderSearch(*searchPtr, *registryPtr, folder);
            taskPtr->done.store(true);
        },
        false, -1.0f);
    search.started = queued;
    return queued;
}

bool TakeFolderSearchResult(FolderSearch& search, const BusyTask& task, int& count) {
    if (!search.started || task.busy.load()) return false;
    search.started = false;
    // A task that ended without handing over (its job never ran) found nothing to finish.
    if (!search.finished.load()) return false;
    search.finished.store(false);
    count = search.count.load();
    return true;
}
