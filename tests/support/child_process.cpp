// child_process.cpp — fork, run, exit; kill and reap on the way out.
#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

ChildProcess::ChildProcess(const std::function<void()>& body) {
    std::fflush(stdout);
    std::fflush(stderr);
    pid = ::fork();
    if (pid == 0) {
        body();
        std::fflush(stdout);
        std::fflush(stderr);
        ::_exit(0);
    }
}

ChildProcess::~ChildProcess() {
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

int ChildProcess::Wait() {
    int status = 0;
    if (pid <= 0 || ::waitpid(pid, &status, 0) != pid) return -1000;
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

int RunInChild(const std::function<void()>& body) {
    ChildProcess child(body);
    return child.Wait();
}

void HoldUntilKilled(const std::string& marker) {
    const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
    for (;;) ::pause();
}

bool WaitForHold(const ChildProcess& child, const std::string& marker) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    // Asked of the child's state without reaping it: the test still kills and waits for it.
    siginfo_t info{};
    while (::access(marker.c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline) {
        info.si_pid = 0;
        if (::waitid(P_PID, id_t(child.pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid != 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ::access(marker.c_str(), F_OK) == 0;
}
