// busy_task.h — the one long document operation that runs on the worker slot.
//
// Index
//   BusyTask            the record (lives in the application state)
//   taskQueued          process-wide: a task is queued and not yet finished
//   StartBusyTask       queue a job; a request while one is queued is dropped
//   SetBusyStatus / BusyStatusText   the overlay's text, safe across threads
//   PumpBusyTask        the frame loop's half: start the worker, join it when done
//   JoinWorkerThread    join the worker slot (refused from the worker itself)
//   ThreadHandleHolder / JoinThreadHandle   a second thread slot (the export thread)
//   PlaceholderToastText  follow-up toast of a render with placeholder layers
//   InterfaceClock      seconds since the interface started
//
// The job runs on the worker thread and owns the document while `busy` is set;
// the interface edits nothing meanwhile. Every job sets `done` as its last
// step; the worker wrapper sets it too, also when the job throws, so the
// overlay can never stay up forever.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

struct BusyTask {
    std::atomic<bool> busy{false};
    bool immediate = false;       // full renders: start at once, no frozen backdrop
    bool cancellable = false;
    char statusText[64] = {};     // guarded by statusMutex; use SetBusyStatus / BusyStatusText
    std::atomic<bool> done{false};
    std::atomic<bool> cancelRequested{false};
    std::atomic<float> progress{-1.0f};  // 0..1, -1 = no bar
    double startedAt = 0;
    std::function<void()> job;
    std::thread worker;           // shared with the picture-trace worker
    bool workerIsTrace = false;   // `worker` holds the picture-trace worker; every join clears it
    bool threadStarted = false;
    bool snapshotRequested = false;

    mutable std::mutex statusMutex;
};

extern std::atomic<bool> taskQueued;

// Returns true when the task was queued; false when one was already queued
// (the given job is destroyed and never runs).
bool StartBusyTask(BusyTask& task, const char* statusText, std::function<void()> job,
                   bool cancellable, float progress);

void SetBusyStatus(BusyTask& task, const char* text);
std::string BusyStatusText(const BusyTask& task);

enum class BusyPump {
    Idle,      // no task
    Waiting,   // queued, waiting for the backdrop snapshot
    Running,   // the worker runs
    Finished,  // the task ended this call: joined and cleared; run the follow-ups now
};

// One frame's handling of the task. The frame driver clears
// snapshotRequested once it has captured the backdrop; immediate tasks do
// not wait for it.
BusyPump PumpBusyTask(BusyTask& task);

// Joins the worker slot when joinable. Returns false (and joins nothing) when
// called from the worker thread itself, or when the join fails.
bool JoinWorkerThread(BusyTask& task);
// Called first by any other routine that runs in the worker slot (the
// picture trace), so that its own joins of the slot are refused too.
void MarkWorkerSlotThread();

struct ThreadHandleHolder {
    std::thread handle;
    bool valid = false;
};
void JoinThreadHandle(ThreadHandleHolder& holder);

// "Some files unreadable — %d placeholder clip%s" or, without any library,
// "No palette — %d placeholder clip%s".
std::string PlaceholderToastText(int placeholderCount, bool noLibrary);

// The interface clock: seconds since start-up. Tests may replace the source.
double InterfaceClock();
void SetInterfaceClockSource(double (*source)());
