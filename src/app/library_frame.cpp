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
#include "render/clip_bed_events.h"

void ProbeUnknownSoundValues() {
    if (!gBackgroundWorkerStops.stopLibraryAnalysis)
        gBackgroundWorkerStops.stopLibraryAnalysis = [] { StopSoundProbe(gSoundProbe); };
    const bool documentBusy = !DocumentMayChange(gAppState);
    if (ProbeUnknownSoundValues(gSoundProbe, gProject, gSoundLibrary, documentBusy, InterfaceClock()))
        ApplyProbedWeights(gProject);
}
