// demo_content.h — installing the demo libraries and projects for a new user.
//
// Index
//   kDemoMarkerName      the marker file in the documents folder
//   CopyDirectoryTree    copy the entries of a folder that the target lacks
//   InstallDemoContent   copy "DemoContent" beside the program into the documents folder
//
// The demo content lies in executable folder + "/DemoContent", with the
// subfolders "Recipes", "Chains", "Projects" and "Libraries" (any may be
// absent). It is installed once per user, and again on request; a user's
// own changes to installed files are never overwritten. UI thread only.
#pragma once

#include <string>
#include <system_error>

struct PreferenceTargets;

constexpr const char* kDemoMarkerName = ".demo_version";

// For each entry directly inside `source`, in name order: skipped when
// target/<name> exists (whatever its kind or content); otherwise a folder is
// copied with everything below it and anything else as one file. `target` is
// created with its parents. Nothing happens when `source` is not a folder.
// The first failure is reported through `error` (cleared at the start); it
// does not stop the loop.
void CopyDirectoryTree(const std::string& source, const std::string& target, std::error_code& error);

// Does nothing when the program's folder (targets.app.exeDir) or
// DocumentsDir() is unknown, when there is no DemoContent folder, or, unless
// `force`, when the documents folder holds the marker. Otherwise copies the
// four subfolders, queues every demo library folder that is not a library
// or queued already, fills an empty recent list with the demo projects
// (a folder Projects/<Name> counts when it holds <Name>.tlproj), writes the
// marker ("installed\n") and saves the preferences. Copy failures are
// ignored: the marker is written anyway and the settings button retries.
void InstallDemoContent(bool force, PreferenceTargets& targets);
void InstallDemoContent(bool force);  // the program's globals
