// single_instance.cpp — the hand-over socket of the running copy and its sender.
//
// Index
//   Paths                HandOverSocketPath, AbsoluteProjectPath, SocketAddress
//   Deadlines and I/O    Remaining, WaitFor, ReadFully, WriteFully
//   Sender               SendPathToRunningCopy
//   Listener             ServeConnection, ListenerLoop
//   Server               StartHandOverServer, StopHandOverServer, TakeHandedOverPath
#include "platform/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

using Clock = std::chrono::steady_clock;

void Log(const char* fmt, const std::string& arg) {
    std::printf("[UI] second launch: ");
    std::printf(fmt, arg.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Paths
// ---------------------------------------------------------------------------

constexpr char kSocketName[] = "tessaloom.sock";

bool FitsSocketAddress(const std::string& path) { return !path.empty() && path.size() < sizeof(sockaddr_un{}.sun_path); }

// A folder only this user may enter: made when missing, refused otherwise.
bool PrivateFolder(const std::string& folder) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    if (!FitsSocketAddress(path)) return false;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

}  // namespace

std::string HandOverSocketPath() {
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        folder = runtime;
    } else {
        folder = "/tmp/tessaloom-" + std::to_string(getuid());
        if (!PrivateFolder(folder)) {
            Log("no private folder for the socket (%s)", folder);
            return "";
        }
    }
    std::string path = folder + "/" + kSocketName;
    return FitsSocketAddress(path) ? path : "";
}

std::string AbsoluteProjectPath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

// ---------------------------------------------------------------------------
// Deadlines and I/O
// ---------------------------------------------------------------------------

