// synthetic_project.h — a large document for timing the project file and the
// JSON reader (about 20 MB of project text), and the files benchmarks of
// opening and saving projects share.
//
// Index
//   MakeSyntheticProject        the document
//   SyntheticProjectFileForRun  it as a project file whose sounds exist
//   ThousandSoundsForRun        1,000 distinct files of 1 MiB (1 GB of audio)
#pragma once

#include <string>
#include <vector>

#include "document/project.h"

// 2000 events of every shape with three curves each, and 6000 layers with
// paths, ids, fill gains and EQ gains. The content is fixed, so the text it
// gives is the same from run to run.
Project MakeSyntheticProject(int eventCount = 2000, int resultCount = 6000);

// The synthetic project written once per process into a folder removed at
// exit, its layers pointing at 600 small files in its Audio folder with the
// ids a save would store (the fingerprints are taken here, not by a load).
const std::string& SyntheticProjectFileForRun();

// 1,000 files of 1 MiB with distinct content, written once per process.
const std::vector<std::string>& ThousandSoundsForRun();
