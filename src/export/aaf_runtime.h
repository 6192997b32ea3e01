// aaf_runtime.h — the AAF runtime the session writer calls: a library of
// named entry points, loaded on first use, resolved by name and kept until
// the process exits, reached through forwarders that carry the entry points'
// own names. Our library is a table of entry points built into the program
// (its file calls create, read and change files with our own object model);
// tests install tables of their own under a library name.
//
// Index
//   (results, entry points, library tables and their signatures: aaf_library_table.h)
//   AafInstallLibraryTable / AafRemoveLibraryTable   tables that tests load by name
//   AAFDLL                          the one loaded library of the process
//   AAFLoad / AAFUnload / GetAAFDLL / AafLoadedLibrary
//   LoadAAFLibrary / FindAAFSymbol / UnloadAAFLibrary   the loading mechanism
//   Forwarders                      the file calls and AAFGetPluginManager
//
// Only the export thread loads and calls the library; the exit handler
// unloads it after every worker has stopped. Nothing here is locked.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "export/aaf_library_table.h"

// --- Libraries ---------------------------------------------------------------------

// Tables installed here are found by name before the built-in library (a
// test table named "AAFCOAPI.dll" stands in for ours). The table must
// outlive its installation.
void AafInstallLibraryTable(const AafLibraryTable* table);
void AafRemoveLibraryTable(const AafLibraryTable* table);

// --- The loaded library ------------------------------------------------------------------

class AAFDLL {
public:
    AAFDLL() = default;
    AAFDLL(const AAFDLL&) = delete;
    AAFDLL& operator=(const AAFDLL&) = delete;
    // Clears the process's pointer to the instance.
    virtual ~AAFDLL();

    // Loads the library and resolves its entry points; 0, or the error of the
    // load or of the first required entry point that does not resolve.
    AafResult Load(const char* libraryName);

    AafEntryPoint Entry(AafEntry which) const { return entries[static_cast<int>(which)]; }

    AafModule module = nullptr;
    std::array<AafEntryPoint, kAafEntryCount> entries{};
};

// Loads the library (null: "AAFCOAPI.dll") into the process's one instance.
// kAafResultAlreadyLoaded when an instance exists; a failed load leaves none.
AafResult AAFLoad(const char* libraryName = nullptr);
// Frees the library and destroys the instance (0 without one). Registered
// as an exit handler on the first load.
AafResult AAFUnload();
// The instance, loading the default library when there is none; *out is
// null when the result is negative.
AafResult GetAAFDLL(AAFDLL** out);
// The instance, or null when no library is loaded; loads nothing.
AAFDLL* AafLoadedLibrary();

AafResult LoadAAFLibrary(const char* name, AafModule* out);
// 0 with *out unset when the symbol exists but resolves to nothing.
AafResult FindAAFSymbol(AafModule module, const char* symbol, AafEntryPoint* out);
AafResult UnloadAAFLibrary(AafModule module);

// --- Forwarders ------------------------------------------------------------------------------
// Each calls its entry point of the loaded library (loading it when needed)
// inside an exception guard: a throw becomes kAafResultUnexpectedException.

AafResult AAFFileOpenExistingRead(const char16_t* path, uint32_t modeFlags, std::unique_ptr<AafFile>* file);
AafResult AAFFileOpenExistingModify(const char16_t* path, uint32_t modeFlags,
                                    const AafProductIdentification* identification, std::unique_ptr<AafFile>* file);
AafResult AAFFileOpenNewModify(const char16_t* path, uint32_t modeFlags,
                               const AafProductIdentification* identification, std::unique_ptr<AafFile>* file);
AafResult AAFFileOpenNewModifyEx(const char16_t* path, const AafAuid* fileKind, uint32_t modeFlags,
                                 const AafProductIdentification* identification, std::unique_ptr<AafFile>* file);
AafResult AAFFileOpenTransient(const AafProductIdentification* identification, std::unique_ptr<AafFile>* file);
AafResult AAFFileIsAAFFile(const char16_t* path, AafAuid* fileKind, bool* isAafFile);
AafResult AAFGetPluginManager(std::unique_ptr<AafPluginManager>* manager);
