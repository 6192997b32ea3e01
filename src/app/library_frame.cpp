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
#include "operations/voice_sync.h"
#include "render/clip_bed_events.h"

void ProbeUnknownSoundValues() {
    if (!gBackgroundWorkerStops.stopLibraryAnalysis)
        gBackgroundWorkerStops.stopLibraryAnalysis = [] { StopSoundProbe(gSoundProbe); };
    const bool documentBusy = !DocumentMayChange(gAppState);
    if (ProbeUnknownSoundValues(gSoundProbe, gProject, gSoundLibrary, documentBusy, InterfaceClock())) {
        // A weight moves its layers' gain and pan, and a Bed rebuilt to its
        // layer list gains and loses layers: the voices follow at once, or
        // playback and the next export would hold layers the document no
        // longer has. The playhead stays where it is.
        if (ApplyProbedWeights(gProject) && gProject.rendered) SyncVoicesWithResults(ProgramDocumentContext(), false);
    }
}
