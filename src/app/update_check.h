// update_check.h — looking up, at most once a day or on request, whether a
// newer release exists.
//
// Index
//   kUpdatePlatformKey     "linux": the manifest's download entry for this system
//   (UpdateCheckOutcome and UpdateCheckWorker, what a check found and its
//   thread, are records of the application state: operations/update_worker.h)
//   UpdateManifestUrl      the manifest's address: build setting or environment
//   UpdateCheckPossible    an address and the HTTP hook: a check could ask at all
//   CompareVersions        dotted version texts, -1 / 0 / 1
//   UpdateCheckDue         a day has passed since the last check
//   StartUpdateCheck       start one check unless one runs
//   CheckForUpdates        the thread's body
//   TakeUpdateCheckResult  UI thread: copy a finished check into the AppState
//   StopUpdateCheck        abort the transfer and join the thread
//   DumpUpdateCheckFields  the result, for the test driver's dump
//
// The check fetches the manifest through the HTTP GET hook, picks the newest
// release with a "linux" entry and compares it with the program's version.
// The thread writes nothing the UI reads: it publishes its outcome under a
// small mutex, and the main loop copies it into the AppState before it saves
// the preferences (TakeUpdateCheckResult, then the save request). The thread
// stays joinable; shutdown aborts its transfer and joins it. Log lines
// "[Update] ..." go to standard error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "operations/update_worker.h"

struct AppState;
struct HttpResponse;
struct StateDump;
using HttpGetFn = HttpResponse (*)(const char* url);

inline constexpr const char kUpdatePlatformKey[] = "linux";

// The environment variable TL_UPDATE_MANIFEST_URL when it is set (also when
// empty), else the build setting of the same name. "" turns the check off.
std::string UpdateManifestUrl();

// The program has a manifest address and the HTTP GET hook. Without either no
// check can run, automatic or on request: the settings panel then says the
// checks are off instead of claiming a result it never asked for.
bool UpdateCheckPossible();

// Components end at "." (a non-digit ends the number; the rest of the
// component is ignored); a missing component is 0; values saturate.
int CompareVersions(std::string_view a, std::string_view b);

// Checks are on and a day has passed since the last one (or the last one
// lies in the future: the clock was set back).
bool UpdateCheckDue(const AppState& app, int64_t now);

// UI thread. Starts one check unless one runs. With no hook or no manifest
// address it leaves the check startable and starts nothing. True when a
// thread started.
bool StartUpdateCheck();
bool StartUpdateCheck(AppState& app, HttpGetFn hook, const std::string& manifestUrl);

// The thread's body; tests run it directly.
void CheckForUpdates(AppState& app, HttpGetFn hook, const std::string& manifestUrl);

// UI thread: copies a published outcome into the AppState (lastUpdateCheck
// and, when it changed, the update result). True when there was one.
bool TakeUpdateCheckResult(AppState& app);

// Aborts a running check's transfer and joins its thread; a check can be
// started again afterwards.
void StopUpdateCheck(AppState& app);

// "update.available", "update.version", "update.page", "update.lastCheck".
void DumpUpdateCheckFields(StateDump& dump);
