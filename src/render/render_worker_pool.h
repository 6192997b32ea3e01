// render_worker_pool.h — the render engine's small pool of scoring threads.
//
// Index
//   RenderThreadCount        how many threads a pass works with (0 = every core)
//   RunRenderChunks          run job(c) for every chunk c, on the pool and the caller
//   StopRenderWorkerPool     stop and join the workers (the program's way out)
//   RenderWorkerThreadCount  workers alive now (tests)
//   RenderWorkersAsleep      workers waiting on the condition variable now (tests)
//
// The pool is process-wide. Its threads start with the first job that wants
// them and then sleep on a condition variable between jobs; they are joined by
// StopRenderWorkerPool (called by the shell when the program quits) or at the
// latest when the process ends. The caller always works on its own job too,
// so a job of one thread never wakes a worker. Only one job uses the workers
// at a time: a second caller that finds them busy (a recipe preview during a
// render) runs its chunks on its own thread instead of waiting.
//
// A job must not depend on which thread runs which chunk: each chunk writes
// only its own output, and the caller combines the outputs in chunk order.
#pragma once

#include <functional>

// requested >= 1: that many; 0 or less: one per core the process may run on
// (ProcessorCount: at least 1, at most 64).
int RenderThreadCount(int requested);

// Calls job(c) once for every c in 0..chunkCount-1, on at most `threads`
// threads (the caller's included), and returns when every call has returned.
// Chunks are handed out in increasing order, but may finish in any order.
void RunRenderChunks(int chunkCount, int threads, const std::function<void(int)>& job);

// Wakes the workers, lets a running job finish, joins them. A later job
// starts them again.
void StopRenderWorkerPool();

int RenderWorkerThreadCount();

// Workers blocked on the pool's condition variable, where they spend no
// processor time until a job or the stop wakes them.
int RenderWorkersAsleep();
