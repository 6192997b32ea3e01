// tree_state.h — everything below a folder as it stands, links not followed,
// for tests that must show a folder was not changed at all.
//
// Index
//   TreeState        every entry's kind, mode and content (a file's bytes, a link's target)
//   TreeDigest       the same with a file's size and a digest of its bytes instead of
//                    the bytes, for folders of gigabytes
//   FirstDifference  where two states differ, told briefly
//   PlantFile / PlantSocket   entries a test sets in a folder before the program meets them
#pragma once

#include <map>
#include <string>

// Every entry below `root` by its path relative to it: "file <mode> <bytes>",
// "folder <mode>", "link -> <target>" or "other <mode>" (mode in octal,
// permission bits). Links are listed, never followed; hidden entries are
// included. Empty when `root` is missing.
std::map<std::string, std::string> TreeState(const std::string& root);

// As TreeState, a file's entry being "file <mode> <size> <digest>": the
// bytes are read a piece at a time and digested (64 bits), never held.
std::map<std::string, std::string> TreeDigest(const std::string& root);

// "" when `a` and `b` (two TreeState or TreeDigest results) are the same,
// else the first path whose entry differs or that only one of them holds.
std::string FirstDifference(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b);

// `bytes` at `path`, the folders it needs made first; with a `mode`, those
// permission bits. A failure fails the test.
void PlantFile(const std::string& path, const std::string& bytes, int mode = -1);

// A socket bound at `path` and closed at once: the entry stays. False when
// the path is too long for a socket's address or the bind fails.
bool PlantSocket(const std::string& path);
