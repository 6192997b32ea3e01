// update_check.cpp — the update check's thread, the manifest reading and
// the hand-over to the UI thread.
//
// Index
//   UpdateManifestUrl / CompareVersions / UpdateCheckDue
//   Manifest              ReadManifest: the release to offer, or why none
//   Hand-over             Publish, TakeUpdateCheckResult
//   Thread                StartUpdateCheck, CheckForUpdates, StopUpdateCheck
//   DumpUpdateCheckFields
#include "app/update_check.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <system_error>

#include "app/platform_hooks.h"
#include "app/test_driver.h"
#include "document/version.h"
#include "operations/app_state.h"
#include "persistence/json_value.h"
#include "platform/http_client.h"

#ifndef TL_UPDATE_MANIFEST_URL
#define TL_UPDATE_MANIFEST_URL ""
#endif

std::string UpdateManifestUrl() {
    if (const char* env = std::getenv("TL_UPDATE_MANIFEST_URL")) return env;
    return TL_UPDATE_MANIFEST_URL;
}

int CompareVersions(std::string_view a, std::string_view b) {
    // One component: its leading digits as a number (saturating), the rest
    // up to the next "." skipped.
    auto next = [](std::string_view& text) {
        uint64_t value = 0;
        size_t i = 0;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
            value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
        }
        while (i < text.size() && text[i] != '.') ++i;
        text.remove_prefix(i < text.size() ? i + 1 : i);
        return value;
    };
    while (!a.empty() || !b.empty()) {
        uint64_t x = next(a), y = next(b);
        if (x < y) return -1;
        if (x > y) return 1;
    }
    return 0;
}

bool UpdateCheckDue(const AppState& app, int64_t now) {
    if (!app.updateCheckEnabled) return false;
    return now - app.lastUpdateCheck >= 86400 || app.lastUpdateCheck > now;
}

// ---------------------------------------------------------------------------
// Manifest
// ---------------------------------------------------------------------------

namespace {

void Log(const char* text) {
    std::fputs(text, stderr);
    std::fflush(stderr);
}

const ManifestJsonValue* Member(const ManifestJsonValue& v, const char* key, int32_t type) {
    const ManifestJsonValue* m = ManifestJsonMember(v, key);
    return m && m->type == type ? m : nullptr;
}

// The page reaches the browser: only a web address is kept.
bool IsWebAddress(const std::string& text) {
    auto startsWith = [&text](const char* prefix) {
        size_t n = std::char_traits<char>::length(prefix);
        if (text.size() <= n) return false;
        for (size_t i = 0; i < n; ++i)
            if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
        return true;
    };
    return startsWith("https://") || startsWith("http://");
}

int ClampToInt(double value) {
    if (!(value > INT_MIN)) return INT_MIN;  // NaN too
    if (value >= INT_MAX) return INT_MAX;
    return static_cast<int>(value);
}

// Fills `outcome` from the manifest; true when the stored result is to be
// replaced and the preferences saved, false for the silent stops.
bool ReadManifest(const HttpResponse& response, UpdateCheckOutcome& outcome) {
    if (response.status < 200 || response.status > 299 || !response.error.empty() || response.body.empty())
        return false;
    size_t start = 0;
    while (start < response.body.size() && std::isspace(static_cast<unsigned char>(response.body[start]))) ++start;
    ManifestJsonValue root;
    if (!ParseManifestJsonText(response.body.data() + start, response.body.size() - start, root)) return false;

    const ManifestJsonValue* schema = Member(root, "schemaVersion", kJsonNumber);
    if (!schema) {
        Log("[Update] manifest missing schemaVersion \xE2\x80\x94 skipping.\n");
        return false;
    }
    const int schemaVersion = ClampToInt(schema->number);
    if (schemaVersion >= 2) {
        char line[128];
        std::snprintf(line, sizeof line, "[Update] manifest schemaVersion %d > supported %d \xE2\x80\x94 skipping.\n",
                      schemaVersion, 1);
        Log(line);
        return false;
    }
    const ManifestJsonValue* changelog = Member(root, "changelogUrl", kJsonString);
    const ManifestJsonValue* releases = Member(root, "releases", kJsonArray);
    if (!releases || releases->elements.empty()) return false;

    const ManifestJsonValue* best = nullptr;
    const ManifestJsonValue* bestEntry = nullptr;
    const ManifestJsonValue* bestVersion = nullptr;
    for (const ManifestJsonValue& release : releases->elements) {
        if (release.type != kJsonObject) continue;
        const ManifestJsonValue* version = Member(release, "version", kJsonString);
        const ManifestJsonValue* files = Member(release, "files", kJsonObject);
        const ManifestJsonValue* entry = files ? Member(*files, kUpdatePlatformKey, kJsonObject) : nullptr;
        if (!version || !entry) continue;
        // Among equal versions the first wins.
        if (!best || CompareVersions(version->text, bestVersion->text) == 1) {
            best = &release;
            bestEntry = entry;
            bestVersion = version;
        }
    }

    outcome.resultChanged = true;
    if (!best) {
        char line[128];
        std::snprintf(line, sizeof line, "[Update] no release found for platform \"%s\".\n", kUpdatePlatformKey);
        Log(line);
        return true;
    }
    if (CompareVersions(bestVersion->text, kProgramVersion) != 1) return true;

    outcome.available = true;
    outcome.version = bestVersion->text;
    const ManifestJsonValue* url = Member(*bestEntry, "url", kJsonString);
    if (url && IsWebAddress(url->text))
        outcome.pageUrl = url->text;
    else if (changelog && IsWebAddress(changelog->text))
        outcome.pageUrl = changelog->text;
    if (const ManifestJsonValue* date = Member(*best, "date", kJsonString)) outcome.date = date->text;
    if (const ManifestJsonValue* notes = Member(*best, "notes", kJsonArray))
        for (const ManifestJsonValue& note : notes->elements)
            if (note.type == kJsonString) outcome.notes.push_back(note.text);
    return true;
}

// ---------------------------------------------------------------------------
// Hand-over
// ---------------------------------------------------------------------------

void Publish(UpdateCheckWorker& worker, UpdateCheckOutcome outcome) {
    std::lock_guard<std::mutex> lock(worker.mutex);
    worker.outcome = std::move(outcome);
    worker.published.store(true);
}

}  // namespace

