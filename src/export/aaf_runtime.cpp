// aaf_runtime.cpp — loading the AAF library: the process's one AAFDLL, the
// loading mechanism over tables of entry points, and the guarded forwarders.
//
// Index
//   Library tables       installed tables, lookup by name
//   Loading mechanism    LoadAAFLibrary, FindAAFSymbol, UnloadAAFLibrary
//   AAFDLL               resolve order, required entry points
//   AAFLoad / AAFUnload / GetAAFDLL, the exit handler
//   Forwarders
#include "export/aaf_runtime.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "export/aaf_runtime_builtin.h"

namespace {

AAFDLL* gAafDll = nullptr;
bool gExitHandlerInstalled = false;

std::vector<const AafLibraryTable*>& InstalledTables() {
    static std::vector<const AafLibraryTable*> tables;
    return tables;
}

void UnloadAtExit() { AAFUnload(); }

// A new instance, published; null when it cannot be allocated.
AAFDLL* CreateInstance() {
    AAFDLL* dll = new (std::nothrow) AAFDLL;
    if (!dll) return nullptr;
    gAafDll = dll;
    if (!gExitHandlerInstalled) gExitHandlerInstalled = std::atexit(UnloadAtExit) == 0;
    return dll;
}

}  // namespace

// --- Library tables --------------------------------------------------------------------

void AafInstallLibraryTable(const AafLibraryTable* table) {
    if (table) InstalledTables().insert(InstalledTables().begin(), table);
}

void AafRemoveLibraryTable(const AafLibraryTable* table) {
    auto& tables = InstalledTables();
    tables.erase(std::remove(tables.begin(), tables.end(), table), tables.end());
}

// --- Loading mechanism --------------------------------------------------------------------

AafResult LoadAAFLibrary(const char* name, AafModule* out) {
    if (!name || !out) return kAafResultNullParam;
    for (const AafLibraryTable* table : InstalledTables())
        if (table->name == name) {
            *out = table;
            return kAafResultOk;
        }
    if (std::strcmp(name, kAafDefaultLibraryName) == 0) {
        *out = &AafBuiltInLibrary();
        return kAafResultOk;
    }
    return AafSystemErrorResult(kAafErrorModuleNotFound);
}

AafResult FindAAFSymbol(AafModule module, const char* symbol, AafEntryPoint* out) {
    if (!module || !symbol || !out) return kAafResultNullParam;
    for (const auto& [name, entry] : module->entries)
        if (name == symbol) {
            // A symbol that exists but resolves to nothing: no error, no pointer.
            if (entry) *out = entry;
            return kAafResultOk;
        }
    return AafSystemErrorResult(kAafErrorProcNotFound);
}

AafResult UnloadAAFLibrary(AafModule module) { return module ? kAafResultOk : kAafResultNullParam; }

// --- AAFDLL ----------------------------------------------------------------------------------

AAFDLL::~AAFDLL() {
    if (gAafDll == this) gAafDll = nullptr;
}

AafResult AAFDLL::Load(const char* libraryName) {
    if (!libraryName) return kAafResultNullParam;
    AafResult r = LoadAAFLibrary(libraryName, &module);
    if (r != kAafResultOk) return r;

    // Resolves one entry point into its slot. A required one that does not
    // resolve ends the load: a symbol that resolves to nothing must never
    // leave a null pointer behind for a forwarder to call.
    auto resolve = [&](AafEntry which, bool required) -> AafResult {
        AafEntryPoint& slot = entries[static_cast<int>(which)];
        AafResult found = FindAAFSymbol(module, kAafEntryNames[static_cast<int>(which)], &slot);
        if (!required) return kAafResultOk;
        if (found != kAafResultOk) return found;
        return slot ? kAafResultOk : kAafResultEntryNotFound;
    };
    using E = AafEntry;
    struct Step {
        AafEntry which;
        bool required;
    };
    const Step head[] = {{E::FileOpenExistingRead, true}, {E::FileOpenExistingModify, true},
                         {E::FileOpenNewModify, true},    {E::FileOpenNewModifyEx, false},
                         {E::FileOpenTransient, true},    {E::FileIsAAFFile, true},
                         {E::RawStorageIsAAFFile, false}, {E::GetPluginManager, true},
                         {E::CreateRawStorageMemory, false}};
    for (const Step& s : head)
        if ((r = resolve(s.which, s.required)) != kAafResultOk) return r;
    // With raw storages in memory, the library must also offer them on disk
    // and files on top of them.
    if (Entry(E::CreateRawStorageMemory)) {
        if ((r = resolve(E::CreateRawStorageDisk, true)) != kAafResultOk) return r;
        if ((r = resolve(E::CreateAAFFileOnRawStorage, true)) != kAafResultOk) return r;
    }
    for (AafEntry which : {E::SetProgressCallback, E::CreateRawStorageCachedDisk, E::CreateRawStorageCached,
                           E::CreateRawStorageCached2, E::GetFileEncodings, E::FileIsAAFFileKind,
                           E::RawStorageIsAAFFileKind, E::SetDiagnosticOutput, E::GetLibraryVersion,
                           E::GetLibraryPathNameBufLen, E::GetLibraryPathName, E::ResultToTextBufLen,
                           E::ResultToText})
        resolve(which, false);
    return kAafResultOk;
}

