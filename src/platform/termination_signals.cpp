// termination_signals.cpp — the handler that notes SIGTERM, SIGHUP and SIGINT.
#include "platform/termination_signals.h"

#include <signal.h>

#include <atomic>
#include <cstdio>

namespace {

// Lock-free, so the handler may store into it.
std::atomic<int> gPendingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void NoteTerminationSignal(int signal) {
    int none = 0;
    gPendingSignal.compare_exchange_strong(none, signal);  // the first one is served
}

}  // namespace

void InstallTerminationHandlers() {
    struct sigaction action {};
    action.sa_handler = NoteTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

int PendingTerminationSignal() { return gPendingSignal.load(); }

const char* TerminationSignalName(int signal) {
    if (signal == SIGTERM) return "SIGTERM";
    if (signal == SIGHUP) return "SIGHUP";
    if (signal == SIGINT) return "SIGINT";
    static thread_local char text[24];
    std::snprintf(text, sizeof text, "signal %d", signal);
    return text;
}
