// http_client.cpp — HttpRequest on libcurl's multi interface, so that the
// calling thread can watch its own idle timer and cancel flag between polls.
//
// Index
//   Cancel scope          the thread's cancel flag
//   Address check         only absolute http and https addresses
//   Transfer              callbacks: body with its cap, activity, cancel
//   HttpRequest / HttpGet
#include "platform/http_client.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <strings.h>

// ---------------------------------------------------------------------------
// Cancel scope
// ---------------------------------------------------------------------------

namespace {
thread_local const std::atomic<bool>* tCancel = nullptr;
}

HttpCancelScope::HttpCancelScope(const std::atomic<bool>& cancel) : previous_(tCancel) { tCancel = &cancel; }

HttpCancelScope::~HttpCancelScope() { tCancel = previous_; }

namespace {

constexpr char kUserAgent[] = "Tessaloom/1.0";
constexpr int kPollMs = 25;

// ---------------------------------------------------------------------------
// Address check
// ---------------------------------------------------------------------------

// True for an absolute "http://" or "https://" address with a host; sets
// `secure` for https. An address without a scheme is refused rather than
// guessed.
bool CheckAddress(const char* url, bool& secure) {
    CURLU* u = curl_url();
    if (!u) return false;
    bool ok = curl_url_set(u, CURLUPART_URL, url, 0) == CURLUE_OK;
    char* scheme = nullptr;
    char* host = nullptr;
    if (ok) ok = curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme;
    if (ok) ok = curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK && host && *host;
    if (ok) {
        secure = strcasecmp(scheme, "https") == 0;
        ok = secure || strcasecmp(scheme, "http") == 0;
    }
    curl_free(scheme);
    curl_free(host);
    curl_url_cleanup(u);
    return ok;
}

// ---------------------------------------------------------------------------
// Transfer
// ---------------------------------------------------------------------------

using Clock = std::chrono::steady_clock;

struct Transfer {
    std::string body;
    bool tooLarge = false;
    Clock::time_point lastActivity = Clock::now();
    curl_off_t lastDown = 0;
    curl_off_t lastUp = 0;
};

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t.body.size() + n > kHttpMaxBody) {
        t.tooLarge = true;
        return 0;  // ends the transfer with a write error
    }
    t.body.append(data, n);
    t.lastActivity = Clock::now();
    return n;
}

size_t OnHeader(char*, size_t size, size_t count, void* user) {
    static_cast<Transfer*>(user)->lastActivity = Clock::now();
    return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    Transfer& t = *static_cast<Transfer*>(user);
    if (down != t.lastDown || up != t.lastUp) {
        t.lastDown = down;
        t.lastUp = up;
        t.lastActivity = Clock::now();
    }
    return 0;
}

std::string CurlErrorText(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT: return "Request timed out";
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_CONNECT: return "Connection failed";
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL: return "Bad URL";
        default: break;
    }
    char text[48];
    std::snprintf(text, sizeof text, "WinHTTP error %lu", static_cast<unsigned long>(code));
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// HttpRequest / HttpGet
// ---------------------------------------------------------------------------

HttpResponse HttpRequest(const char* url, const char* body, int connectTimeoutMs, int idleTimeoutMs) {
    HttpResponse response;
    bool secure = false;
    if (!url || !CheckAddress(url, secure)) {
        response.error = "Bad URL";
        return response;
    }
    CURL* easy = curl_easy_init();
    CURLM* multi = easy ? curl_multi_init() : nullptr;
    if (!easy || !multi) {
        if (easy) curl_easy_cleanup(easy);
        response.error = "WinHttpOpen failed";
        return response;
    }

    Transfer transfer;
    curl_slist* headers = nullptr;
    curl_easy_setopt(easy, CURLOPT_URL, url);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are followed, but never from https down to http.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeoutMs > 0 ? connectTimeoutMs : 0));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    if (body) {
        headers = curl_slist_append(headers, "Content-Type: application/json");
        // No "100 Continue" round trip before the body.
        headers = curl_slist_append(headers, "Expect:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(std::strlen(body)));
    }
    curl_multi_add_handle(multi, easy);

    const std::atomic<bool>* cancel = tCancel;
    const auto idleLimit = std::chrono::milliseconds(idleTimeoutMs > 0 ? idleTimeoutMs : 0);
    bool timedOut = false;
    bool cancelled = false;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) break;
        if (!running) break;
        if (cancel && cancel->load()) {
            cancelled = true;
            break;
        }
        if (idleTimeoutMs > 0 && Clock::now() - transfer.lastActivity > idleLimit) {
            timedOut = true;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }

    CURLcode code = CURLE_OK;
    bool finished = false;
    int queued = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &queued)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
            code = msg->data.result;
            finished = true;
        }
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);

    if (cancelled) {
        response.error = "Request cancelled";
    } else if (timedOut) {
        response.error = "Request timed out";
    } else if (transfer.tooLarge) {
        response.error = "Response too large";
        transfer.body.clear();
    } else if (!finished) {
        response.error = CurlErrorText(CURLE_RECV_ERROR);
    } else if (code != CURLE_OK) {
        response.error = CurlErrorText(code);
    }
    response.body = std::move(transfer.body);

    curl_multi_remove_handle(multi, easy);
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
    curl_slist_free_all(headers);
    return response;
}

HttpResponse HttpGet(const char* url) { return HttpRequest(url, nullptr, 5000, 10000); }
