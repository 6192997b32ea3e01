// pulse_server.h — a private PulseAudio server for a test: a null sink at a
// given rate in 32-bit float, reached through its own socket, and recordings
// of the sink's monitor.
//
// Index
//   PulseInstalled        whether the pulseaudio and parec programs exist
//   PulseServer           start (with the reason when it fails), the address, stop
//   PulseRecording        parec writing the monitor's raw float frames to a file
//
// The server runs as a user instance (-n: no default script, explicit
// modules only, never exits when idle) from a temporary folder that holds
// its runtime files, its home and its socket, as root or as any user. It
// dies with the test process even when the test crashes, and the folder is
// removed when the server stops. Clients of the test process reach it
// through PULSE_SERVER, with autospawning of any other server turned off.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/scoped_environment.h"
#include "support/temp_dir.h"

bool PulseInstalled();

class PulseServer {
public:
    PulseServer() = default;
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // A null sink named `sink` at `rate` Hz, 2 channels of float32le. False,
    // with the server's own words in `why`, when it does not answer within
    // 30 s.
    bool Start(const std::string& sink, int rate, std::string& why);
    // "unix:<socket>"
    std::string Address() const;
    // Points this process's PulseAudio clients at the server (restored by Stop).
    void UseInThisProcess();
    void Stop();

    const std::string& Folder() const { return dir_.path(); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
    std::string socket_;
    std::unique_ptr<ScopedEnvironment> environment_;  // while this process's clients use the server
};

class PulseRecording {
public:
    PulseRecording() = default;
    ~PulseRecording();
    PulseRecording(const PulseRecording&) = delete;
    PulseRecording& operator=(const PulseRecording&) = delete;

    // Records `source` of the server at `rate`, 2 channels of float32le, into
    // `path`. False when parec cannot be started.
    bool Start(const PulseServer& server, const std::string& source, int rate, const std::string& path);
    // Frames written so far.
    int64_t Frames() const;
    // Ends parec; the file then holds every frame it received.
    void Stop();
    // The recording, interleaved.
    std::vector<float> Samples() const;

private:
    pid_t pid_ = -1;
    std::string path_;
};
