// spots_and_beds.h — the project the edit holds are measured on: many small
// silent layers and two Beds of a real file.
//
// Index
//   AddSpotsAndBeds      `voices` layers, two per Spot every 0.1 s, and two Beds
#pragma once

#include <string>
#include <vector>

#include "document/project.h"

// Fills an empty project with `voices` silent (placeholder) layers, two per
// Spot event every 0.1 s across the three groups, and two Beds of three
// seconds pinned to a second of noise written to `bedFile` (one near the
// start, one in the middle), marks it rendered and lists the Beds' event
// indices in `beds`. False when the file could not be written.
bool AddSpotsAndBeds(Project& project, const std::string& bedFile, int voices, std::vector<int>& beds);
