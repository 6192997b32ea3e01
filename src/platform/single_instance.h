// single_instance.h — handing a project path from a second copy of the
// program to the copy already running, over a Unix socket.
//
// Index
//   HandOverSocketPath      where the running copy listens
//   AbsoluteProjectPath     the path as any copy must read it, whatever its working folder
//   SendPathToRunningCopy   the second copy's side: send, wait for the answer
//   HandOverServer          the running copy's side: a listener thread
//     StartHandOverServer / StopHandOverServer / TakeHandedOverPath
//
// The message is the four bytes "TLFL", the path's length in bytes as a
// 32-bit little-endian number, then the path in UTF-8 (a zero byte ends it
// early). The running copy answers with the one byte kHandOverAck once its UI
// thread has taken the path. A sender that gets no answer within its time
// (the running copy hangs, or vanished and left its socket behind) starts
// normally with the path; the listener withdraws a path its UI thread did not
// take in time, so the project is never opened twice.
//
// The listener accepts only peers of its own user (the socket's folder is
// private to the user as well), caps the length, and drops other tags,
// damaged messages and senders that stall. It reads one connection at a time
// on its own thread and never touches the GUI: `onPathWaiting` wakes the UI
// loop, which calls TakeHandedOverPath.
//
// A socket left by a copy that was killed is found stale (nothing accepts on
// it) and replaced; the socket of a copy that still runs is left alone, and a
// copy started without a project then simply opens its own window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

constexpr char kHandOverTag[4] = {'T', 'L', 'F', 'L'};
constexpr unsigned char kHandOverAck = 1;
constexpr int kHandOverSendTimeoutMs = 2000;
constexpr size_t kHandOverMaxPathBytes = 4096;

// "$XDG_RUNTIME_DIR/tessaloom.sock"; without that variable, a folder
// "/tmp/tessaloom-<uid>" private to the user (made when missing; refused when
// it belongs to someone else or others may enter it). "" when no usable
// place exists or the path does not fit a socket address.
std::string HandOverSocketPath();

// Relative paths are made absolute against the working folder; the text is
// otherwise kept as typed. Unchanged when the working folder is unknown.
std::string AbsoluteProjectPath(const std::string& path);

enum class HandOverSend {
    Delivered,         // the running copy took the path
    NoRunningCopy,     // nothing listens (no socket, or a stale one)
    NotAcknowledged,   // no answer in time, or the path could not be sent
};
HandOverSend SendPathToRunningCopy(const std::string& socketPath, const std::string& path,
                                   int timeoutMs = kHandOverSendTimeoutMs);

struct HandOverServer {
    // Settings, read when the server starts.
    uint32_t allowedUid = 0;          // StartHandOverServer sets our own user unless `keepAllowedUid`
    bool keepAllowedUid = false;      // tests pretend to be another user this way
    int connectionTimeoutMs = 1000;   // a sender must deliver its message within this time
    int takeTimeoutMs = 1500;         // the UI thread must take the path within this time
    std::function<void()> onPathWaiting;  // listener thread: a path waits for TakeHandedOverPath

    // Counters for logs and tests: paths the UI thread took (counted before
    // the sender is answered), messages refused.
    std::atomic<int> delivered{0};
    std::atomic<int> refused{0};

    // Internal state.
    std::string socketPath;
    int listenFd = -1;
    int stopFd = -1;
    uint64_t socketDevice = 0;
    uint64_t socketInode = 0;
    std::thread listener;
    std::mutex mutex;
    std::condition_variable changed;
    std::string waitingPath;
    bool hasWaitingPath = false;
    bool waitingTaken = false;
    bool stopping = false;
    std::atomic<bool> pathWaiting{false};

    HandOverServer() = default;
    HandOverServer(const HandOverServer&) = delete;
    HandOverServer& operator=(const HandOverServer&) = delete;
    ~HandOverServer();
};

enum class HandOverStart {
    Serving,
    AnotherCopyServes,  // a live copy holds the socket
    Failed,             // logged
};
HandOverStart StartHandOverServer(HandOverServer& server, const std::string& socketPath);
// Stops and joins the listener; removes the socket file when it is still ours.
void StopHandOverServer(HandOverServer& server);
// UI thread: the path a second copy sent, once. False when none waits.
bool TakeHandedOverPath(HandOverServer& server, std::string& path);