namespace {

int Remaining(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until `fd` is ready for `events` or the deadline passes; false on
// the deadline, an error, or (when `stopFd` is given) a stop request.
bool WaitFor(int fd, short events, Clock::time_point deadline, int stopFd = -1) {
    for (;;) {
        pollfd fds[2] = {{fd, events, 0}, {stopFd, POLLIN, 0}};
        int n = poll(fds, stopFd >= 0 ? 2 : 1, Remaining(deadline));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        if (stopFd >= 0 && fds[1].revents) return false;
        return (fds[0].revents & (events | POLLHUP | POLLERR)) != 0;
    }
}

bool ReadFully(int fd, void* buffer, size_t size, Clock::time_point deadline, int stopFd = -1) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < size) {
        if (!WaitFor(fd, POLLIN, deadline, stopFd)) return false;
        ssize_t got = recv(fd, out + done, size - done, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return false;
        done += static_cast<size_t>(got);
    }
    return true;
}

bool WriteFully(int fd, const void* buffer, size_t size, Clock::time_point deadline) {
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < size) {
        if (!WaitFor(fd, POLLOUT, deadline)) return false;
        ssize_t put = send(fd, in + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (put < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (put <= 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

void PutLittleEndian32(uint32_t value, unsigned char* out) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

uint32_t GetLittleEndian32(const unsigned char* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[i]) << (8 * i);
    return value;
}

// A non-blocking connect: 0 when connected, else the errno (EAGAIN: the
// listener's queue is full, as with a copy that no longer accepts).
int ConnectNonBlocking(int fd, const sockaddr_un& address) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return 0;
    return errno;
}

}  // namespace

// ---------------------------------------------------------------------------
// Sender
// ---------------------------------------------------------------------------

HandOverSend SendPathToRunningCopy(const std::string& socketPath, const std::string& path, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    sockaddr_un address{};
    if (!SocketAddress(socketPath, address)) return HandOverSend::NoRunningCopy;
    if (path.empty() || path.size() > kHandOverMaxPathBytes) return HandOverSend::NotAcknowledged;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return HandOverSend::NotAcknowledged;
    HandOverSend result = HandOverSend::NotAcknowledged;
    int error = ConnectNonBlocking(fd, address);
    if (error == ENOENT || error == ECONNREFUSED) {
        result = HandOverSend::NoRunningCopy;
    } else if (error == 0 || error == EINPROGRESS) {
        std::string message(kHandOverTag, 4);
        unsigned char length[4];
        PutLittleEndian32(static_cast<uint32_t>(path.size()), length);
        message.append(reinterpret_cast<const char*>(length), 4);
        message += path;
        unsigned char answer = 0;
        if (WriteFully(fd, message.data(), message.size(), deadline) && ReadFully(fd, &answer, 1, deadline) &&
            answer == kHandOverAck)
            result = HandOverSend::Delivered;
    }
    close(fd);
    return result;
}

// ---------------------------------------------------------------------------
// Listener
// ---------------------------------------------------------------------------

namespace {

void Refuse(HandOverServer& server, const char* why) {
    server.refused.fetch_add(1);
    Log("refused a message (%s)", why);
}

// Parks the path for the UI thread and waits until it is taken; a path not
// taken in time is withdrawn, so that the sender can open it itself.
bool ParkForUiThread(HandOverServer& server, const std::string& path) {
    std::unique_lock<std::mutex> lock(server.mutex);
    server.waitingPath = path;
    server.hasWaitingPath = true;
    server.waitingTaken = false;
    server.pathWaiting.store(true);
    lock.unlock();
    if (server.onPathWaiting) server.onPathWaiting();
    lock.lock();
    server.changed.wait_for(lock, std::chrono::milliseconds(server.takeTimeoutMs),
                            [&] { return server.waitingTaken || server.stopping; });
    const bool taken = server.waitingTaken;
    server.hasWaitingPath = false;
    server.waitingTaken = false;
    server.waitingPath.clear();
    server.pathWaiting.store(false);
    return taken;
}

void ServeConnection(HandOverServer& server, int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer) {
        Refuse(server, "unknown sender");
        return;
    }
    if (peer.uid != server.allowedUid) {
        Refuse(server, "another user");
        return;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(server.connectionTimeoutMs);
    unsigned char header[8];
    if (!ReadFully(fd, header, sizeof header, deadline, server.stopFd)) {
        Refuse(server, "incomplete message");
        return;
    }
    if (std::memcmp(header, kHandOverTag, 4) != 0) {
        Refuse(server, "unknown tag");
        return;
    }
    const uint32_t length = GetLittleEndian32(header + 4);
    if (length == 0 || length > kHandOverMaxPathBytes) {
        Refuse(server, "bad length");
        return;
    }
    std::string path(length, '\0');
    if (!ReadFully(fd, path.data(), length, deadline, server.stopFd)) {
        Refuse(server, "incomplete message");
        return;
    }
    path.resize(std::strlen(path.c_str()));  // up to the first zero byte
    if (path.empty()) {
        Refuse(server, "empty path");
        return;
    }
    if (!ParkForUiThread(server, path)) {
        Refuse(server, "not taken in time");
        return;
    }
    server.delivered.fetch_add(1);
    const unsigned char ack = kHandOverAck;
    WriteFully(fd, &ack, 1, Clock::now() + std::chrono::milliseconds(server.connectionTimeoutMs));
}

void ListenerLoop(HandOverServer* server) {
    for (;;) {
        pollfd fds[2] = {{server->listenFd, POLLIN, 0}, {server->stopFd, POLLIN, 0}};
        int n = poll(fds, 2, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int fd = accept4(server->listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ServeConnection(*server, fd);
        close(fd);
    }
}

// ---------------------------------------------------------------------------
// Server
// ---------------------------------------------------------------------------

bool Bind(int fd, const sockaddr_un& address) {
    return bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// After EADDRINUSE: whether a live copy owns the socket (else it is stale).
bool SocketIsLive(const sockaddr_un& address) {
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (probe < 0) return true;
    int error = ConnectNonBlocking(probe, address);
    close(probe);
    return !(error == ECONNREFUSED || error == ENOENT);
}

void CloseServerFds(HandOverServer& server) {
    if (server.listenFd >= 0) close(server.listenFd);
    if (server.stopFd >= 0) close(server.stopFd);
    server.listenFd = -1;
    server.stopFd = -1;
}

}  // namespace

HandOverServer::~HandOverServer() { StopHandOverServer(*this); }

HandOverStart StartHandOverServer(HandOverServer& server, const std::string& socketPath) {
    StopHandOverServer(server);
    sockaddr_un address{};
    if (!SocketAddress(socketPath, address)) {
        Log("no usable socket path (%s)", socketPath);
        return HandOverStart::Failed;
    }
    if (!server.keepAllowedUid) server.allowedUid = getuid();
    server.listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server.listenFd < 0) return HandOverStart::Failed;
    if (!Bind(server.listenFd, address)) {
        struct stat st {};
        const bool inUse = errno == EADDRINUSE;
        if (!inUse || lstat(socketPath.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) {
            Log("cannot listen at %s", socketPath);
            CloseServerFds(server);
            return HandOverStart::Failed;
        }
        if (SocketIsLive(address)) {
            CloseServerFds(server);
            return HandOverStart::AnotherCopyServes;
        }
        // A copy that was killed left its socket: take its place.
        unlink(socketPath.c_str());
        if (!Bind(server.listenFd, address)) {
            Log("cannot replace the stale socket %s", socketPath);
            CloseServerFds(server);
            return HandOverStart::Failed;
        }
    }
    struct stat st {};
    chmod(socketPath.c_str(), 0600);
    if (listen(server.listenFd, 8) != 0 || stat(socketPath.c_str(), &st) != 0) {
        CloseServerFds(server);
        unlink(socketPath.c_str());
        return HandOverStart::Failed;
    }
    server.socketPath = socketPath;
    server.socketDevice = static_cast<uint64_t>(st.st_dev);
    server.socketInode = static_cast<uint64_t>(st.st_ino);
    server.stopFd = eventfd(0, EFD_CLOEXEC);
    if (server.stopFd < 0) {
        CloseServerFds(server);
        unlink(socketPath.c_str());
        return HandOverStart::Failed;
    }
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        server.stopping = false;
    }
    server.listener = std::thread(ListenerLoop, &server);
    return HandOverStart::Serving;
}

void StopHandOverServer(HandOverServer& server) {
    if (server.listener.joinable()) {
        {
            std::lock_guard<std::mutex> lock(server.mutex);
            server.stopping = true;
        }
        server.changed.notify_all();
        const uint64_t one = 1;
        if (write(server.stopFd, &one, sizeof one) != sizeof one) {
            // The eventfd cannot be full after one write; nothing else to do.
        }
        server.listener.join();
    }
    // The file is removed only while it is still the socket this server made:
    // a newer copy may have replaced it.
    struct stat st {};
    if (!server.socketPath.empty() && stat(server.socketPath.c_str(), &st) == 0 &&
        static_cast<uint64_t>(st.st_dev) == server.socketDevice &&
        static_cast<uint64_t>(st.st_ino) == server.socketInode)
        unlink(server.socketPath.c_str());
    server.socketPath.clear();
    CloseServerFds(server);
}

bool TakeHandedOverPath(HandOverServer& server, std::string& path) {
    if (!server.pathWaiting.load()) return false;
    std::lock_guard<std::mutex> lock(server.mutex);
    if (!server.hasWaitingPath || server.waitingTaken) return false;
    path = server.waitingPath;
    server.waitingTaken = true;
    server.pathWaiting.store(false);
    server.changed.notify_all();
    return true;
}
