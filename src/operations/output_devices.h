// output_devices.h — the output devices, read and switched off the interface
// thread (the Settings tab lists and picks them).
//
// Index
//   AudioDeviceWorker      one thread that re-reads the device list or opens a picked device
//   gAudioDeviceWorker     the program's (its stop is registered with the shell's shutdown)
//   RequestDeviceRefresh / RequestDeviceSwitch / StopAudioDeviceWorker
//   DeviceListView / UpdateDeviceListView   the panel's copy of the list, swapped in whole
//
// Probing the audio system (PulseAudio, then ALSA) and opening a stream can
// stall for tens of milliseconds or more, so neither runs on the interface
// thread: the worker does, under the output's own mutex, and the panel takes
// a copy with TryReadAudioOutputStatus once the worker has finished, keeping
// its previous copy while the output is busy. A request made while the
// worker is busy is kept (a switch wins over a refresh) and runs next.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "playback/audio_output.h"

struct AudioDeviceWorker {
    AudioDeviceWorker() = default;
    ~AudioDeviceWorker();
    AudioDeviceWorker(const AudioDeviceWorker&) = delete;
    AudioDeviceWorker& operator=(const AudioDeviceWorker&) = delete;

    std::mutex mutex;  // guards the requests below
    std::condition_variable wake;
    AudioOutput* output = nullptr;
    bool refreshWanted = false;
    bool switchWanted = false;
    std::string switchName;
    uint32_t switchId = 0;
    bool stopping = false;  // once set, no request starts anything again
    std::thread thread;

    std::atomic<uint64_t> finished{0};  // requests carried out so far
};

extern AudioDeviceWorker gAudioDeviceWorker;

void RequestDeviceRefresh(AudioDeviceWorker& worker, AudioOutput& output);
void RequestDeviceSwitch(AudioDeviceWorker& worker, AudioOutput& output, const std::string& name, uint32_t id);
// Waits for the request in progress, then ends the thread.
void StopAudioDeviceWorker(AudioDeviceWorker& worker);

struct DeviceListView {
    AudioOutputStatus status;
    bool valid = false;
    uint64_t seen = ~uint64_t{0};  // the worker's `finished` when the copy was taken
};

// Takes a new copy when the worker has finished something since the last one
// (or there is none yet) and the output's mutex is free; never waits.
void UpdateDeviceListView(DeviceListView& view, AudioDeviceWorker& worker, AudioOutput& output);
