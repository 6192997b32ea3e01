// child_process.cpp — posix_spawnp with an argument vector, a pipe for the
// child's output and a list of children still to be reaped.
//
// Index
//   Detached children    the list and ReapChildProcesses
//   Spawn                argv, standard streams, posix_spawnp
//   RunProcess / SpawnDetachedProcess
#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>

extern char** environ;

// ---------------------------------------------------------------------------
// Detached children
// ---------------------------------------------------------------------------

namespace {

std::mutex gChildrenMutex;
std::vector<pid_t>& Children() {
    static std::vector<pid_t> children;
    return children;
}

void RememberChild(pid_t pid) {
    std::lock_guard<std::mutex> lock(gChildrenMutex);
    Children().push_back(pid);
}

}  // namespace

int ReapChildProcesses() {
    std::lock_guard<std::mutex> lock(gChildrenMutex);
    std::vector<pid_t>& children = Children();
    for (size_t i = 0; i < children.size();) {
        int status = 0;
        pid_t got = waitpid(children[i], &status, WNOHANG);
        // Ended, or no longer ours to wait for (ECHILD).
        if (got == children[i] || (got < 0 && errno != EINTR)) {
            children[i] = children.back();
            children.pop_back();
        } else {
            ++i;
        }
    }
    return static_cast<int>(children.size());
}

// ---------------------------------------------------------------------------
// Spawn
// ---------------------------------------------------------------------------

namespace {

// Starts the child with stdin and stderr on /dev/null and stdout on
// `stdoutFd` (or /dev/null when it is -1). -1 when it could not start.
pid_t Spawn(const std::vector<std::string>& args, int stdoutFd) {
    if (args.empty() || args[0].empty()) return -1;
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    // The child starts with default signal handling whatever ours is.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

// ---------------------------------------------------------------------------
// RunProcess / SpawnDetachedProcess
// ---------------------------------------------------------------------------

ProcessResult RunProcess(const std::vector<std::string>& args, const ProcessWait& wait) {
    ProcessResult result;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;
    pid_t pid = Spawn(args, fds[1]);
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return result;
    }
    result.started = true;

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    bool outputOpen = true;
    int status = 0;
    bool exited = false;
    char buffer[4096];
    for (;;) {
        if (outputOpen) {
            pollfd p{fds[0], POLLIN, 0};
            int ready = poll(&p, 1, 20);
            if (ready > 0) {
                ssize_t got = read(fds[0], buffer, sizeof buffer);
                if (got > 0) result.out.append(buffer, static_cast<size_t>(got));
                else if (got == 0 || errno != EINTR) outputOpen = false;
            }
        } else {
            usleep(20000);
        }
        pid_t w = waitpid(pid, &status, WNOHANG);
        if (w == pid) {
            exited = true;
            // The child may have written its last bytes just before it ended.
            while (outputOpen) {
                ssize_t got = read(fds[0], buffer, sizeof buffer);
                if (got > 0) result.out.append(buffer, static_cast<size_t>(got));
                else if (got == 0 || errno != EINTR) outputOpen = false;
            }
            break;
        }
        if (w < 0 && errno != EINTR) break;
        if (wait.pump) wait.pump();
        if (wait.abandon && wait.abandon()) {
            ::kill(pid, SIGTERM);
            RememberChild(pid);
            break;
        }
        if (wait.timeoutMs > 0 &&
            Clock::now() - start > std::chrono::milliseconds(wait.timeoutMs)) {
            result.timedOut = true;
            RememberChild(pid);
            break;
        }
    }
    close(fds[0]);
    if (exited) result.exitCode = ExitCodeOf(status);
    return result;
}

bool SpawnDetachedProcess(const std::vector<std::string>& args) {
    ReapChildProcesses();
    pid_t pid = Spawn(args, -1);
    if (pid < 0) return false;
    RememberChild(pid);
    return true;
}
