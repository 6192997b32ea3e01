// The update check: version comparison, what a manifest does to the stored
// result and the save request, the hand-over to the UI thread, and the
// thread's start and stop (a fake hook, or HttpGet on a loopback server).
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "app/update_check.h"
#include "operations/app_state.h"
#include "platform/http_client.h"
#include "support/loopback_http.h"

namespace {

// The fake hook answers with these (plain function pointers cannot capture).
int gStatus = 200;
std::string gBody;
HttpResponse FakeGet(const char*) {
    HttpResponse r;
    r.status = gStatus;
    r.body = gBody;
    return r;
}

std::string Manifest(const std::string& releases, const std::string& extra = "") {
    return "{\"schemaVersion\":1," + extra + "\"releases\":[" + releases + "]}";
}

std::string Release(const std::string& version, const std::string& platform = "linux",
                    const std::string& url = "https://example.com/download") {
    return "{\"version\":\"" + version + "\",\"date\":\"2026-09-01\",\"notes\":[\"Faster\",3,\"Fixes\"],\"files\":{\"" +
           platform + "\":{\"url\":\"" + url + "\"}}}";
}

struct Checked {
    bool saveRequested = false;
    std::string log;  // standard error
};

// Runs one check on this thread and takes its result as the main loop would.
Checked RunCheck(AppState& app, int status, const std::string& body) {
    gStatus = status;
    gBody = body;
    testing::internal::CaptureStderr();
    CheckForUpdates(app, FakeGet, "https://updates.invalid/manifest.json");
    Checked c;
    c.log = testing::internal::GetCapturedStderr();
    c.saveRequested = app.savePrefsRequest.exchange(false);
    TakeUpdateCheckResult(app);
    return c;
}

void StoreResult(AppState& app) {
    app.updateAvailable = true;
    app.updateAvailableVersion = "2026.7";
    app.updateAvailablePageUrl = "https://old";
    app.updateAvailableNotes = {"old"};
}

}  // namespace

TEST(UpdateCheck, VersionsCompareByNumericComponents) {
    EXPECT_EQ(CompareVersions("2026.8", "2026.8.0"), 0);
    EXPECT_EQ(CompareVersions("2026.10", "2026.9"), 1);
    EXPECT_EQ(CompareVersions("2026.8", "2027"), -1);
    EXPECT_EQ(CompareVersions("", "0.0"), 0);
    EXPECT_EQ(CompareVersions("2026.8-beta", "2026.8"), 0) << "a component ends at its first non-digit";
    EXPECT_EQ(CompareVersions("2026.8rc1.1", "2026.8.0"), 1);
    // Long components saturate instead of wrapping around.
    EXPECT_EQ(CompareVersions("2026.99999999999999999999999", "2026.18446744073709551615"), 0);
    EXPECT_EQ(CompareVersions("2026.99999999999999999999999", "2026.9"), 1);
}

TEST(UpdateCheck, ANewerReleaseForThisPlatformBecomesTheResult) {
    auto app = std::make_unique<AppState>();
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    Checked c = RunCheck(*app, 200,
                         "  \n" + Manifest(Release("2026.9", "windows", "https://w") + "," + Release("2026.9.1") + "," +
                                           Release("2026.9.1", "linux", "https://second") + "," +
                                           Release("2027", "linux", "file:///etc/passwd"),
                                           "\"changelogUrl\":\"https://example.com/changes\","));
    EXPECT_TRUE(c.saveRequested);
    EXPECT_EQ(c.log, "");
    EXPECT_TRUE(app->updateAvailable);
    EXPECT_EQ(app->updateAvailableVersion, "2027");
    EXPECT_EQ(app->updateAvailablePageUrl, "https://example.com/changes") << "a file:// page is replaced";
    EXPECT_EQ(app->updateAvailableDate, "2026-09-01");
    EXPECT_EQ(app->updateAvailableNotes, (std::vector<std::string>{"Faster", "Fixes"}));
    EXPECT_GE(app->lastUpdateCheck, before);

    // Among equal versions the first wins; a bad page without a changelog is dropped.
    c = RunCheck(*app, 200, Manifest(Release("2026.9", "linux", "https://first") + "," +
                                     Release("2026.9.0", "linux", "https://second")));
    EXPECT_EQ(app->updateAvailablePageUrl, "https://first");
    c = RunCheck(*app, 200, Manifest(Release("2026.9", "linux", "javascript:alert(1)")));
    EXPECT_TRUE(app->updateAvailable);
    EXPECT_EQ(app->updateAvailablePageUrl, "");
}

TEST(UpdateCheck, OnlyTheOwnVersionClearsTheResultAndAsksASave) {
    auto app = std::make_unique<AppState>();
    StoreResult(*app);
    Checked c = RunCheck(*app, 200, Manifest(Release("2026.8")));
    EXPECT_TRUE(c.saveRequested);
    EXPECT_FALSE(app->updateAvailable);
    EXPECT_EQ(app->updateAvailableVersion, "");
    EXPECT_TRUE(app->updateAvailableNotes.empty());

    StoreResult(*app);
    c = RunCheck(*app, 200, Manifest(Release("2026.9", "windows") + "," + Release("2026.9", "macos")));
    EXPECT_TRUE(c.saveRequested);
    EXPECT_FALSE(app->updateAvailable);
    EXPECT_EQ(c.log, "[Update] no release found for platform \"linux\".\n");
}