bool TakeUpdateCheckResult(AppState& app) {
    UpdateCheckWorker& worker = app.updateCheck;
    if (!worker.published.load()) return false;
    UpdateCheckOutcome outcome;
    {
        std::lock_guard<std::mutex> lock(worker.mutex);
        outcome = std::move(worker.outcome);
        worker.outcome = UpdateCheckOutcome{};
        worker.published.store(false);
    }
    app.lastUpdateCheck = outcome.checkedAt;
    if (outcome.resultChanged) {
        app.updateAvailable = outcome.available;
        app.updateAvailableVersion = std::move(outcome.version);
        app.updateAvailablePageUrl = std::move(outcome.pageUrl);
        app.updateAvailableDate = std::move(outcome.date);
        app.updateAvailableNotes = std::move(outcome.notes);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Thread
// ---------------------------------------------------------------------------

void CheckForUpdates(AppState& app, HttpGetFn hook, const std::string& manifestUrl) {
    UpdateCheckWorker& worker = app.updateCheck;
    HttpResponse response;
    if (hook) {
        HttpCancelScope scope(worker.stop);
        response = hook(manifestUrl.c_str());
    }
    // Why a check came to nothing, in the log only ("Request cancelled" when
    // the program quit during it).
    if (!response.error.empty()) {
        std::printf("[Update] check ended: %s\n", response.error.c_str());
        std::fflush(stdout);
    }
    // An aborted check (the program is quitting) leaves everything as it was.
    if (!worker.stop.load()) {
        UpdateCheckOutcome outcome;
        outcome.checkedAt = static_cast<int64_t>(std::time(nullptr));
        const bool save = ReadManifest(response, outcome);
        Publish(worker, std::move(outcome));
        if (save) app.savePrefsRequest.store(true);
    }
    // Last: a new check may start only once this one has handed over.
    app.updateCheckStarted.store(false);
}

bool UpdateCheckPossible() { return gHttpGetHook != nullptr && !UpdateManifestUrl().empty(); }

bool StartUpdateCheck() { return StartUpdateCheck(gAppState, gHttpGetHook, UpdateManifestUrl()); }

bool StartUpdateCheck(AppState& app, HttpGetFn hook, const std::string& manifestUrl) {
    bool expected = false;
    if (!app.updateCheckStarted.compare_exchange_strong(expected, true)) return false;
    if (!hook || manifestUrl.empty()) {
        app.updateCheckStarted.store(false);
        return false;
    }
    UpdateCheckWorker& worker = app.updateCheck;
    // The previous check has cleared its flag: its thread is at its end.
    if (worker.thread.joinable()) worker.thread.join();
    try {
        worker.thread = std::thread([&app, hook, manifestUrl] { CheckForUpdates(app, hook, manifestUrl); });
    } catch (const std::system_error&) {
        std::fputs("[Update] could not start the check thread.\n", stderr);
        app.updateCheckStarted.store(false);
        return false;
    }
    return true;
}

void StopUpdateCheck(AppState& app) { StopUpdateCheckWorker(app.updateCheck); }

void DumpUpdateCheckFields(StateDump& dump) {
    const AppState& app = gAppState;
    dump.Field("update.available", app.updateAvailable);
    dump.Field("update.version", app.updateAvailableVersion);
    dump.Field("update.page", app.updateAvailablePageUrl);
    dump.Field("update.lastCheck", app.lastUpdateCheck);
}
