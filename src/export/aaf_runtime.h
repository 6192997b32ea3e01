// aaf_runtime.h — the AAF runtime the session writer calls: a library of
// named entry points, loaded on first use, resolved by name and kept until
// the process exits, reached through forwarders that carry the entry points'
// own names. Our library is a table of entry points built into the program
// (its file calls build the session with our own object model); tests
// install tables of their own under a library name.
//
// Index
//   AafResult and its codes         32-bit results, negative on failure
//   AafSystemErrorResult / AafStatusResult   system and object-model failures as results
//   AafEntry, kAafEntryNames        the 24 entry points, in slot order
//   AafLibraryTable, AafModule      a library: its name and entry points by name
//   AafInstallLibraryTable / AafRemoveLibraryTable   tables that tests load by name
//   AafPluginManager                what AAFGetPluginManager hands out
//   AAFDLL                          the one loaded library of the process
//   AAFLoad / AAFUnload / GetAAFDLL / AafLoadedLibrary
//   LoadAAFLibrary / FindAAFSymbol / UnloadAAFLibrary   the loading mechanism
//   Forwarders                      AAFFileOpenNewModifyEx, AAFGetPluginManager
//   AafBuiltInLibrary               the program's own table (aaf_runtime_builtin.cpp)
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

#include "export/aaf_objects.h"

// --- Results ---------------------------------------------------------------------

using AafResult = int32_t;

inline constexpr AafResult kAafResultOk = 0;
// A required argument (library name, module, symbol name or output) is missing.
inline constexpr AafResult kAafResultNullParam = static_cast<AafResult>(0x80120164u);
inline constexpr AafResult kAafResultNoMemory = static_cast<AafResult>(0x8012015Eu);
// AAFLoad while a library is loaded already.
inline constexpr AafResult kAafResultAlreadyLoaded = static_cast<AafResult>(0x80120166u);
// An entry point the call needs is not in the loaded library.
inline constexpr AafResult kAafResultEntryNotFound = static_cast<AafResult>(0x80120401u);
// The library call threw.
inline constexpr AafResult kAafResultUnexpectedException = static_cast<AafResult>(0x801201D1u);
// An entry point our library has only as a stub.
inline constexpr AafResult kAafResultNotImplemented = static_cast<AafResult>(0x80004001u);

// The system error numbers our loading mechanism reports.
inline constexpr uint32_t kAafErrorModuleNotFound = 126;
inline constexpr uint32_t kAafErrorProcNotFound = 127;

// A failed system call: 0x80070000 | (code & 0xFFFF).
AafResult AafSystemErrorResult(uint32_t systemError);
// An object-model failure as a result: 0x80127000 | the status number (0 for Ok).
AafResult AafStatusResult(AafStatus status);

// --- Entry points ------------------------------------------------------------------

enum class AafEntry : int {
    FileOpenExistingRead,
    FileOpenExistingModify,
    FileOpenNewModify,
    FileOpenNewModifyEx,
    FileOpenTransient,
    FileIsAAFFile,
    RawStorageIsAAFFile,
    FileIsAAFFileKind,
    RawStorageIsAAFFileKind,
    GetPluginManager,
    CreateRawStorageMemory,
    CreateRawStorageDisk,
    CreateRawStorageCachedDisk,
    CreateRawStorageCached,
    CreateRawStorageCached2,
    CreateAAFFileOnRawStorage,
    SetProgressCallback,
    GetFileEncodings,
    SetDiagnosticOutput,
    GetLibraryVersion,
    GetLibraryPathNameBufLen,
    GetLibraryPathName,
    ResultToTextBufLen,
    ResultToText,
    Count
};
inline constexpr int kAafEntryCount = static_cast<int>(AafEntry::Count);
// The symbol names, by slot.
extern const std::array<const char*, kAafEntryCount> kAafEntryNames;

// An entry point as resolved by name, before it is cast to its signature.
using AafEntryPoint = void (*)();

template <typename Fn>
AafEntryPoint AafEntryOf(Fn fn) {
    return reinterpret_cast<AafEntryPoint>(fn);
}

// --- Libraries ---------------------------------------------------------------------

// A library: entry points by symbol name. An entry whose pointer is null is
// a symbol that resolves to nothing.
struct AafLibraryTable {
    std::string name;
    std::vector<std::pair<std::string, AafEntryPoint>> entries;
};
using AafModule = const AafLibraryTable*;

// The runtime's default library name.
inline constexpr const char* kAafDefaultLibraryName = "AAFCOAPI.dll";

// Tables installed here are found by name before the built-in library (a
// test table named "AAFCOAPI.dll" stands in for ours). The table must
// outlive its installation.
void AafInstallLibraryTable(const AafLibraryTable* table);
void AafRemoveLibraryTable(const AafLibraryTable* table);

// The program's own library under kAafDefaultLibraryName: AAFFileOpenNewModifyEx
// opens a new file of our object model, AAFGetPluginManager hands out a
// manager with nothing to register, the other required entry points are
// stubs that return kAafResultNotImplemented.
const AafLibraryTable& AafBuiltInLibrary();

// --- Entry-point signatures ------------------------------------------------------------

struct AafPluginManager {
    std::function<AafResult()> registerSharedPlugins;
};

// path: zero-terminated UTF-16 (Utf8ToAafString); fileKind: kAafFileKindAaf512Binary.
using AafFileOpenNewModifyExFn = AafResult (*)(const char16_t* path, const AafAuid* fileKind, uint32_t modeFlags,
                                               const AafProductIdentification* identification,
                                               std::unique_ptr<AafFile>* file);
using AafGetPluginManagerFn = AafResult (*)(std::unique_ptr<AafPluginManager>* manager);

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

AafResult AAFFileOpenNewModifyEx(const char16_t* path, const AafAuid* fileKind, uint32_t modeFlags,
                                 const AafProductIdentification* identification, std::unique_ptr<AafFile>* file);
AafResult AAFGetPluginManager(std::unique_ptr<AafPluginManager>* manager);
