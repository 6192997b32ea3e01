// synthetic_project.h — a large document for timing the project file and the
// JSON reader (about 20 MB of project text).
#pragma once

#include "document/project.h"

// 2000 events of every shape with three curves each, and 6000 layers with
// paths, ids, fill gains and EQ gains. The content is fixed, so the text it
// gives is the same from run to run.
Project MakeSyntheticProject(int eventCount = 2000, int resultCount = 6000);
