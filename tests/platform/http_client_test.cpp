// The HTTP client against a server of the test's own on 127.0.0.1: status
// codes, bodies, timeouts, the POST header, refused addresses and the body cap.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/http_client.h"
#include "support/loopback_http.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

TEST(HttpClient, AnyStatusIsAResponseWithItsBody) {
    LoopbackHttpServer server([](const std::string& request) {
        if (request.find("GET /missing ") == 0) return HttpReply::Plain(404, "no such page", "text/plain");
        return HttpReply::Plain(200, "{\"ok\":true}");
    });
    ASSERT_TRUE(server.ok());
    HttpResponse missing = HttpGet(server.Url("/missing").c_str());
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "no such page");
    EXPECT_EQ(missing.error, "");

    HttpResponse found = HttpGet(server.Url("/manifest.json?x=1").c_str());
    EXPECT_EQ(found.status, 200);
    EXPECT_EQ(found.body, "{\"ok\":true}");
    ASSERT_EQ(server.RequestCount(), 2);
    const std::string get = server.Requests()[1];
    EXPECT_EQ(get.find("GET /manifest.json?x=1 HTTP/1.1\r\n"), 0u) << "the query is part of the request path";
    EXPECT_NE(get.find("User-Agent: Tessaloom/1.0\r\n"), std::string::npos) << get;
}

TEST(HttpClient, AChunkedBodyArrivesWholeAndInOrder) {
    const std::vector<std::string> chunks = {"{\"releases\":", "[1,", "2,3]", "}"};
    LoopbackHttpServer server([&](const std::string&) { return HttpReply::Chunked(200, chunks, 20); });
    HttpResponse r = HttpGet(server.Url("/").c_str());
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "{\"releases\":[1,2,3]}");
    EXPECT_EQ(r.error, "");
}

TEST(HttpClient, PostSendsItsBodyAsJson) {
    LoopbackHttpServer server([](const std::string&) { return HttpReply::Plain(201, "made"); });
    const std::string body = "{\"name\":\"Reel \xC3\xA9\"}";
    HttpResponse r = HttpRequest(server.Url("/report").c_str(), body.c_str(), 2000, 2000);
    EXPECT_EQ(r.status, 201);
    EXPECT_EQ(r.body, "made");
    ASSERT_EQ(server.RequestCount(), 1);
    const std::string request = server.Requests()[0];
    EXPECT_EQ(request.find("POST /report HTTP/1.1\r\n"), 0u) << request;
    EXPECT_NE(request.find("Content-Type: application/json\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(request.substr(request.size() - body.size()), body);
}

TEST(HttpClient, OnlyAbsoluteWebAddressesAreRequested) {
    for (const char* url : {"example.com/x", "ftp://127.0.0.1/file", "http://", "not a url at all", ""}) {
        HttpResponse r = HttpGet(url);
        EXPECT_EQ(r.status, 0) << url;
        EXPECT_EQ(r.error, "Bad URL") << url;
    }
    EXPECT_EQ(HttpGet(nullptr).error, "Bad URL");
}

TEST(HttpClient, ARefusedConnectionFailsAtOnce) {
    int port = 0;
    {
        LoopbackHttpServer closed([](const std::string&) { return HttpReply::Silent(); });
        port = closed.port();
    }
    // Neither timer ends it: a request that waited for one would say it timed out.
    HttpResponse r = HttpRequest(("http://127.0.0.1:" + std::to_string(port) + "/").c_str(), nullptr, 600000, 600000);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "Connection failed");
}

TEST(HttpClient, ASilentServerTimesOutAfterTheIdleTimeout) {
    LoopbackHttpServer server([](const std::string&) { return HttpReply::Silent(); });
    // The connection is made at once and nothing else ends a silent
    // request: only the idle timer can, and never before its time.
    Clock::time_point start = Clock::now();
    HttpResponse r = HttpRequest(server.Url("/").c_str(), nullptr, 2000, 300);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "Request timed out");
    EXPECT_GE(SecondsSince(start), 0.3);
}

TEST(HttpClient, ACancelledRequestEndsWithinAPoll) {
    LoopbackHttpServer server([](const std::string&) { return HttpReply::Silent(); });
    std::atomic<bool> cancel{false};
    HttpResponse r;
    std::thread requester([&] {
        HttpCancelScope scope(cancel);
        r = HttpGet(server.Url("/").c_str());
    });
    while (server.RequestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    // A silent server with no idle timer: only the cancel ends the request.
    cancel = true;
    requester.join();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.error, "Request cancelled");
}

TEST(HttpClient, BodiesAboveEightMebibytesAreRefused) {
    const std::string atCap(kHttpMaxBody, 'a');
    const std::string overCap(kHttpMaxBody + 1, 'b');
    LoopbackHttpServer server([&](const std::string& request) {
        return HttpReply::Plain(200, request.find("GET /big ") == 0 ? overCap : atCap, "application/octet-stream");
    });
    HttpResponse fits = HttpGet(server.Url("/fits").c_str());
    EXPECT_EQ(fits.error, "");
    EXPECT_EQ(fits.body.size(), kHttpMaxBody);

    HttpResponse big = HttpGet(server.Url("/big").c_str());
    EXPECT_EQ(big.error, "Response too large");
    EXPECT_TRUE(big.body.empty());
}

TEST(HttpClient, ABodyCutShortKeepsWhatArrivedAndSaysSo) {
    // The header promises more than the server sends before it hangs up.
    LoopbackHttpServer server([](const std::string&) {
        HttpReply r;
        r.pieces = {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n", "only part"};
        return r;
    });
    HttpResponse r = HttpGet(server.Url("/").c_str());
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "only part");
    EXPECT_FALSE(r.error.empty()) << "a truncated body is not a success";
}
