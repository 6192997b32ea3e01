// library_frame.cpp — the library work the interface runs every frame.
//
// Index
//   LeavingDocument
//   ProbeUnknownSoundValues
#include "app/library_frame.h"

#include "app/command_ids.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "operations/app_state.h"
#include "render/clip_bed_events.h"

namespace {

// The designer is leaving the document: a quit (asking, or waiting for an
// export), a signal, or a New, an Open or a Close parked until a task ends.
bool LeavingDocument(const AppState& app) {
    const int parked = app.pendingCommand.load();
    return app.quitRequested || app.quitAfterExport || app.confirmAction != 0 || app.shuttingDown ||
           app.terminationSignal != 0 || parked == kCommandNew || parked == kCommandOpen || parked == kCommandClose;
}

}  // namespace

void ProbeUnknownSoundValues() {
    if (!gBackgroundWorkerStops.stopLibraryAnalysis)
        gBackgroundWorkerStops.stopLibraryAnalysis = [] { StopSoundProbe(gSoundProbe); };
    // Nor while the designer leaves the document: weights handed over then
    // would rebuild every voice of a document that goes (a quit during a
    // large project's voice build waited for all of them).
    const bool documentBusy = !DocumentMayChange(gAppState) || LeavingDocument(gAppState);
    if (ProbeUnknownSoundValues(gSoundProbe, gProject, gSoundLibrary, documentBusy, ClockSeconds(gAppState.clock))) {
        // A weight moves its layers' gain and pan, and a Bed rebuilt to its
        // layer list gains and loses layers: the rebuild's job (on the
        // worker, never holding up a frame) brings the layers in line with
        // the weights and the voices with the layers, before playback or an
        // export reads them. The playhead stays where it is. Weights that
        // change no result (a project not rendered yet, a weight as it was)
        // ask for nothing.
        if (!ProbedWeightsApplied(gProject)) gAppState.deferredRebuild.store(true);
    }
}
