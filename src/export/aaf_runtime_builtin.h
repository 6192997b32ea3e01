// aaf_runtime_builtin.h — the program's own AAF library, the table the
// runtime loads under the default library name.
#pragma once

#include "export/aaf_library_table.h"

// The program's own library under kAafDefaultLibraryName: AAFFileOpenNewModifyEx
// opens a new file of our object model, AAFGetPluginManager hands out a
// manager with nothing to register, the other required entry points are
// stubs that return kAafResultNotImplemented.
const AafLibraryTable& AafBuiltInLibrary();
