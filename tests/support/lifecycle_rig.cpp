// lifecycle_rig.cpp — the lifecycle tests' records, files and processes.
#include "support/lifecycle_rig.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <system_error>
#include <cstdio>
#include <thread>

#include "document/busy_task.h"
#include "document/event.h"
#include "library/file_registry.h"
#include "persistence/json_value.h"
#include "support/audio_fixtures.h"
#include "support/fake_clock.h"

LifecycleRig::LifecycleRig() {
    app->observer = &observer;
    ctx = MakeLifecycleContext(*project, *library, *engine, *app);
    ctx.savePreferences = [this] { ++preferencesSaved; };
    ctx.quit = [this] { ++quits; };
}

LifecycleRig::~LifecycleRig() {
    StopProjectSaveWorker(*app);
    FinishBusyTask(*app);
    library->scanRunning.exchange(0);
    if (library->scanThread.joinable()) library->scanThread.join();
}

Project SpotDocument(int events, int scaleType) {
    Project doc;
    doc.scaleType = scaleType;
    for (int i = 0; i < events; ++i) AddEvent(doc, 1.0f + static_cast<float>(i), kShapeSpot, 0.5f);
    return doc;
}

std::string WriteSound(const std::string& path, double seconds, unsigned seed) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.seed = seed;
    spec.seconds = seconds;
    WriteTestAudio(path, spec);
    return path;
}

Project SoundDocument(const std::vector<std::string>& sounds, bool bounced) {
    Project doc = SpotDocument(static_cast<int>(sounds.size()));
    for (size_t i = 0; i < sounds.size(); ++i) {
        RenderResult r;
        r.eventIdx = static_cast<int32_t>(i);
        r.filepath = sounds[i];
        r.fileId = FileRegistry::Instance().FileRefForPath(sounds[i]).id;
        r.duration = r.sourceDuration = 0.2f;
        r.startTime = 1.0f + static_cast<float>(i);
        doc.results.push_back(r);
    }
    if (bounced && !sounds.empty()) {
        Event source;
        source.shape = kShapeBed;
        source.pinnedFiles = {sounds[0]};
        source.pinnedFileIds = {doc.results[0].fileId};
        Event clip;
        clip.shape = kShapeClip;
        clip.bounceSource.push_back(source);
        doc.events.push_back(clip);
    }
    return doc;
}

int EventCountIn(const std::string& projectFile) {
    return JsonArraySize(JsonGetMember(ParseJsonText(ReadWholeFile(projectFile).c_str()), "events"));
}

std::vector<std::string> StoredLayerPaths(const std::string& projectFile) {
    const JsonValue root = ParseJsonText(ReadWholeFile(projectFile).c_str());
    const JsonValue& results = JsonGetMember(root, "results");
    std::vector<std::string> paths;
    for (int i = 0; i < JsonArraySize(results); ++i)
        paths.push_back(JsonGetMember(JsonGetElement(results, i), "filepath").text);
    return paths;
}

bool WriteProjectAt(const std::string& path, const Project& doc,
                    const std::function<void(ProjectSaveContext&)>& fill) {
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    ProjectSaveContext save;
    save.project = &doc;
    if (fill) fill(save);
    return WriteProjectFile(path, save);
}

int DeadProcessId() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return static_cast<int>(child);
}

LiveCopy::LiveCopy() {
    const pid_t child = ::fork();
    if (child == 0) {
        for (;;) ::pause();
    }
    pid_ = static_cast<int>(child);
}

LiveCopy::~LiveCopy() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

bool WriteLockOf(const std::string& projectPath, int pid) {
    return WriteWholeFile(projectPath + ".lock", "pid=" + std::to_string(pid) + "\n");
}

bool FinishBusyTask(AppState& app) {
    BusyTask& task = app.busyTask;
    task.snapshotRequested = false;
    for (int i = 0; i < 20000; ++i) {
        const BusyPump pump = PumpBusyTask(task);
        if (pump == BusyPump::Finished || pump == BusyPump::Idle) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

bool SettleBusyTask(AppState& app) {
    FakeInterfaceClock clock(app.clock);
    BusyTask& task = app.busyTask;
    for (int i = 0; i < 20000; ++i) {
        task.snapshotRequested = false;  // no frame to capture a backdrop
        const BusyPump pump = PumpBusyTask(task);
        if (pump == BusyPump::Finished || pump == BusyPump::Idle) return true;
        clock.Advance(1.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::string FakeDialogs::openAnswer;
std::string FakeDialogs::saveAnswer;
std::vector<std::string> FakeDialogs::titles;

std::string FakeDialogs::Open(const char* title, const char* extension) {
    titles.push_back(std::string(title) + "|" + extension);
    return openAnswer;
}

std::string FakeDialogs::Save(const char* title, const char* extension) {
    titles.push_back(std::string(title) + "|" + extension);
    return saveAnswer;
}

void FakeDialogs::Install(AppState& app) {
    openAnswer.clear();
    saveAnswer.clear();
    titles.clear();
    app.openFileDialog = &FakeDialogs::Open;
    app.saveFileDialog = &FakeDialogs::Save;
}
