// loopback_http.h — a tiny HTTP server on 127.0.0.1 for tests and
// benchmarks, so that no test reaches the network.
//
// Index
//   HttpReply            what the server sends back: raw pieces with pauses, or silence
//   HttpReply::Plain / Chunked   a whole response with Content-Length or chunked
//   LoopbackHttpServer   serves one connection at a time on its own thread
//
// The server reads each request whole (headers and a Content-Length body),
// records it, and answers with the reply the handler gives for it. A silent
// reply keeps the connection open without a byte until the client gives up
// or the server stops.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpReply {
    std::vector<std::string> pieces;  // written in order
    int pauseMs = 0;                  // between pieces
    bool silent = false;

    static HttpReply Plain(int status, const std::string& body,
                           const std::string& contentType = "application/json");
    static HttpReply Chunked(int status, const std::vector<std::string>& chunks, int pauseMs);
    static HttpReply Silent();
};

class LoopbackHttpServer {
public:
    using Handler = std::function<HttpReply(const std::string& request)>;
    explicit LoopbackHttpServer(Handler handler);
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    bool ok() const { return listenFd_ >= 0; }
    int port() const { return port_; }
    std::string Url(const std::string& path) const;  // "http://127.0.0.1:PORT" + path
    std::vector<std::string> Requests();             // every request received, whole
    int RequestCount() { return static_cast<int>(Requests().size()); }

private:
    void Serve();
    void Answer(int fd);
    bool WaitReadable(int fd);  // false when the server stops

    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    int wakeFds_[2] = {-1, -1};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};
