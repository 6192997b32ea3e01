// program_work.cpp — ProgramStillWorking.
#include "support/program_work.h"

#include <mutex>

#include "document/project.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "operations/app_state.h"

bool ProgramStillWorking() {
    bool scanHandedOver = false;
    {
        std::lock_guard<std::mutex> lock(gSoundLibrary.scanMutex);
        scanHandedOver = !gSoundLibrary.finishedScans.empty();
    }
    return scanHandedOver || gAppState.busyTask.busy.load() || gAppState.deferredRebuild.load() ||
           gAppState.bedRebuild.load() ||
           !gAppState.pendingOpenPath.empty() || gSoundLibrary.scanRunning.load() != 0 ||
           !gSoundLibrary.libraryAddQueue.empty() || !gSoundLibrary.pendingFolders.empty() ||
           SoundProbeHasWork(gSoundProbe, gProject, gSoundLibrary);
}
