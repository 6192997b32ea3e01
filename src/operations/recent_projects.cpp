// recent_projects.cpp — the recent projects list.
//
// Index
//   IsStorableRecentPath
//   RecentProjectsAdd
#include "operations/recent_projects.h"

#include <algorithm>
#include <string>

#include "operations/app_state.h"

bool IsStorableRecentPath(std::string_view path) {
    if (path.empty() || path.find_first_of("/\\") == std::string_view::npos) return false;
    return std::none_of(path.begin(), path.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 32 && byte != '\t';
    });
}

void RecentProjectsAdd(AppState& app, std::string_view path) {
    if (!IsStorableRecentPath(path)) return;
    std::vector<std::string>& list = app.recentProjects;
    list.erase(std::remove(list.begin(), list.end(), path), list.end());
    list.insert(list.begin(), std::string(path));
    if (list.size() > static_cast<size_t>(kMaxRecentProjects)) list.resize(kMaxRecentProjects);
    app.recentMenuDirty = true;
}
