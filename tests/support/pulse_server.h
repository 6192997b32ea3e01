// pulse_server.h — a private PulseAudio server for a test: a null sink at a
// given rate in 32-bit float, reached through its own socket, and recordings
// of the sink's monitor.
//
// Index
//   PulseInstalled        whether the pulseaudio and parec programs exist
//   PulseServer           start (with the reason when it fails), the address, its underruns
//                         (counted, and placed in a recording: UnderrunStretches), stop
//   PulseRecording        parec writing the monitor's raw float frames to a file, and
//                         when (on the test's clock) the sink rendered its first frame
//
// The server runs as a user instance (-n: no default script, explicit
// modules only, never exits when idle; real-time scheduling where it is
// granted, and a debug log with times, which names the start and the end of
// every underrun of a stream) from a temporary folder that holds its runtime
// files, its home and its socket, as root or as any user. It
// dies with the test process even when the test crashes, and the folder is
// removed when the server stops. Clients of the test process reach it
// through PULSE_SERVER, with autospawning of any other server turned off.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/recording_check.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

bool PulseInstalled();

class PulseRecording;

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
    // Where the underruns the server has logged so far fall in `recording`
    // (for CheckRecording): each from the log line of its start to the one of
    // its end (or the recording's end), in the recording's frames, widened on
    // both sides by what places them no closer (kUnderrunMargin in the
    // source, and the uncertainty of the log's clock), joined where they
    // meet, in order. Underruns of every playback stream count; a test plays
    // one. Empty when the recording never received a frame.
    std::vector<HeardStretch> UnderrunStretches(const PulseRecording& recording) const;
    void Stop();

    const std::string& Folder() const { return dir_.path(); }

private:
    // The log's times count from its first line: where that is on the
    // test's steady clock (seconds), and how far off it may be.
    bool FindLogClock();
    double logZero_ = 0;
    double logZeroSlack_ = -1;  // -1: not found

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
    int Rate() const { return rate_; }
    // When the sink rendered the recording's first frame, on the test's
    // steady clock (seconds), as the file's growth bounds it: the file holds
    // a frame only after the sink rendered it, and the sink renders in real
    // time, so no frame count seen at time t lets frame 0 come later than
    // t - count / rate (give or take the sink's one block of rendering
    // ahead). The earliest such bound over every look (one each 2 ms while
    // parec runs) is kept; -1 before any frame came.
    double FirstFrameClock() const { return firstFrame_.load(); }

private:
    void Watch();

    pid_t pid_ = -1;
    std::string path_;
    int rate_ = 0;
    std::atomic<bool> watching_{false};
    std::atomic<double> firstFrame_{-1};
    std::thread watcher_;
};
