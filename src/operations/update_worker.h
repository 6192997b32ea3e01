// update_worker.h — the update check's thread and its hand-over, as the
// application state holds them (the check itself is app/update_check.h).
//
// Index
//   UpdateCheckOutcome     what one check found
//   UpdateCheckWorker      the check's thread and its hand-over (one in AppState)
//   StopUpdateCheckWorker  abort the transfer and join the thread
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct UpdateCheckOutcome {
    int64_t checkedAt = 0;        // Unix seconds when the answer came
    bool resultChanged = false;   // the stored result is replaced (cleared or set)
    bool available = false;       // a newer release: the four fields below
    std::string version;
    std::string pageUrl;
    std::string date;
    std::vector<std::string> notes;
};

struct UpdateCheckWorker {
    std::thread thread;
    std::atomic<bool> stop{false};        // aborts the transfer (shutdown)
    std::atomic<bool> published{false};  // an outcome waits to be taken
    std::mutex mutex;                     // guards `outcome`
    UpdateCheckOutcome outcome;
};

// Aborts a running check's transfer and joins its thread; a check can be
// started again afterwards. Interface thread.
inline void StopUpdateCheckWorker(UpdateCheckWorker& worker) {
    if (!worker.thread.joinable()) return;
    worker.stop.store(true);
    worker.thread.join();
    worker.stop.store(false);
}
