// document_context.h — what one document operation works on: the document,
// the sound library, the playback engine and the application state.
//
// Index
//   PostPass             the passes that run after a render, in their order
//   JobObserver          optional callbacks and holds for tests (null in the program)
//   DocumentContext      the four objects plus the interface settings a job reads
//   MakeDocumentContext  a context over given objects, settings taken from the app state
//   ProgramDocumentContext  the program's own document, library, engine and state
//
// The render job and the voice routines take a context instead of reaching
// for the process-wide objects, so tests run them on private objects (the
// engine and the app state on the heap). A job copies its context when it is
// queued, on the interface thread: the settings below are read then, so the
// worker never reads fields the interface keeps writing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/file_fault.h"

struct AppState;
struct AudioEngine;
struct ExportHold;
struct WorkPace;
struct WriteFault;
struct Project;
struct SoundLibrary;
struct RenderSeeds;

enum class PostPass { ProtectSilence, Deconflict, Density, DestructiveEq, AssignTracks };

// Starts `body` on a new thread stored in `slot`; throws std::system_error
// when no thread can be made.
using TraceThreadLauncher = void (*)(std::thread& slot, std::function<void()> body);

struct JobObserver {
    // After each event a full render has rendered, once the live voices of
    // its layers are installed; eventsDone counts it.
    std::function<void(int eventIndex, int eventsDone)> eventRendered;
    // Before each post pass runs.
    std::function<void(PostPass pass)> postPass;
    // Voice builds finish one by one in the reverse of the order they were
    // asked for, as a race between build threads may finish them.
    bool reverseVoiceBuilds = false;
    // Not 0: the builds are taken in an order shuffled from this seed, on
    // every core, as the threads' race may take them.
    uint32_t shuffleVoiceBuilds = 0;
    // After each voice a build on every core has installed, on the thread
    // that built it (several threads may call it at once).
    std::function<void()> voiceBuilt;
    // The seeds of each event's pass in a full render (empty: the clock's),
    // so that a test renders the same layers twice.
    std::function<RenderSeeds(int eventIndex)> renderSeeds;

    // A test's holds on long jobs, so that it can look or act while the job
    // certainly still runs (null: never held). A full render starts each
    // event only once renderPace lets it; the busy task's voice build
    // (RebuildCacheAsyncJob) builds each voice only once voiceBuildPace lets
    // it (work_pace.h); an export waits part-way through a pass at
    // exportHold (export_records.h); every file an export writes meets
    // writeFault, a full disk (write_fault.h). The holds belong to whoever set the
    // observer and must outlive every job that was given it.
    WorkPace* renderPace = nullptr;
    WorkPace* voiceBuildPace = nullptr;
    ExportHold* exportHold = nullptr;
    WriteFault* writeFault = nullptr;
    // Asked at every write, move and open of the files a save, an autosave
    // or a recovery backup writes (the project file, its copied audio, the
    // backups' rotation) and of those an export makes in the folders it
    // holds (file_fault.h).
    FileFaultHook fileFault = nullptr;
    // Told of each step of an export's commit as it is about to be taken
    // (export_commit.h), on the export thread; null in the program.
    std::function<void(const std::string& step)> commitStep;
    // Starts the picture trace's worker instead of a plain thread (a walk
    // that waits for the test, or a launch that fails); null: std::thread.
    TraceThreadLauncher traceLauncher = nullptr;
};

struct DocumentContext {
    Project* project = nullptr;
    const SoundLibrary* library = nullptr;
    AudioEngine* engine = nullptr;
    AppState* app = nullptr;  // busy task, progress counters, rebuild flag, export flag

    // Interface settings as they were when the context was made.
    int sampleRate = 48000;  // the project sample rate voices are built at
    float currentTime = 0;   // where playback resumes after the job
    bool protectSilence = true;
    bool destructiveEQ = false;

    const JobObserver* observer = nullptr;  // the app state's (AppState::observer)
};

DocumentContext MakeDocumentContext(Project& project, const SoundLibrary& library,
                                    AudioEngine& engine, AppState& app);

// gProject, gSoundLibrary, gAudioEngine and gAppState. Call it on the
// interface thread.
DocumentContext ProgramDocumentContext();
