// recent_projects.h — the list of recently opened and saved projects.
//
// Index
//   kMaxRecentProjects    the list's length
//   IsStorableRecentPath  whether a path may enter the list (and the preferences)
//   RecentProjectsAdd     put a path at the front
//
// The list lives in AppState::recentProjects, newest first; the preferences
// keep it as "recentProject" lines. UI thread only.
#pragma once

#include <string_view>

struct AppState;

constexpr int kMaxRecentProjects = 10;

// Not empty, holds a '/' or '\\' (a bare file name says nothing about where
// the project is), and no byte below 32 other than tab (such a byte would
// break the line it is stored on). Bytes of 128 and above are accepted.
bool IsStorableRecentPath(std::string_view path);

// Ignores a path that is not storable. Otherwise removes every entry equal to
// it, inserts it at the front, keeps the newest kMaxRecentProjects and sets
// `recentMenuDirty`.
void RecentProjectsAdd(AppState& app, std::string_view path);
