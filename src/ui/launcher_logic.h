// launcher_logic.h — what the launcher card shows and does, without the GUI.
//
// Index
//   PathTextCache               texts by project path: FNV-1a 64 of the path bytes, path compared in full
//   FormatProjectDate           "%b %d, %Y  %H:%M" in local time, English month names
//   ProjectFileDateText         the cached date of a project file (first read kept)
//   ReadProjectDescriptionFile  "projectDescription" of a project file, "" when none
//   ProjectDescriptionCache     descriptions read on a worker, shown when ready
//   LauncherActions / ProgramLauncherActions   what its buttons call (tests give their own;
//                               the program's in launcher_actions.cpp)
//   CloseLauncher / LauncherClickRow / LauncherNewProject / LauncherOpenFile /
//   SetShowOnStartup            the card's actions
//
// Both caches live for the process: a date or a description edited while
// the program runs shows after a restart. UI thread, except the description
// worker, which reads files only and hands its texts over under a mutex.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

struct AppState;

// ---------------------------------------------------------------------------
// Caches
// ---------------------------------------------------------------------------

class PathTextCache {
public:
    // Null when the path has no entry.
    const std::string* Find(const std::string& path) const;
    // Stores (or replaces) the path's text and returns the stored copy.
    const std::string& Put(const std::string& path, std::string text);
    size_t Size() const { return size_; }

private:
    std::unordered_map<uint64_t, std::vector<std::pair<std::string, std::string>>> buckets_;
    size_t size_ = 0;
};

uint64_t LauncherPathHash(const std::string& path);

// At most 63 bytes. Month names are English whatever the environment's
// locale says.
std::string FormatProjectDate(std::time_t time);

// The file's last-write time in local time; the entry stays empty when the
// time cannot be read. The first answer for a path is kept.
const std::string& ProjectFileDateText(const std::string& path);
const std::string& ProjectFileDateText(PathTextCache& cache, const std::string& path);

// Reads the whole file and parses it leniently; the top-level object's
// string member "projectDescription", else "".
std::string ReadProjectDescriptionFile(const std::string& path);

// Descriptions of large projects take long to read: the first request for a
// path queues it for a worker thread and gets "" until the text is in. The
// worker ends when the queue is empty; the next request starts another.
class ProjectDescriptionCache {
public:
    ProjectDescriptionCache() = default;
    ~ProjectDescriptionCache();
    ProjectDescriptionCache(const ProjectDescriptionCache&) = delete;
    ProjectDescriptionCache& operator=(const ProjectDescriptionCache&) = delete;

    // The description, or "" while it is read (`pending` then true).
    std::string Get(const std::string& path, bool* pending = nullptr);
    // True while paths wait or are being read.
    bool Busy() const;
    // Waits until every queued path is read (tests and benchmarks).
    void WaitIdle();
    // Stops the worker after the file in hand and joins it.
    void Stop();

private:
    void Run();

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    PathTextCache texts_;
    std::deque<std::string> queue_;
    std::vector<std::string> queued_;  // queued or being read
    std::thread worker_;
    bool running_ = false;
    std::atomic<bool> stop_{false};
};

// The program's caches.
extern PathTextCache gProjectDateCache;
extern ProjectDescriptionCache gProjectDescriptions;
// The program's description of a recent project ("" until it is read).
std::string ReadProjectDescription(const std::string& path);

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

// What a launcher action came to: the card closes unless it says otherwise.
enum class LauncherOutcome { Close, StayOpen };

struct LauncherActions {
    // A recent project's row: opened, or the unsaved-changes prompt raised
    // in its place; a file that cannot be read leaves the recent list with
    // its toast, and the card stays.
    std::function<LauncherOutcome(const std::string& path)> openRecent;
    std::function<LauncherOutcome()> newProject;
    std::function<LauncherOutcome()> openFile;  // the open dialog, then the project
    std::function<void()> savePreferences;
};

// The project commands over the program's document (project_commands.h):
// each replaces the document only through the unsaved-changes prompt when
// it holds unsaved events, and is refused while an export runs.
LauncherActions ProgramLauncherActions();

// showLauncher cleared, launcherDismissed set: the start-up card is shown once.
void CloseLauncher(AppState& app);
void LauncherClickRow(AppState& app, const LauncherActions& actions, const std::string& path);
void LauncherNewProject(AppState& app, const LauncherActions& actions);
void LauncherOpenFile(AppState& app, const LauncherActions& actions);
// "Don't show on startup" shows the inverse; the change is saved at once.
void SetShowOnStartup(AppState& app, const LauncherActions& actions, bool show);
