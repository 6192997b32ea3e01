// pulse_server.h — a private PulseAudio server for a test: a null sink at a
// given rate in 32-bit float, reached through its own socket, and recordings
// of the sink's monitor.
//
// Index
//   PulseInstalled        whether the pulseaudio and parec programs exist
//   PulseServer           start (with the reason when it fails), the address, its underruns, stop
//   PulseRecording        parec writing the monitor's raw float frames to a file
//   RecordingCheck / CheckRecording   a recording against the mix it should hold
//
// The server runs as a user instance (-n: no default script, explicit
// modules only, never exits when idle; real-time scheduling where it is
// granted, and a debug log, which names every underrun of a stream) from a temporary folder that holds
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
    // Underruns of playback streams the server has logged so far (it played
    // silence because a stream had nothing for it), the start of each
    // stream's play aside.
    int Underruns() const;
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

// What a comparison of a sink's recording with the mix it should hold found.
// The server may play silence where a stream was late (an underrun it logs),
// and when the stream comes back it may drop a little of what was waiting
// (up to a few tens of milliseconds): there the recording resumes later in
// the mix, after exact zeros. The program's mixer may leave a block silent
// too (another thread held its lock; it counts them) and fades the next one
// in over 5 ms: the recording may come back through such a fade. Anything else (a difference, a jump back in
// the mix, a jump forward with no underrun to account for it) is a fault of
// the program.
struct RecordingCheck {
    bool ok = false;
    bool shortRecording = false;  // not ok only because the recording ends too soon
    std::string problem;  // what parted, and where, when not ok
    int jumps = 0;        // places where the recording resumed later in the mix
    double largest = 0;   // the largest magnitude compared
};
// Compares `frames` frames of `mix` (interleaved stereo) from frame
// `mixFrom` with `heard`, whose frame `start` (to within 64 frames) holds mix
// frame `mixFrom`.
// Each jump must be one of the `underruns` the server logged (or the
// program's silent blocks, where the caller counts them in).
RecordingCheck CheckRecording(const std::vector<float>& heard, const std::vector<float>& mix, int64_t mixFrom,
                              int64_t frames, int64_t start, int underruns);
