// clip_fixtures.h — reading audio back and running sox as an independent reference.
//
// Index
//   ReadAudio     whole file as interleaved floats, with channels and rate
//   RunTool       run a program with an argument list (no shell); true on exit 0
//   SoxAvailable  whether the sox program can be run
#pragma once

#include <string>
#include <vector>

bool ReadAudio(const std::string& path, std::vector<float>& interleaved, int& channels, int& rate);
bool RunTool(const std::vector<std::string>& argv);
bool SoxAvailable();
