// Handing a project path between copies of the program: sender and listener
// in one process, with a thread standing in for the running copy's UI loop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/single_instance.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The running copy: a listener and a UI thread that takes what arrives.
class CopyRig : public testing::Test {
protected:
    void SetUp() override { socketPath = dir.File("t.sock"); }
    void TearDown() override {
        StopUi();
        StopHandOverServer(server);
    }

    void Serve() { ASSERT_EQ(StartHandOverServer(server, socketPath), HandOverStart::Serving); }

    void StartUi() {
        uiRunning = true;
        ui = std::thread([this] {
            while (uiRunning.load()) {
                std::string path;
                if (TakeHandedOverPath(server, path)) {
                    std::lock_guard<std::mutex> lock(mutex);
                    taken.push_back(path);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    }
    void StopUi() {
        uiRunning = false;
        if (ui.joinable()) ui.join();
    }
    std::vector<std::string> Taken() {
        std::lock_guard<std::mutex> lock(mutex);
        return taken;
    }
    // The answer can reach the sender before the UI thread has noted its path.
    std::vector<std::string> TakenOnce(size_t n) {
        const auto start = Clock::now();
        while (Taken().size() < n && SecondsSince(start) < 60) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return Taken();
    }

    // Sends raw bytes as a foreign program would; true when the one-byte
    // answer came.
    bool SendRaw(const std::string& bytes) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
        bool answered = false;
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            timeval limit{2, 0};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            if (!bytes.empty()) {
                EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
            }
            shutdown(fd, SHUT_WR);
            char answer = 0;
            answered = recv(fd, &answer, 1, 0) == 1;
        }
        close(fd);
        return answered;
    }

    // The listener counts a refusal once it has finished with the connection.
    void WaitForRefusals(int n) {
        const auto start = Clock::now();
        while (server.refused.load() < n && SecondsSince(start) < 60) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        EXPECT_EQ(server.refused.load(), n);
    }

    static std::string Message(const char* tag, uint32_t length, const std::string& body) {
        std::string m(tag, 4);
        for (int i = 0; i < 4; ++i) m += static_cast<char>(length >> (8 * i));
        return m + body;
    }

    TempDir dir;
    std::string socketPath;
    HandOverServer server;
    std::thread ui;
    std::atomic<bool> uiRunning{false};
    std::mutex mutex;
    std::vector<std::string> taken;
};

}  // namespace

TEST_F(CopyRig, APathReachesTheUiThreadAndTheSenderHearsSo) {
    Serve();
    StartUi();
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/Reel 1 é.tlproj"), HandOverSend::Delivered);
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/Reel 2.tlproj"), HandOverSend::Delivered);
    EXPECT_EQ(TakenOnce(2), (std::vector<std::string>{"/films/Reel 1 é.tlproj", "/films/Reel 2.tlproj"}));
    EXPECT_EQ(server.delivered.load(), 2);

    // A zero byte ends the path, as with the copy-data message of old.
    EXPECT_TRUE(SendRaw(Message("TLFL", 14, std::string("/a/b.tlproj\0xy", 14))));
    EXPECT_EQ(TakenOnce(3).back(), "/a/b.tlproj");
    EXPECT_EQ(server.refused.load(), 0);
}

TEST_F(CopyRig, OtherTagsBadLengthsGarbageAndStrangersAreRefused) {
    Serve();
    StartUi();
    EXPECT_FALSE(SendRaw(Message("TLFX", 9, "/x.tlproj")));
    WaitForRefusals(1);
    EXPECT_FALSE(SendRaw(Message("TLFL", static_cast<uint32_t>(kHandOverMaxPathBytes + 1), "/x.tlproj")))
        << "the length is capped before anything is read";
    WaitForRefusals(2);
    EXPECT_FALSE(SendRaw(Message("TLFL", 0, "")));
    WaitForRefusals(3);
    EXPECT_FALSE(SendRaw(Message("TLFL", 40, "/short.tlproj"))) << "the sender closed before the length";
    WaitForRefusals(4);
    EXPECT_FALSE(SendRaw("\x01\x02\x03"));
    WaitForRefusals(5);
    EXPECT_FALSE(SendRaw(Message("TLFL", 3, std::string("\0\0\0", 3)))) << "an empty path";
    WaitForRefusals(6);
    EXPECT_TRUE(Taken().empty());

    // A path too long for the cap is not even sent.
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/" + std::string(kHandOverMaxPathBytes, 'a')),
              HandOverSend::NotAcknowledged);
    EXPECT_EQ(server.refused.load(), 6);

