// program_work.h — whether the program's own document (gProject, its
// library, engine and app state) still has work going after an open, for
// tests and benchmarks that drive the program's frame loop headless.
//
// Index
//   ProgramStillWorking   the open, its voices, the scan, the probe or a rebuild they asked for, not yet done
#pragma once

// The open's voices, the library scan it starts, the probe and whatever
// rebuild they ask for: true while any of them is queued or running.
bool ProgramStillWorking();
