// file_fault.h — the seam through which a test fails or watches a step of
// the file routines.
//
// Index
//   FileFaultPoint / FileFaultHook   where a write, a move or an open asks the test's hook
//
// No hook is installed anywhere: a routine meets one only when its caller
// hands it one, and a record that carries one (a save's context, a held
// folder, a video player) gets it from its owner, a test.
#pragma once

#include <string>

// Handed to the file routines (file_util.h) by whoever calls them (the
// owner of a job passes the one its observer carries; the program passes
// none), a hook is asked before they write a file's data (point Write, with the
// path written), before they move a file into place (point Move, with the
// target) and before OpenRegularFile opens a file (point Open). A non-zero
// answer fails that step with that error number, as the system would
// (ENOSPC: a full disk; ENOENT at Open: no such file, without asking the
// system). Point Opened comes once OpenRegularFile has opened and checked a
// file; its answer is ignored (a test may change what stands at the path
// then: the caller holds the descriptor). A routine given a hook hands it to
// the routines it calls. The hook may be called from any thread and must be
// safe there.
enum class FileFaultPoint { Write, Move, Open, Opened };
using FileFaultHook = int (*)(FileFaultPoint point, const std::string& path);
