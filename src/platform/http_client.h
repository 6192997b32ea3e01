// http_client.h — one blocking HTTP request at a time, on libcurl.
//
// Index
//   HttpResponse       status, body, error text
//   kHttpMaxBody       the largest body a request accepts
//   HttpRequest        GET or POST with a connect and an idle timeout
//   HttpGet            GET with the update check's timeouts
//   HttpCancelScope    lets another thread abort this thread's requests
//
// Error texts, exactly: "Bad URL", "WinHttpOpen failed", "Connection
// failed", "Request timed out", "WinHTTP error %lu" (libcurl's code),
// "Response too large", "Request cancelled". Any status code (a 404
// included) is a response, not an error: callers decide on the status.
// Only "http" and "https" addresses are requested. Nothing is kept between
// calls. Any thread; curl_global_init runs once in main before threads start.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>

struct HttpResponse {
    int status = 0;       // 0 when no response arrived
    std::string body;     // as received (a chunked body is joined)
    std::string error;    // empty on success
};

constexpr size_t kHttpMaxBody = 8u << 20;

// A null body sends a GET, otherwise a POST of that body as
// "Content-Type: application/json". `connectTimeoutMs` bounds resolving and
// connecting; `idleTimeoutMs` bounds every wait for the server's next bytes.
// When the transfer fails after the status arrived, the body read so far is
// kept beside the error.
HttpResponse HttpRequest(const char* url, const char* body, int connectTimeoutMs, int idleTimeoutMs);

// HttpRequest(url, null, 5000, 10000).
HttpResponse HttpGet(const char* url);

// While a scope lives, requests made on its thread end with "Request
// cancelled" within ~25 ms of `cancel` becoming true (also one started after).
class HttpCancelScope {
public:
    explicit HttpCancelScope(const std::atomic<bool>& cancel);
    ~HttpCancelScope();
    HttpCancelScope(const HttpCancelScope&) = delete;
    HttpCancelScope& operator=(const HttpCancelScope&) = delete;

private:
    const std::atomic<bool>* previous_;
};