    // Another user: the peer check is pointed at a uid that is not ours.
    StopHandOverServer(server);
    server.allowedUid = getuid() + 1;
    server.keepAllowedUid = true;
    Serve();
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/Reel 1.tlproj"), HandOverSend::NotAcknowledged);
    WaitForRefusals(7);
    EXPECT_TRUE(Taken().empty());
}

TEST_F(CopyRig, AStalledSenderIsDroppedAndAnUntakenPathIsWithdrawn) {
    server.connectionTimeoutMs = 100;
    server.takeTimeoutMs = 100;
    Serve();
    // Connected, silent: the listener gives up on it and serves the next one.
    int silent = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // No UI thread takes the path: the sender is not answered and the path is
    // gone, so the sender's own window opens it and nothing opens it twice.
    // The sender would wait for ten minutes: only the listener, dropping the
    // silent connection and then withdrawing the path, ends its wait.
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/Reel 1.tlproj", 600000), HandOverSend::NotAcknowledged);
    std::string late;
    EXPECT_FALSE(TakeHandedOverPath(server, late));
    close(silent);
    WaitForRefusals(2);
}

TEST_F(CopyRig, AHungOrVanishedCopyNeverHoldsTheSenderLong) {
    // Nothing there at all.
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/a.tlproj"), HandOverSend::NoRunningCopy);

    // A copy that listens but never accepts (hung): the sender gives up at its time.
    int hung = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(hung, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(hung, 4), 0);
    // Nothing but the sender's own time ends the wait, and not before it.
    auto start = Clock::now();
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/a.tlproj", 300), HandOverSend::NotAcknowledged);
    EXPECT_GE(SecondsSince(start), 0.25);

    // It dies and leaves its socket file: no copy runs, and the next copy takes the place.
    close(hung);
    struct stat st {};
    ASSERT_EQ(stat(socketPath.c_str(), &st), 0) << "the stale socket is still there";
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/a.tlproj"), HandOverSend::NoRunningCopy);
    Serve();
    StartUi();
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/a.tlproj"), HandOverSend::Delivered);
}

TEST_F(CopyRig, ASecondListenerLeavesTheLiveSocketAlone) {
    Serve();
    StartUi();
    {
        HandOverServer second;
        EXPECT_EQ(StartHandOverServer(second, socketPath), HandOverStart::AnotherCopyServes);
        StopHandOverServer(second);
    }
    EXPECT_EQ(SendPathToRunningCopy(socketPath, "/films/b.tlproj"), HandOverSend::Delivered);
    StopUi();
    StopHandOverServer(server);
    struct stat st {};
    EXPECT_NE(stat(socketPath.c_str(), &st), 0) << "the listener removes its socket when it stops";

    // A listener whose socket another copy has replaced leaves the new one alone.
    Serve();
    ASSERT_EQ(unlink(socketPath.c_str()), 0);
    HandOverServer newer;
    ASSERT_EQ(StartHandOverServer(newer, socketPath), HandOverStart::Serving);
    StopHandOverServer(server);
    EXPECT_EQ(stat(socketPath.c_str(), &st), 0);
    StopHandOverServer(newer);
}

TEST(HandOverPaths, RelativePathsBecomeAbsoluteAndTheSocketLivesInAPrivateFolder) {
    char cwd[4096] = {};
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(AbsoluteProjectPath("reels/Reel 1.tlproj"), std::string(cwd) + "/reels/Reel 1.tlproj");
    EXPECT_EQ(AbsoluteProjectPath("/films/x.tlproj"), "/films/x.tlproj");
    EXPECT_EQ(AbsoluteProjectPath(""), "");

    TempDir dir;
    ScopedEnvironment env;
    env.Set("XDG_RUNTIME_DIR", dir.path());
    EXPECT_EQ(HandOverSocketPath(), dir.path() + "/tessaloom.sock");
    env.Set("XDG_RUNTIME_DIR", "/" + std::string(200, 'x'));
    EXPECT_EQ(HandOverSocketPath(), "") << "too long for a socket address";

    env.Unset("XDG_RUNTIME_DIR");
    const std::string fallback = HandOverSocketPath();
    const std::string folder = "/tmp/tessaloom-" + std::to_string(getuid());
    EXPECT_EQ(fallback, folder + "/tessaloom.sock");
    struct stat st {};
    ASSERT_EQ(lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "only the user may enter it";
}
