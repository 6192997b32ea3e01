// shell_checks.cpp — properties of what reaches the shell from outside: the
// update manifest as the HTTP layer hands it over, paths dropped on the
// window, and test scripts.
//
// Index
//   CheckUpdateResponse   an offer only of a newer version, only with a web page
//   CheckDropPayload      every path taken came in, sorted once
//   CheckTestScript       a script is read whole or refused with its line
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/drop_target.h"
#include "app/test_driver.h"
#include "app/update_check.h"
#include "document/version.h"
#include "fuzz_checks.h"
#include "operations/app_state.h"
#include "platform/http_client.h"

// ---- Update manifest ----------------------------------------------------------

namespace {

// The hook is a plain function: the response it hands over lives here.
thread_local HttpResponse gFuzzResponse;
HttpResponse FuzzedResponse(const char*) { return gFuzzResponse; }

// Schemes are case-insensitive ("HTTPS://" is a web address too).
bool IsWeb(std::string url) {
    for (char& c : url)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0;
}

}  // namespace

// The first byte picks the status (200 most of the time), the rest is the body.
std::string CheckUpdateResponse(const uint8_t* data, size_t size) {
    static constexpr int kStatuses[] = {200, 200, 200, 204, 299, 301, 404, 500, 0};
    gFuzzResponse = HttpResponse{};
    gFuzzResponse.status = size > 0 ? kStatuses[data[0] % (sizeof kStatuses / sizeof kStatuses[0])] : 200;
    if (size > 1) gFuzzResponse.body.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto app = std::make_unique<AppState>();
    CheckForUpdates(*app, &FuzzedResponse, "https://updates.invalid/manifest.json");
    if (app->updateCheckStarted.load()) return "the check did not hand over";
    if (!TakeUpdateCheckResult(*app)) return "the check published nothing";
    if (app->updateAvailable) {
        if (CompareVersions(app->updateAvailableVersion, kProgramVersion) != 1)
            return "an update offered that is not newer";
        if (!app->updateAvailablePageUrl.empty() && !IsWeb(app->updateAvailablePageUrl))
            return "an update page that is no web address";
    }
    // Version order: reflexive and antisymmetric on whatever texts came in.
    const std::string& body = gFuzzResponse.body;
    const std::string a = body.substr(0, body.size() / 2), b = body.substr(body.size() / 2);
    if (CompareVersions(a, a) != 0 || CompareVersions(a, b) != -CompareVersions(b, a))
        return "version comparison is not an order";
    return "";
}

// ---- Drop payload -------------------------------------------------------------

std::string CheckDropPayload(const uint8_t* data, size_t size) {
    std::vector<std::string> paths;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            paths.push_back(current);
            current.clear();
        } else {
            current.push_back(char(data[i]));
        }
    }
    paths.push_back(current);
    const DropSort sort = SortDroppedPaths(paths);
    auto came = [&paths](const std::string& p) {
        for (const std::string& q : paths)
            if (q == p) return true;
        return false;
    };
    size_t taken = sort.folders.size() + sort.audioFiles.size();
    if (!sort.videoPath.empty()) {
        if (!came(sort.videoPath) || !IsDropVideoExtension(DropExtension(sort.videoPath)))
            return "a video taken that was not dropped as one";
        ++taken;
    }
    for (const std::string& f : sort.audioFiles)
        if (!came(f) || !IsDropAudioExtension(DropExtension(f))) return "a sound taken that was not dropped as one";
    for (const std::string& f : sort.folders)
        if (!came(f)) return "a folder taken that was not dropped";
    if (sort.accepted != (taken > 0)) return "the drop's acceptance does not match what was taken";
    if (sort.folders.size() + sort.audioFiles.size() > paths.size()) return "more paths taken than dropped";
    return "";
}

// ---- Test scripts -------------------------------------------------------------

std::string CheckTestScript(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<ScriptStep> steps;
    std::string error;
    const bool ok = ParseTestScript(text, "/fuzz/scripts", steps, error);
    if (ok != error.empty()) return "the result and the error disagree";
    if (!ok && error.rfind("line ", 0) != 0) return "an error that names no line";
    int lines = 1;
    for (char c : text) lines += c == '\n';
    for (const ScriptStep& step : steps)
        if (step.line < 1 || step.line > lines) return "a step from a line the script does not have";
    return "";
}
