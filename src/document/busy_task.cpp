// busy_task.cpp — queueing, running and finishing the one busy task.
#include "document/busy_task.h"

#include <cstdio>
#include <exception>
#include <system_error>

#include "document/text_util.h"


namespace {

// Set on threads that run in the worker slot, so a join from one of them is
// refused without reading the slot (the frame loop may still be filling it).
thread_local bool tOnWorkerSlot = false;

// Runs on the worker thread: the job, then the done flag, whatever happens.
void RunJobOnWorker(BusyTask* task, std::function<void()> job) {
    tOnWorkerSlot = true;
    try {
        if (job) job();
    } catch (const std::exception& e) {
        std::printf("[UI] busy task failed: %s\n", e.what());
        std::fflush(stdout);
    } catch (...) {
        std::printf("[UI] busy task failed with an unknown error\n");
        std::fflush(stdout);
    }
    task->done.store(true, std::memory_order_release);
}

}  // namespace

// ---------------------------------------------------------------------------
// Queueing
// ---------------------------------------------------------------------------

bool StartBusyTask(BusyTask& task, const char* statusText, std::function<void()> job,
                   bool cancellable, float progress) {
    // A request while a task is queued is dropped; its job is destroyed on return.
    if (task.busy.exchange(true)) return false;
    SetBusyStatus(task, statusText);
    task.progress.store(progress);
    task.done.store(false);
    task.cancelRequested.store(false);
    task.abandoned.store(false);
    task.cancellable = cancellable;
    task.startedAt = ClockSeconds(task.clock);
    task.doneAt = -1;
    task.threadStarted = false;
    task.snapshotRequested = true;
    task.snapshotFailures = 0;
    task.job = std::move(job);
    task.atJoin = nullptr;
    task.ownCopy = false;
    return true;
}

void SetBusyStatus(BusyTask& task, const char* text) {
    std::lock_guard<std::mutex> lock(task.statusMutex);
    CopyTextField(task.statusText, text ? text : "");
}

std::string BusyStatusText(const BusyTask& task) {
    std::lock_guard<std::mutex> lock(task.statusMutex);
    return task.statusText;
}

// ---------------------------------------------------------------------------
// The frame loop's half
// ---------------------------------------------------------------------------

namespace {

// Starts the worker once the backdrop and the slot allow it. Waiting when
// the task must wait another frame.
BusyPump StartWorkerWhenFree(BusyTask& task, const std::atomic<bool>* traceRunning) {
    // An immediate task keeps the window live: it needs no backdrop.
    if (task.immediate) task.snapshotRequested = false;
    if (task.snapshotRequested) {
        if (task.snapshotFailures < kBusySnapshotAttempts) return BusyPump::Waiting;
        std::printf("[UI] the busy backdrop could not be captured; \"%s\" starts without it\n",
                    BusyStatusText(task).c_str());
        std::fflush(stdout);
        task.snapshotRequested = false;
    }
    // The trace worker still owns the slot: joining it now would hold the
    // interface for the rest of the trace.
    if (traceRunning && traceRunning->load(std::memory_order_acquire)) return BusyPump::Waiting;
    // A finished trace worker or an unjoined earlier task may still hold the
    // slot: it is joined (it has ended or is ending) before the slot is reused.
    if (task.worker.joinable() && !JoinWorkerThread(task)) return BusyPump::Waiting;
    if (task.launchHook && !task.ownCopy) task.launchHook();
    try {
        task.worker = std::thread(RunJobOnWorker, &task, task.job);
    } catch (const std::system_error& e) {
        std::printf("[UI] could not start the busy task: %s\n", e.what());
        std::fflush(stdout);
        task.done.store(true);
    }
    task.threadStarted = true;
    return BusyPump::Running;
}

void FinishBusyTask(BusyTask& task) {
    task.busy.store(false);
    task.immediate = false;
    task.cancellable = false;
    task.threadStarted = false;
    task.doneAt = -1;
    task.job = nullptr;
    task.atJoin = nullptr;
    task.ownCopy = false;
    task.cancelRequested.store(false);
}

}  // namespace

bool WorkerWritesDocument(const BusyTask& task) {
    return task.busy.load() && task.threadStarted && !task.ownCopy && !task.done.load(std::memory_order_acquire);
}

BusyPump PumpBusyTask(BusyTask& task, const std::atomic<bool>* traceRunning) {
    if (!task.busy.load(std::memory_order_acquire)) return BusyPump::Idle;
    if (!task.threadStarted && !task.done.load(std::memory_order_acquire)) {
        BusyPump started = StartWorkerWhenFree(task, traceRunning);
        if (started == BusyPump::Waiting) return started;
    }
    if (!task.done.load(std::memory_order_acquire)) return BusyPump::Running;
    // Only a thread this task started is joined here: a task dropped before
    // it started may leave the trace worker in the slot.
    if (task.threadStarted && JoinWorkerThread(task) && task.atJoin) {
        std::function<void()> handOver = std::move(task.atJoin);
        task.atJoin = nullptr;
        handOver();
    }
    if (!task.immediate) {
        if (task.progress.load() >= 0) task.progress.store(1.0f);
        const double now = ClockSeconds(task.clock);
        if (task.doneAt < 0) task.doneAt = now;
        if (now - task.doneAt < kBusyLingerSeconds) return BusyPump::Lingering;
    }
    FinishBusyTask(task);
    return BusyPump::Finished;
}

bool CancelBusyTask(BusyTask& task) {
    if (!task.busy.load() || !task.cancellable || task.done.load()) return false;
    if (task.threadStarted) {
        task.cancelRequested.store(true);
    } else {
        task.job = nullptr;
        task.done.store(true);
    }
    return true;
}

void AbandonBusyTask(BusyTask& task) {
    task.abandoned.store(true);
    task.cancelRequested.store(true);
}

void ClearStepCancel(BusyTask& task) {
    task.cancelRequested.store(false);
    // Both flags are sequentially consistent: an abandon that came before this
    // read is raised again here; one after it stores its cancel after our clear.
    if (task.abandoned.load()) task.cancelRequested.store(true);
}

void MarkWorkerSlotThread() { tOnWorkerSlot = true; }

bool JoinWorkerThread(BusyTask& task) {
    if (tOnWorkerSlot || (task.worker.joinable() && task.worker.get_id() == std::this_thread::get_id())) {
        std::printf("[UI] refused to join the worker thread from itself\n");
        return false;
    }
    if (!task.worker.joinable()) {
        task.workerIsTrace = false;
        return true;
    }
    try {
        task.worker.join();
    } catch (const std::system_error& e) {
        std::printf("[UI] joining the worker thread failed: %s\n", e.what());
        return false;
    }
    task.workerIsTrace = false;
    return true;
}

void JoinThreadHandle(ThreadHandleHolder& holder) {
    if (!holder.valid) return;
    if (holder.handle.joinable() && holder.handle.get_id() != std::this_thread::get_id()) {
        holder.handle.join();
    }
    holder.valid = false;
}

std::string LayerSoundsToastText(const LayerSoundCounts& counts, bool noLibrary) {
    const std::string text = LayerSoundCountsText(counts);
    if (text.empty()) return text;
    return noLibrary ? "No palette \xE2\x80\x94 " + text : text;
}