// --- Load and unload -------------------------------------------------------------------------

AafResult AAFLoad(const char* libraryName) {
    if (gAafDll) return kAafResultAlreadyLoaded;
    AAFDLL* dll = CreateInstance();
    if (!dll) return kAafResultNoMemory;
    AafResult r = dll->Load(libraryName ? libraryName : kAafDefaultLibraryName);
    if (r != kAafResultOk) AAFUnload();
    return r;
}

AafResult AAFUnload() {
    AAFDLL* dll = gAafDll;
    if (!dll) return kAafResultOk;
    if (dll->module) {
        AafResult r = UnloadAAFLibrary(dll->module);
        if (r != kAafResultOk) return r;
        dll->entries.fill(nullptr);
        dll->module = nullptr;
    }
    delete dll;  // clears gAafDll
    return kAafResultOk;
}

AafResult GetAAFDLL(AAFDLL** out) {
    if (!out) return kAafResultNullParam;
    *out = nullptr;
    if (gAafDll) {
        *out = gAafDll;
        return kAafResultOk;
    }
    AAFDLL* dll = CreateInstance();
    if (!dll) return kAafResultNoMemory;
    AafResult r = dll->Load(kAafDefaultLibraryName);
    if (r != kAafResultOk) AAFUnload();
    if (r >= 0) *out = gAafDll;
    return r;
}

AAFDLL* AafLoadedLibrary() { return gAafDll; }

// --- Forwarders ----------------------------------------------------------------------------------

namespace {

// Calls the entry point `which` as `Fn` with `args`, loading the library when
// needed; an empty slot gives kAafResultEntryNotFound.
template <typename Fn, typename... Args>
AafResult Forward(AafEntry which, Args... args) {
    AAFDLL* dll = nullptr;
    AafResult r = GetAAFDLL(&dll);
    if (r < 0) return r;
    if (!dll) return kAafResultNullParam;
    AafEntryPoint entry = dll->Entry(which);
    if (!entry) return kAafResultEntryNotFound;
    try {
        return reinterpret_cast<Fn>(entry)(args...);
    } catch (...) {
        return kAafResultUnexpectedException;
    }
}

}  // namespace

AafResult AAFFileOpenExistingRead(const char16_t* path, uint32_t modeFlags, std::unique_ptr<AafFile>* file) {
    return Forward<AafFileOpenExistingReadFn>(AafEntry::FileOpenExistingRead, path, modeFlags, file);
}

AafResult AAFFileOpenExistingModify(const char16_t* path, uint32_t modeFlags,
                                    const AafProductIdentification* identification, std::unique_ptr<AafFile>* file) {
    return Forward<AafFileOpenExistingModifyFn>(AafEntry::FileOpenExistingModify, path, modeFlags, identification,
                                                file);
}

AafResult AAFFileOpenNewModify(const char16_t* path, uint32_t modeFlags,
                               const AafProductIdentification* identification, std::unique_ptr<AafFile>* file) {
    return Forward<AafFileOpenNewModifyFn>(AafEntry::FileOpenNewModify, path, modeFlags, identification, file);
}

AafResult AAFFileOpenTransient(const AafProductIdentification* identification, std::unique_ptr<AafFile>* file) {
    return Forward<AafFileOpenTransientFn>(AafEntry::FileOpenTransient, identification, file);
}

AafResult AAFFileIsAAFFile(const char16_t* path, AafAuid* fileKind, bool* isAafFile) {
    return Forward<AafFileIsAAFFileFn>(AafEntry::FileIsAAFFile, path, fileKind, isAafFile);
}

AafResult AAFFileOpenNewModifyEx(const char16_t* path, const AafAuid* fileKind, uint32_t modeFlags,
                                 const AafProductIdentification* identification, std::unique_ptr<AafFile>* file) {
    return Forward<AafFileOpenNewModifyExFn>(AafEntry::FileOpenNewModifyEx, path, fileKind, modeFlags,
                                             identification, file);
}

// A required entry point: a loaded library always has it, so the empty-slot
// test in Forward never fires here.
AafResult AAFGetPluginManager(std::unique_ptr<AafPluginManager>* manager) {
    return Forward<AafGetPluginManagerFn>(AafEntry::GetPluginManager, manager);
}
