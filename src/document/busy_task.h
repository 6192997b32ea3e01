// busy_task.h — the one long document operation that runs on the worker slot.
//
// Index
//   BusyTask            the record (lives in the application state)
//   StartBusyTask       queue a job; a request while one is queued is dropped
//   SetBusyStatus / BusyStatusText   the overlay's text, safe across threads
//   PumpBusyTask        the frame loop's half: start the worker, join it when done,
//                       let the bar linger, finish
//   WorkerWritesDocument  whether the interface must not read the document now
//   BusyLaunchHook      a call just before a worker that writes the document starts
//   CancelBusyTask      Escape or "Cancel": stop a cancellable task not yet done
//   AbandonBusyTask / ClearStepCancel   the program leaves: a cancel no job may clear
//   JoinWorkerThread    join the worker slot (refused from the worker itself)
//   ThreadHandleHolder / JoinThreadHandle   a second thread slot (the export thread)
//   LayerSoundsToastText  follow-up toast of a task that left layers silent or otherwise
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

#include "document/interface_clock.h"
#include "document/layer_counts.h"

// Called on the interface thread just before the worker of a task that
// writes the document starts (the window test driver keeps the document's
// dump fields of that moment).
using BusyLaunchHook = void (*)();

struct BusyTask {
    std::atomic<bool> busy{false};
    bool immediate = false;       // full renders: start at once, no frozen backdrop
    bool cancellable = false;
    char statusText[64] = {};     // guarded by statusMutex; use SetBusyStatus / BusyStatusText
    std::atomic<bool> done{false};
    std::atomic<bool> cancelRequested{false};
    // The program is leaving: every cancel stands, also one a job would clear
    // to finish its remaining steps (see ClearStepCancel).
    std::atomic<bool> abandoned{false};
    std::atomic<float> progress{-1.0f};  // 0..1, -1 = no bar
    // The clock the times below are read on (the application state's; null:
    // the running clock).
    const InterfaceClock* clock = nullptr;
    BusyLaunchHook launchHook = nullptr;  // null: none
    double startedAt = 0;
    double doneAt = -1;           // interface clock when first seen done; -1 = not yet
    std::function<void()> job;
    // Runs on the interface thread right after the worker is joined, before
    // anything else sees the job's work: a job that worked on its own copy of
    // the document hands it over here. Never runs for a job dropped unstarted.
    std::function<void()> atJoin;
    // The job works on a copy of its own (the render job): the document
    // itself stays the interface's to read until atJoin. Otherwise the
    // worker writes the document and nothing else may read it meanwhile.
    bool ownCopy = false;
    std::thread worker;           // shared with the picture-trace worker
    bool workerIsTrace = false;   // `worker` holds the picture-trace worker; every join clears it
    bool threadStarted = false;
    bool snapshotRequested = false;
    int snapshotFailures = 0;     // frames whose backdrop capture failed (frame driver)

    mutable std::mutex statusMutex;
};


// Returns true when the task was queued; false when one was already queued
// (the given job is destroyed and never runs).
bool StartBusyTask(BusyTask& task, const char* statusText, std::function<void()> job,
                   bool cancellable, float progress);

void SetBusyStatus(BusyTask& task, const char* text);
std::string BusyStatusText(const BusyTask& task);

enum class BusyPump {
    Idle,       // no task
    Waiting,    // queued: waiting for the backdrop snapshot or for the slot
    Running,    // the worker runs
    Lingering,  // done and joined; the full bar stays up a little longer
    Finished,   // the task ended this call: joined and cleared; run the follow-ups now
};

// How long a task that is not immediate stays up with a full bar after it is
// done, so that a fast job does not flash past unseen.
constexpr double kBusyLingerSeconds = 0.8;
// A backdrop that could not be captured this many times is given up: the
// task starts over an opaque backdrop instead of never starting.
constexpr int kBusySnapshotAttempts = 3;

// One frame's handling of the task, in the interface clock's time:
// - start: immediate tasks at once; others once the frame driver has
//   captured the backdrop (it clears snapshotRequested), or after
//   kBusySnapshotAttempts failed captures (snapshotRequested is then
//   cleared here). While `traceRunning` is raised the slot belongs to the
//   picture trace: the task stays queued, without blocking, and the slot is
//   joined once the flag has cleared.
// - done: the worker is joined and atJoin runs; an immediate task finishes at once, another
//   fills its bar (when it has one) and finishes kBusyLingerSeconds after it
//   was first seen done.
// - finish: busy, immediate, cancellable, threadStarted, the job, atJoin, ownCopy,
//   the done time and the cancel flag are cleared.
BusyPump PumpBusyTask(BusyTask& task, const std::atomic<bool>* traceRunning = nullptr);

// True from the start of a worker that writes the document itself (not
// ownCopy) until its job is done: readers of the document on the interface
// thread must use what they took before. Interface thread only.
bool WorkerWritesDocument(const BusyTask& task);


// Escape or the overlay's "Cancel". Does nothing (false) unless a task is
// busy, cancellable and not done. A running job sees cancelRequested and ends
// early; a job whose thread has not started yet (it waits for the backdrop
// or for the picture trace to free the slot) is dropped and never runs, so
// the trace, which polls the same flag, is not stopped by it.
bool CancelBusyTask(BusyTask& task);

// The program leaves (quit, shutdown): raises the cancel for good. A job that
// treats a cancel as "stop this step" and clears it to finish in order (a
// render still builds the voices of what it did) must not eat this one, or
// the quit waits for every voice of a large project.
void AbandonBusyTask(BusyTask& task);

// Called by such a job on its worker: clears the cancel unless the task was
// abandoned, also when the abandon comes while it clears.
void ClearStepCancel(BusyTask& task);

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

// The toast after a task (an open, a render) when layers went silent or play
// otherwise than measured: the counts worded as the export's final text
// words them ("3 layers that matched no sound; 1 layer from a changed
// sound; ..."), after "No palette — " when no library is loaded; "" when
// every count is zero.
std::string LayerSoundsToastText(const LayerSoundCounts& counts, bool noLibrary);
