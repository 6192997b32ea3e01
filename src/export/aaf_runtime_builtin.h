// aaf_runtime_builtin.h — the program's own AAF library, the table the
// runtime loads under the default library name.
#pragma once

#include "export/aaf_library_table.h"

// The program's own library under kAafDefaultLibraryName, built on our
// object model: new files (with or without a file kind, or transient ones in
// memory), files written before opened for reading or for changing, the
// check whether a file is one of ours, and a plug-in manager with nothing to
// register. Every entry point it names does what its name says.
const AafLibraryTable& AafBuiltInLibrary();
