// thread_gate.h — holds a worker thread at a hook until the test lets it go.
//
// A test that must look at the other side while a worker provably still runs
// installs Hook() where the worker calls back, and calls Open() when done
// looking. Every call of the hook waits while the gate is shut; the first one
// is reported to WaitUntilReached(). The gate opens itself when destroyed, so
// a test that stops early never leaves a worker (and the join after it)
// waiting forever: declare it after the object whose destructor joins the
// worker. The hook keeps the state alive for as long as it is held.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class ThreadGate {
public:
    ThreadGate() : state_(std::make_shared<State>()) {}
    ~ThreadGate() { Open(); }
    ThreadGate(const ThreadGate&) = delete;
    ThreadGate& operator=(const ThreadGate&) = delete;

    std::function<void()> Hook() const {
        return [state = state_] {
            std::unique_lock<std::mutex> lock(state->mutex);
            state->reached = true;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->open; });
        };
    }

    // True once a thread has called the hook; false when none has within
    // `deadline` (generous: it only turns a hang into a failure).
    bool WaitUntilReached(std::chrono::seconds deadline = std::chrono::seconds(60)) const {
        std::unique_lock<std::mutex> lock(state_->mutex);
        return state_->changed.wait_for(lock, deadline, [&] { return state_->reached; });
    }

    void Open() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->open = true;
        state_->changed.notify_all();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool reached = false;
        bool open = false;
    };
    std::shared_ptr<State> state_;
};
