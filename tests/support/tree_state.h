// tree_state.h — everything below a folder as it stands, links not followed,
// for tests that must show a folder was not changed at all.
//
// Index
//   TreeState       every entry's kind, mode and content (a file's bytes, a link's target)
//   TreeDifference  two folders compared the same way, files read a piece at a time
#pragma once

#include <map>
#include <string>

// Every entry below `root` by its path relative to it: "file <mode> <bytes>",
// "folder <mode>", "link -> <target>" or "other <mode>" (mode in octal,
// permission bits). Links are listed, never followed; hidden entries are
// included. Empty when `root` is missing.
std::map<std::string, std::string> TreeState(const std::string& root);

// The first difference between the trees below `a` and `b` as TreeState
// would show it (an entry only one holds, another kind, mode, link target or
// file content), or "" when they are the same. Files are compared a piece at
// a time, so folders of gigabytes cost no memory.
std::string TreeDifference(const std::string& a, const std::string& b);
