// launcher_logic.cpp — the launcher's caches and actions.
//
// Index
//   PathTextCache / LauncherPathHash
//   Dates                FormatProjectDate, ProjectFileDateText
//   Descriptions         ReadProjectDescriptionFile, ProjectDescriptionCache
//   Actions              the card's actions
#include "ui/launcher_logic.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "operations/app_state.h"
#include "persistence/json_value.h"
#include "platform/file_util.h"
#include "render/processed_clip_cache.h"

PathTextCache gProjectDateCache;
ProjectDescriptionCache gProjectDescriptions;

// ---------------------------------------------------------------------------
// PathTextCache
// ---------------------------------------------------------------------------

uint64_t LauncherPathHash(const std::string& path) { return HashProcessedClipKey(path); }

const std::string* PathTextCache::Find(const std::string& path) const {
    const auto it = buckets_.find(LauncherPathHash(path));
    if (it == buckets_.end()) return nullptr;
    for (const auto& [key, text] : it->second)
        if (key == path) return &text;
    return nullptr;
}

const std::string& PathTextCache::Put(const std::string& path, std::string text) {
    auto& bucket = buckets_[LauncherPathHash(path)];
    for (auto& [key, stored] : bucket)
        if (key == path) return stored = std::move(text);
    ++size_;
    return bucket.emplace_back(path, std::move(text)).second;
}

// ---------------------------------------------------------------------------
// Dates
// ---------------------------------------------------------------------------

std::string FormatProjectDate(std::time_t time) {
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{};
    if (!localtime_r(&time, &local) || local.tm_mon < 0 || local.tm_mon > 11) return "";
    char text[64];
    std::snprintf(text, sizeof text, "%s %02d, %d  %02d:%02d", kMonths[local.tm_mon], local.tm_mday,
                  local.tm_year + 1900, local.tm_hour, local.tm_min);
    return text;
}

const std::string& ProjectFileDateText(PathTextCache& cache, const std::string& path) {
    if (const std::string* found = cache.Find(path)) return *found;
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return cache.Put(path, "");
    return cache.Put(path, FormatProjectDate(info.st_mtime));
}

const std::string& ProjectFileDateText(const std::string& path) { return ProjectFileDateText(gProjectDateCache, path); }

// ---------------------------------------------------------------------------
// Descriptions
// ---------------------------------------------------------------------------

std::string ReadProjectDescriptionFile(const std::string& path) {
    std::string text;
    // Projects hold their events and layers, not their audio: a gigabyte is
    // no project file.
    if (ReadFileText(path, uint64_t(1) << 30, text) != kReadOk) return "";
    const JsonValue root = ParseJsonText(text.c_str());
    if (root.type != kJsonObject) return "";
    for (const JsonMember& m : root.members)
        if (m.key == "projectDescription") return m.value.type == kJsonString ? m.value.text : std::string();
    return "";
}

ProjectDescriptionCache::~ProjectDescriptionCache() { Stop(); }

std::string ProjectDescriptionCache::Get(const std::string& path, bool* pending) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const std::string* found = texts_.Find(path)) {
        if (pending) *pending = false;
        return *found;
    }
    if (pending) *pending = true;
    if (std::find(queued_.begin(), queued_.end(), path) != queued_.end()) return "";
    queue_.push_back(path);
    queued_.push_back(path);
    if (!running_) {
        // The last worker has finished its queue (or none ran): join it first.
        if (worker_.joinable()) worker_.join();
        stop_ = false;
        running_ = true;
        worker_ = std::thread([this] { Run(); });
    }
    return "";
}

void ProjectDescriptionCache::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!queue_.empty() && !stop_.load()) {
        const std::string path = queue_.front();
        queue_.pop_front();
        lock.unlock();
        std::string text = ReadProjectDescriptionFile(path);
        lock.lock();
        texts_.Put(path, std::move(text));
        queued_.erase(std::remove(queued_.begin(), queued_.end(), path), queued_.end());
    }
    running_ = false;
    idle_.notify_all();
}

bool ProjectDescriptionCache::Busy() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_ || !queue_.empty();
}

void ProjectDescriptionCache::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return !running_; });
}

void ProjectDescriptionCache::Stop() {
    stop_ = true;
    std::thread worker;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        worker.swap(worker_);
        queue_.clear();
        queued_.clear();
    }
    if (worker.joinable()) worker.join();
}

std::string ReadProjectDescription(const std::string& path) { return gProjectDescriptions.Get(path); }

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

void CloseLauncher(AppState& app) {
    app.showLauncher = false;
    app.launcherDismissed = true;
}

void LauncherClickRow(AppState& app, const LauncherActions& actions, const std::string& path) {
    if (actions.openRecent && actions.openRecent(path) == LauncherOutcome::Close) CloseLauncher(app);
}

void LauncherNewProject(AppState& app, const LauncherActions& actions) {
    if (actions.newProject && actions.newProject() == LauncherOutcome::Close) CloseLauncher(app);
}

void LauncherOpenFile(AppState& app, const LauncherActions& actions) {
    if (actions.openFile && actions.openFile() == LauncherOutcome::Close) CloseLauncher(app);
}

void SetShowOnStartup(AppState& app, const LauncherActions& actions, bool show) {
    if (app.showLauncherOnStartup == show) return;
    app.showLauncherOnStartup = show;
    if (actions.savePreferences) actions.savePreferences();
}
