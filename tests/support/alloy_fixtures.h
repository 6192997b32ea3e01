// alloy_fixtures.h — alloy results over small sound files written at run time.
//
// Index
//   WriteFloatWav     samples to a 32-bit float file (exact when read back at its rate)
//   MakeAlloyResult   an alloy result whose main source is a whole file
//   SetAlloySource    point one of the three further sources at a whole file
#pragma once

#include <string>
#include <vector>

#include "document/project.h"

class TempDir;

// dir/name as a float WAV of interleaved `samples`; "" when it cannot be written.
std::string WriteFloatWav(const TempDir& dir, const std::string& name, const std::vector<float>& samples,
                          int channels = 1, int rate = 48000);

// procMode 3, the given algorithm and duration, no alloy curves, the main
// source from 0 over `duration`, the other sources absent.
RenderResult MakeAlloyResult(int algo, float duration, const std::string& mainPath, int id = 0);

void SetAlloySource(AlloySource& source, const std::string& path, float duration);
