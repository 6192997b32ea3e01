// user_folders.h — where the user's data lives.
//
// Index
//   AppDataDir   the per-user application-data folder (library index files, preferences)
#pragma once

#include <string>

// APPDATA + "/Tessaloom" when APPDATA is set; else USERPROFILE +
// "/AppData/Roaming/Tessaloom"; else $XDG_DATA_HOME (or HOME +
// "/.local/share") + "/Tessaloom"; empty when none of these variables is set.
// The folder is not created here.
std::string AppDataDir();
