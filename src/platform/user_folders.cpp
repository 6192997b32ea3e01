// user_folders.cpp — the per-user folders, from the environment.
//
// Index
//   Environment / CreateFolder   helpers
//   AppDataDir / PreferencesFilePath
//   DocumentsDir / RecipesDir / ChainsDir / BouncesDir
//   ExecutableDirUtf8
#include "platform/user_folders.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

// The variable's value, or empty when it is unset or empty.
std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

void CreateFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
}

std::string DocumentsSubfolder(const char* name) {
    std::string documents = DocumentsDir();
    return documents.empty() ? std::string() : documents + name;
}

}  // namespace

std::string AppDataDir() {
    // The variables of the original platform come first, so a user who sets
    // them gets the same layout on every system.
    std::string appData = Environment("APPDATA");
    if (!appData.empty()) return appData + "/Tessaloom";
    std::string profile = Environment("USERPROFILE");
    if (!profile.empty()) return profile + "/AppData/Roaming/Tessaloom";
    // The XDG rule: a relative XDG_DATA_HOME is invalid and is ignored.
    std::string xdgData = Environment("XDG_DATA_HOME");
    if (!xdgData.empty() && xdgData[0] == '/') return xdgData + "/Tessaloom";
    std::string home = Environment("HOME");
    if (!home.empty()) return home + "/.local/share/Tessaloom";
    return std::string();
}

std::string PreferencesFilePath() {
    // Follows AppDataDir whenever that is known, so preferences persist with
    // only USERPROFILE (or only HOME) set.
    std::string folder = AppDataDir();
    if (folder.empty()) return std::string();
    CreateFolder(folder);
    return folder + "/com.tessaloom.prefs";
}

std::string DocumentsDir() {
    std::string profile = Environment("USERPROFILE");
    if (!profile.empty()) return profile + "/Documents/Tessaloom";
    std::string home = Environment("HOME");
    if (!home.empty()) return home + "/Documents/Tessaloom";
    return std::string();
}

std::string RecipesDir() { return DocumentsSubfolder("/Recipes"); }

std::string ChainsDir() { return DocumentsSubfolder("/Chains"); }

std::string BouncesDir() {
    std::string folder = DocumentsSubfolder("/Bounces");
    if (!folder.empty()) CreateFolder(folder);
    return folder;
}

std::string ExecutableDirUtf8() {
    // readlink does not say how long the target is: grow until it fits.
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return std::string();
        if (static_cast<size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<size_t>(n));
            size_t slash = path.rfind('/');
            return slash == std::string::npos ? path : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}
