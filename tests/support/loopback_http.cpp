// loopback_http.cpp — one listening socket, one thread, one connection at a time.
#include "support/loopback_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* Reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        default: return "Status";
    }
}

bool SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

HttpReply HttpReply::Plain(int status, const std::string& body, const std::string& contentType) {
    HttpReply r;
    char head[256];
    std::snprintf(head, sizeof head, "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nConnection: close\r\n\r\n",
                  status, Reason(status), contentType.c_str(), body.size());
    r.pieces = {head, body};
    return r;
}

HttpReply HttpReply::Chunked(int status, const std::vector<std::string>& chunks, int pauseMs) {
    HttpReply r;
    char head[256];
    std::snprintf(head, sizeof head,
                  "HTTP/1.1 %d %s\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n"
                  "Connection: close\r\n\r\n",
                  status, Reason(status));
    r.pieces.push_back(head);
    for (const std::string& c : chunks) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", c.size());
        r.pieces.push_back(size + c + "\r\n");
    }
    r.pieces.push_back("0\r\n\r\n");
    r.pauseMs = pauseMs;
    return r;
}

HttpReply HttpReply::Silent() {
    HttpReply r;
    r.silent = true;
    return r;
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    if (pipe(wakeFds_) != 0) return;
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t length = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
        close(fd);
        return;
    }
    listenFd_ = fd;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

LoopbackHttpServer::~LoopbackHttpServer() {
    stopping_ = true;
    if (wakeFds_[1] >= 0) {
        char c = 1;
        (void)!write(wakeFds_[1], &c, 1);
    }
    if (thread_.joinable()) thread_.join();
    if (listenFd_ >= 0) close(listenFd_);
    for (int fd : wakeFds_)
        if (fd >= 0) close(fd);
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> LoopbackHttpServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool LoopbackHttpServer::WaitReadable(int fd) {
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    for (;;) {
        if (stopping_) return false;
        int ready = poll(p, 2, 1000);
        if (ready < 0) return false;
        if (p[1].revents) return false;
        if (p[0].revents) return true;
    }
}

void LoopbackHttpServer::Serve() {
    while (WaitReadable(listenFd_)) {
        int client = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        Answer(client);
        close(client);
    }
}

void LoopbackHttpServer::Answer(int fd) {
    std::string request;
    size_t headerEnd = std::string::npos;
    size_t wanted = 0;
    char buffer[65536];
    for (;;) {
        if (headerEnd != std::string::npos && request.size() >= headerEnd + 4 + wanted) break;
        if (!WaitReadable(fd)) return;
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        request.append(buffer, static_cast<size_t>(n));
        if (headerEnd == std::string::npos && (headerEnd = request.find("\r\n\r\n")) != std::string::npos) {
            std::string headers = request.substr(0, headerEnd);
            for (char& c : headers) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            size_t at = headers.find("content-length:");
            if (at != std::string::npos) wanted = std::strtoul(headers.c_str() + at + 15, nullptr, 10);
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    HttpReply reply = handler_(request);
    if (reply.silent) {
        // Say nothing until the client hangs up or the server stops.
        while (WaitReadable(fd) && recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        return;
    }
    for (size_t i = 0; i < reply.pieces.size(); ++i) {
        if (i > 0 && reply.pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.pauseMs));
        if (!SendAll(fd, reply.pieces[i])) return;
    }
    shutdown(fd, SHUT_WR);
}
