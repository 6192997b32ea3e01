// output_devices.cpp — the device worker's requests, its thread and
// the panel's copy of the list.
//
// Index
//   WorkerLoop
//   Requests        RequestDeviceRefresh / RequestDeviceSwitch / StopAudioDeviceWorker
//   UpdateDeviceListView
#include "operations/output_devices.h"

#include <cstdio>
#include <system_error>
#include <utility>

AudioDeviceWorker gAudioDeviceWorker;

AudioDeviceWorker::~AudioDeviceWorker() { StopAudioDeviceWorker(*this); }

namespace {

void WorkerLoop(AudioDeviceWorker* w) {
    std::unique_lock<std::mutex> lock(w->mutex);
    for (;;) {
        w->wake.wait(lock, [w] { return w->stopping || w->refreshWanted || w->switchWanted; });
        if (w->stopping) return;
        const bool doSwitch = w->switchWanted;
        const std::string name = std::move(w->switchName);
        const uint32_t id = w->switchId;
        AudioOutput* output = w->output;
        w->switchWanted = w->refreshWanted = false;
        w->switchName.clear();
        lock.unlock();
        // A switch reads the list again itself.
        if (doSwitch)
            SelectOutputDevice(*output, name, id);
        else
            RefreshOutputDevices(*output);
        w->finished.fetch_add(1);
        lock.lock();
    }
}

// With the worker's mutex held: the thread, started on the first request.
bool EnsureThreadLocked(AudioDeviceWorker& w, AudioOutput& output) {
    if (w.stopping) return false;
    w.output = &output;
    if (w.thread.joinable()) return true;
    try {
        w.thread = std::thread(WorkerLoop, &w);
    } catch (const std::system_error& e) {
        std::printf("[Audio] the device worker could not start: %s\n", e.what());
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Requests
// ---------------------------------------------------------------------------

void RequestDeviceRefresh(AudioDeviceWorker& w, AudioOutput& output) {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (!EnsureThreadLocked(w, output)) return;
    w.refreshWanted = true;
    w.wake.notify_one();
}

void RequestDeviceSwitch(AudioDeviceWorker& w, AudioOutput& output, const std::string& name, uint32_t id) {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (!EnsureThreadLocked(w, output)) return;
    w.switchWanted = true;
    w.switchName = name;
    w.switchId = id;
    w.wake.notify_one();
}

void StopAudioDeviceWorker(AudioDeviceWorker& w) {
    {
        std::lock_guard<std::mutex> lock(w.mutex);
        w.stopping = true;
        w.wake.notify_one();
    }
    if (w.thread.joinable()) w.thread.join();
}

// ---------------------------------------------------------------------------
// UpdateDeviceListView
// ---------------------------------------------------------------------------

void UpdateDeviceListView(DeviceListView& view, AudioDeviceWorker& worker, AudioOutput& output) {
    const uint64_t finished = worker.finished.load();
    if (view.valid && view.seen == finished) return;
    AudioOutputStatus status;
    if (!TryReadAudioOutputStatus(output, status)) return;  // busy: keep the old copy
    view.status = std::move(status);
    view.valid = true;
    view.seen = finished;
}
