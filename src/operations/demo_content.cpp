// demo_content.cpp — copying the demo content into the documents folder.
//
// Index
//   SortedEntries / IsDirectory   folder listing in name order
//   CopyDirectoryTree
//   InstallDemoContent            copy, queue libraries, list projects, mark, save
#include "operations/demo_content.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "library/library_folders.h"
#include "operations/app_state.h"
#include "operations/preferences.h"
#include "operations/recent_projects.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"

namespace fs = std::filesystem;

namespace {

bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec) && !ec;
}

// The entries directly inside `folder`, by name, so that every system copies
// and lists them in the same order.
std::vector<fs::directory_entry> SortedEntries(const std::string& folder, std::error_code& error) {
    std::vector<fs::directory_entry> entries;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) entries.push_back(*it);
    if (ec && !error) error = ec;
    std::sort(entries.begin(), entries.end(), [](const fs::directory_entry& a, const fs::directory_entry& b) {
        return a.path().filename().string() < b.path().filename().string();
    });
    return entries;
}

void Remember(std::error_code& error, const std::error_code& ec) {
    if (ec && !error) error = ec;
}

}  // namespace

void CopyDirectoryTree(const std::string& source, const std::string& target, std::error_code& error) {
    error.clear();
    if (!IsDirectory(source)) return;
    std::error_code ec;
    fs::create_directories(target, ec);
    Remember(error, ec);
    for (const fs::directory_entry& entry : SortedEntries(source, error)) {
        const fs::path destination = fs::path(target) / entry.path().filename();
        // An entry the user already has stays as it is, changed or not.
        if (fs::exists(fs::symlink_status(destination, ec))) continue;
        ec.clear();
        if (entry.is_directory(ec)) {
            fs::copy(entry.path(), destination, fs::copy_options::recursive, ec);
        } else {
            fs::copy_file(entry.path(), destination, fs::copy_options::none, ec);
        }
        Remember(error, ec);
    }
}

void InstallDemoContent(bool force, PreferenceTargets& targets) {
    AppState& app = targets.app;
    if (app.exeDir.empty()) return;
    const std::string demo = app.exeDir + "/DemoContent";
    if (!IsDirectory(demo)) return;
    const std::string documents = DocumentsDir();
    if (documents.empty()) return;
    const std::string marker = documents + "/" + kDemoMarkerName;
    std::error_code ec;
    if (!force && fs::exists(marker, ec)) return;

    int failures = 0;
    for (const char* sub : {"/Recipes", "/Chains", "/Projects", "/Libraries"}) {
        CopyDirectoryTree(demo + sub, documents + sub, ec);
        if (ec) ++failures;
    }

    const std::string libraries = documents + "/Libraries";
    const int queued = IsDirectory(libraries) ? QueueLibrarySubfolders(targets.library, libraries) : 0;

    const std::string projects = documents + "/Projects";
    if (app.recentProjects.empty() && IsDirectory(projects)) {
        std::error_code listError;
        for (const fs::directory_entry& entry : SortedEntries(projects, listError)) {
            std::error_code typeError;
            if (!entry.is_directory(typeError)) continue;
            const std::string name = entry.path().filename().string();
            const std::string file = entry.path().string() + "/" + name + ".tlproj";
            if (fs::is_regular_file(file, typeError)) RecentProjectsAdd(app, file);
        }
    }

    fs::create_directories(documents, ec);
    WriteTextFileAtomic(marker, "installed\n");
    std::printf("[Demo] Demo content installed into %s (%d libraries queued, %d copy failures)\n",
                documents.c_str(), queued, failures);
    SavePreferences(targets);
}

void InstallDemoContent(bool force) {
    PreferenceTargets targets = GlobalPreferenceTargets();
    InstallDemoContent(force, targets);
}
