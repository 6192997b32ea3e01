// user_folders.cpp — the per-user folders, from the environment.
//
// Index
//   AppDataDir
#include "persistence/user_folders.h"

#include <cstdlib>

namespace {

// The variable's value, or empty when it is unset or empty.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string AppDataDir() {
    // The variables of the original platform come first, so a user who sets
    // them gets the same layout on every system.
    std::string appData = Environment("APPDATA");
    if (!appData.empty()) return appData + "/Tessaloom";
    std::string profile = Environment("USERPROFILE");
    if (!profile.empty()) return profile + "/AppData/Roaming/Tessaloom";
    std::string xdgData = Environment("XDG_DATA_HOME");
    if (!xdgData.empty()) return xdgData + "/Tessaloom";
    std::string home = Environment("HOME");
    if (!home.empty()) return home + "/.local/share/Tessaloom";
    return std::string();
}
