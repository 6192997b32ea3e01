// lifecycle_rig.h — a private document, library, engine and application state
// for the project lifecycle tests, with the small project files they open,
// save and recover.
//
// Index
//   LifecycleRig          the four records on the heap, a folder, a context, counters, the
//                         observer whose fileFault the saves meet
//   SpotDocument          a document of N Spot events with a recognisable setting
//   WriteSound / SoundDocument   noise files, and a document with a layer of each
//   EventCountIn / StoredLayerPaths   what a written project file holds
//   WriteProjectAt        a document written as a project file, with chosen file settings
//   DeadProcessId / LiveCopy   process ids for crash locks
//   FinishBusyTask        run a queued busy task to its end as the frame loop does
//   SettleBusyTask        the same on a test clock: the full bar does not linger
//   FakeDialogs           the dialog hooks, answering what the test set
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/project_lifecycle.h"
#include "persistence/project_file.h"
#include "playback/audio_engine.h"
#include "support/document_records.h"
#include "support/temp_dir.h"

struct LifecycleRig : DocumentRecords {
    TempDir dir;
    int preferencesSaved = 0;
    int quits = 0;
    LifecycleContext ctx;
    // The app state's: a test fails or holds the saves' files through its
    // fileFault (a save takes it when it starts).
    JobObserver observer;

    LifecycleRig();
    ~LifecycleRig();
    std::string File(const std::string& name) const { return dir.File(name); }
};

// `events` Spot events one second apart; the scale type marks which document it is.
Project SpotDocument(int events, int scaleType = 0);

// A short noise WAV (its folders made), different for each seed.
std::string WriteSound(const std::string& path, double seconds = 0.2, unsigned seed = 1);

// One Spot per sound, each with a layer of it (ids from the registry, as a
// library gives them); with `bounced`, a Clip whose bounce source pins the
// first sound, as a bounce keeps the events it was made from.
Project SoundDocument(const std::vector<std::string>& sounds, bool bounced = false);

int EventCountIn(const std::string& projectFile);
// The "filepath" of every layer, in file order.
std::vector<std::string> StoredLayerPaths(const std::string& projectFile);

// Writes `doc` to `path` as a project file; `fill` may set the file's other
// settings first (work area, gains, rate, ...).
bool WriteProjectAt(const std::string& path, const Project& doc,
                    const std::function<void(ProjectSaveContext&)>& fill = nullptr);

// The id of a process that has ended and been reaped.
int DeadProcessId();

// A child process of this test (so the same program) that lives until destroyed.
class LiveCopy {
public:
    LiveCopy();
    ~LiveCopy();
    LiveCopy(const LiveCopy&) = delete;
    LiveCopy& operator=(const LiveCopy&) = delete;
    int pid() const { return pid_; }

private:
    int pid_ = -1;
};

// Writes "pid=<pid>\n" as the crash lock of `projectPath`.
bool WriteLockOf(const std::string& projectPath, int pid);

// Pumps a queued busy task until it has finished and been joined.
bool FinishBusyTask(AppState& app);
// The same under a FakeInterfaceClock moved on a second per pump, so a task
// that is done is finished at once (not for a test that has a clock of its own).
bool SettleBusyTask(AppState& app);

// The dialog hooks are plain function pointers: their answers and the titles
// they were asked with live here.
struct FakeDialogs {
    static std::string openAnswer;
    static std::string saveAnswer;
    static std::vector<std::string> titles;
    static std::string Open(const char* title, const char* extension);
    static std::string Save(const char* title, const char* extension);
    static void Install(AppState& app);  // also clears answers and titles
};
