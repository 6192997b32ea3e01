// clip_fixtures.h — reading audio back and running sox as an independent reference.
//
// Index
//   ReadAudio     whole file as interleaved floats, with channels and rate
//   RunTool       run a program with an argument list (no shell); true on exit 0
//   SoxAvailable  whether the sox program can be run
//   SoxProcess    mono float samples through `sox in out <effect...>`
#pragma once

#include <string>
#include <vector>

class TempDir;

bool ReadAudio(const std::string& path, std::vector<float>& interleaved, int& channels, int& rate);
bool RunTool(const std::vector<std::string>& argv);
bool SoxAvailable();
// Writes `in` as 32-bit float, runs sox with `effect` (no dither) and reads
// the result back. Failures are reported to the running test.
std::vector<float> SoxProcess(const TempDir& dir, const std::vector<float>& in, int rate,
                              const std::vector<std::string>& effect);