TEST(UpdateCheck, RefusedOrUnreadableManifestsChangeOnlyTheCheckTime) {
    auto app = std::make_unique<AppState>();
    StoreResult(*app);
    struct Case {
        int status;
        std::string body;
        std::string log;
    } cases[] = {
        {200, "{\"schemaVersion\":2,\"releases\":[" + Release("2030") + "]}",
         "[Update] manifest schemaVersion 2 > supported 1 \xE2\x80\x94 skipping.\n"},
        {200, "{\"schemaVersion\":1e300,\"releases\":[]}",
         "[Update] manifest schemaVersion 2147483647 > supported 1 \xE2\x80\x94 skipping.\n"},
        {200, "{\"schemaVersion\":\"1\",\"releases\":[]}", "[Update] manifest missing schemaVersion \xE2\x80\x94 skipping.\n"},
        {200, "{\"schemaVersion\":1,\"releases\":[" + Release("2030"), ""},  // cut short
        {200, "[" + Release("2030") + "]", ""},
        {200, Manifest(""), ""},
        {404, Manifest(Release("2030")), ""},
        {200, "", ""},
    };
    for (const Case& k : cases) {
        app->lastUpdateCheck = 0;
        Checked c = RunCheck(*app, k.status, k.body);
        EXPECT_EQ(c.log, k.log) << k.body;
        EXPECT_FALSE(c.saveRequested) << k.body;
        EXPECT_GT(app->lastUpdateCheck, 0) << k.body;
        EXPECT_TRUE(app->updateAvailable) << k.body;
        EXPECT_EQ(app->updateAvailableVersion, "2026.7") << k.body;
    }
}

TEST(UpdateCheck, ADayMustPassUnlessTheClockWentBack) {
    auto app = std::make_unique<AppState>();
    app->lastUpdateCheck = 1000000;
    EXPECT_FALSE(UpdateCheckDue(*app, 1000000 + 86399));
    EXPECT_TRUE(UpdateCheckDue(*app, 1000000 + 86400));
    EXPECT_TRUE(UpdateCheckDue(*app, 999000)) << "a check time in the future";
    app->updateCheckEnabled = false;
    EXPECT_FALSE(UpdateCheckDue(*app, 1000000 + 86400 * 10));
}

TEST(UpdateCheck, WithoutAHookOrAnAddressNothingStarts) {
    auto app = std::make_unique<AppState>();
    EXPECT_FALSE(StartUpdateCheck(*app, nullptr, "https://updates.invalid/m.json"));
    EXPECT_FALSE(app->updateCheckStarted.load()) << "the check stays startable";
    EXPECT_FALSE(StartUpdateCheck(*app, FakeGet, ""));
    EXPECT_FALSE(app->updateCheckStarted.load());
    EXPECT_FALSE(app->updateCheck.thread.joinable());
}

namespace {

std::atomic<bool> gReleaseHook{false};
std::atomic<int> gHookCalls{0};
HttpResponse BlockingGet(const char*) {
    ++gHookCalls;
    while (!gReleaseHook.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    HttpResponse r;
    r.status = 200;
    r.body = Manifest(Release("2026.9"));
    return r;
}

}  // namespace

TEST(UpdateCheck, OneCheckAtATimeHandedOverBeforeItEnds) {
    auto app = std::make_unique<AppState>();
    gReleaseHook = false;
    gHookCalls = 0;
    ASSERT_TRUE(StartUpdateCheck(*app, BlockingGet, "https://updates.invalid/m.json"));
    EXPECT_FALSE(StartUpdateCheck(*app, BlockingGet, "https://updates.invalid/m.json")) << "one runs already";
    EXPECT_FALSE(TakeUpdateCheckResult(*app));
    gReleaseHook = true;
    while (app->updateCheckStarted.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The flag is cleared last: by now the outcome and the request are there.
    EXPECT_TRUE(app->savePrefsRequest.load());
    EXPECT_TRUE(TakeUpdateCheckResult(*app));
    EXPECT_EQ(app->updateAvailableVersion, "2026.9");
    EXPECT_EQ(gHookCalls.load(), 1);

    ASSERT_TRUE(StartUpdateCheck(*app, BlockingGet, "https://updates.invalid/m.json")) << "startable again";
    StopUpdateCheck(*app);
    EXPECT_EQ(gHookCalls.load(), 2);
}

TEST(UpdateCheck, EndToEndOverHttpAndAQuitDuringAStalledCheck) {
    const std::string manifest = Manifest(Release("2026.10", "linux", "https://example.com/2026.10"));
    LoopbackHttpServer server([&](const std::string& request) {
        if (request.find("GET /stall ") == 0) return HttpReply::Silent();
        return HttpReply::Plain(200, manifest);
    });
    ASSERT_TRUE(server.ok());
    auto app = std::make_unique<AppState>();
    ASSERT_TRUE(StartUpdateCheck(*app, HttpGet, server.Url("/manifest.json")));
    while (app->updateCheckStarted.load()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_TRUE(TakeUpdateCheckResult(*app));
    EXPECT_EQ(app->updateAvailableVersion, "2026.10");
    EXPECT_EQ(app->updateAvailablePageUrl, "https://example.com/2026.10");
    EXPECT_NE(server.Requests().at(0).find("User-Agent: Tessaloom/1.0"), std::string::npos);

    // The program quits while the server says nothing: the transfer is
    // aborted and the thread joined, and nothing is handed over. The request
    // has no idle timer here, so only the abort can end it (a stop that
    // waited for the server would hang the test).
    app->lastUpdateCheck = 0;
    const HttpGetFn patient = [](const char* url) { return HttpRequest(url, nullptr, 5000, 0); };
    ASSERT_TRUE(StartUpdateCheck(*app, patient, server.Url("/stall")));
    while (server.RequestCount() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    StopUpdateCheck(*app);
    EXPECT_FALSE(app->updateCheckStarted.load());
    EXPECT_FALSE(TakeUpdateCheckResult(*app));
    EXPECT_EQ(app->lastUpdateCheck, 0);
}
