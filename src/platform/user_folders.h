// user_folders.h — where the user's data lives, and where the program lies.
//
// Index
//   AppDataDir           the per-user application-data folder (library index files, preferences)
//   PreferencesFilePath  the preferences file inside it (its folder is created)
//   DocumentsDir         the per-user documents folder
//   RecipesDir / ChainsDir / BouncesDir   its subfolders (only the bounces folder is created)
//   ExecutableDirUtf8    the running executable's folder
//
// Every path uses '/' only. The environment is read on every call, so a
// change of HOME (tests, a relaunch) takes effect at once. An empty result
// means the folder cannot be determined; callers then read and write nothing.
#pragma once

#include <string>

// APPDATA + "/Tessaloom" when APPDATA is set; else USERPROFILE +
// "/AppData/Roaming/Tessaloom"; else $XDG_DATA_HOME + "/Tessaloom" when that
// is an absolute path; else HOME + "/.local/share/Tessaloom"; empty when none
// of these applies. The folder is not created here.
std::string AppDataDir();

// AppDataDir() + "/com.tessaloom.prefs"; the folder is created with its
// parents (a failure is ignored: the write fails later and says nothing).
// Empty when AppDataDir() is.
std::string PreferencesFilePath();

// USERPROFILE + "/Documents/Tessaloom"; else HOME + "/Documents/Tessaloom";
// empty when neither is set. Not created here.
std::string DocumentsDir();

// DocumentsDir() + "/Recipes", "/Chains", "/Bounces"; empty with it. Only
// the bounces folder is created (with its parents; a failure is ignored).
std::string RecipesDir();
std::string ChainsDir();
std::string BouncesDir();

// The folder of /proc/self/exe (the link read whole, however long), up to
// its last '/'; the whole path when it holds none; empty when the link
// cannot be read. The shell stores it in AppState::exeDir at start-up.
std::string ExecutableDirUtf8();
