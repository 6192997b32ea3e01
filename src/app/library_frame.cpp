// library_frame.cpp — the library work the interface runs every frame.
//
// Index
//   ProbeUnknownSoundValues
#include "app/library_frame.h"

#include "document/busy_task.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "operations/app_state.h"

void ProbeUnknownSoundValues() {
    if (!gBackgroundWorkerStops.stopLibraryAnalysis)
        gBackgroundWorkerStops.stopLibraryAnalysis = [] { StopSoundProbe(gSoundProbe); };
    const bool documentBusy = !DocumentMayChange(gAppState);
    if (ProbeUnknownSoundValues(gSoundProbe, gProject, gSoundLibrary, documentBusy, InterfaceClock())) {
        // A weight moves its layers' gain and pan, and a Bed rebuilt to its
        // layer list gains and loses layers: the rebuild's job (on the
        // worker, never holding up a frame) brings the layers in line with
        // the weights and the voices with the layers, before playback or an
        // export reads them. The playhead stays where it is.
        gAppState.deferredRebuild.store(true);
    }
}
