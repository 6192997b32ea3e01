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
#include "support/fake_clock.h"

LifecycleRig::LifecycleRig() {
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
    FakeInterfaceClock clock;
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
