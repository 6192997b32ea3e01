// child_process.cpp — fork, run, exit; kill and reap on the way out.
#include "support/child_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

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
