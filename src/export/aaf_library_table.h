// aaf_library_table.h — what an AAF library is to the runtime: its results,
// its entry points by name and slot, and the signatures the session writer
// calls them by.
//
// Index
//   AafResult and its codes         32-bit results, negative on failure
//   AafSystemErrorResult / AafStatusResult   system and object-model failures as results
//   AafEntry, kAafEntryNames        the 24 entry points, in slot order
//   AafLibraryTable, AafModule      a library: its name and entry points by name
//   AafPluginManager                what AAFGetPluginManager hands out
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

// --- Entry-point signatures ------------------------------------------------------------

struct AafPluginManager {
    std::function<AafResult()> registerSharedPlugins;
};

// Paths are zero-terminated UTF-16 (Utf8ToAafString); the only file kind is
// kAafFileKindAaf512Binary and no mode flags are taken.
using AafFileOpenExistingReadFn = AafResult (*)(const char16_t* path, uint32_t modeFlags,
                                                std::unique_ptr<AafFile>* file);
using AafFileOpenExistingModifyFn = AafResult (*)(const char16_t* path, uint32_t modeFlags,
                                                  const AafProductIdentification* identification,
                                                  std::unique_ptr<AafFile>* file);
using AafFileOpenNewModifyFn = AafFileOpenExistingModifyFn;
using AafFileOpenNewModifyExFn = AafResult (*)(const char16_t* path, const AafAuid* fileKind, uint32_t modeFlags,
                                               const AafProductIdentification* identification,
                                               std::unique_ptr<AafFile>* file);
using AafFileOpenTransientFn = AafResult (*)(const AafProductIdentification* identification,
                                             std::unique_ptr<AafFile>* file);
using AafFileIsAAFFileFn = AafResult (*)(const char16_t* path, AafAuid* fileKind, bool* isAafFile);
using AafGetPluginManagerFn = AafResult (*)(std::unique_ptr<AafPluginManager>* manager);
