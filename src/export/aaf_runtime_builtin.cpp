// aaf_runtime_builtin.cpp — the program's own AAF library: the file entry
// points on our object model and the plug-in manager.
//
// Index
//   Arguments               paths, file kinds and mode flags as the entry points take them
//   OpenExistingRead / OpenExistingModify
//   OpenNewModify / OpenNewModifyEx / OpenTransient
//   IsAAFFile               the compound-file header and its file kind
//   GetPluginManager        a manager with no shared plug-ins to register
//   AafBuiltInLibrary
#include "export/aaf_runtime_builtin.h"

#include "document/text_util.h"
#include "export/compound_file_reader.h"

namespace {

// --- Arguments -------------------------------------------------------------------------

std::string PathOf(const char16_t* path) { return WideToUtf8(std::u16string(path)); }

// We write and read one file kind, with no mode flags.
AafResult CheckMode(uint32_t modeFlags) {
    return modeFlags == 0 ? kAafResultOk : AafStatusResult(AafStatus::InvalidValue);
}

// --- Opening --------------------------------------------------------------------------

AafResult OpenExistingRead(const char16_t* path, uint32_t modeFlags, std::unique_ptr<AafFile>* file) {
    if (!path || !file) return kAafResultNullParam;
    if (AafResult r = CheckMode(modeFlags); r != kAafResultOk) return r;
    return AafStatusResult(AafOpenExistingFile(PathOf(path), nullptr, file));
}

AafResult OpenExistingModify(const char16_t* path, uint32_t modeFlags, const AafProductIdentification* identification,
                             std::unique_ptr<AafFile>* file) {
    if (!path || !identification || !file) return kAafResultNullParam;
    if (AafResult r = CheckMode(modeFlags); r != kAafResultOk) return r;
    return AafStatusResult(AafOpenExistingFile(PathOf(path), identification, file));
}

AafResult OpenNewModifyEx(const char16_t* path, const AafAuid* fileKind, uint32_t modeFlags,
                          const AafProductIdentification* identification, std::unique_ptr<AafFile>* file) {
    if (!path || !fileKind || !identification || !file) return kAafResultNullParam;
    if (!(*fileKind == kAafFileKindAaf512Binary)) return AafStatusResult(AafStatus::InvalidValue);
    if (AafResult r = CheckMode(modeFlags); r != kAafResultOk) return r;
    return AafStatusResult(AafOpenNewFile(PathOf(path), *identification, file));
}

// The library's default file kind is the one it writes.
AafResult OpenNewModify(const char16_t* path, uint32_t modeFlags, const AafProductIdentification* identification,
                        std::unique_ptr<AafFile>* file) {
    return OpenNewModifyEx(path, &kAafFileKindAaf512Binary, modeFlags, identification, file);
}

AafResult OpenTransient(const AafProductIdentification* identification, std::unique_ptr<AafFile>* file) {
    if (!identification || !file) return kAafResultNullParam;
    return AafStatusResult(AafOpenTransientFile(*identification, file));
}

// --- IsAAFFile -------------------------------------------------------------------------

// A compound file whose header names an AAF file kind we read; the kind is
// the header's class id whenever the file is a compound file.
AafResult IsAAFFile(const char16_t* path, AafAuid* fileKind, bool* isAafFile) {
    if (!path || !fileKind || !isAafFile) return kAafResultNullParam;
    *isAafFile = false;
    std::array<uint8_t, 16> kind{};
    if (!CompoundFileKind(PathOf(path), &kind)) return kAafResultOk;
    *fileKind = AafAuid::FromBytes(kind.data());
    *isAafFile = *fileKind == kAafFileKindAaf512Binary;
    return kAafResultOk;
}

// --- GetPluginManager --------------------------------------------------------------------

AafResult GetPluginManager(std::unique_ptr<AafPluginManager>* manager) {
    if (!manager) return kAafResultNullParam;
    *manager = std::make_unique<AafPluginManager>();
    // Essence is linked, never embedded: there are no codecs to register.
    (*manager)->registerSharedPlugins = [] { return kAafResultOk; };
    return kAafResultOk;
}

}  // namespace

const AafLibraryTable& AafBuiltInLibrary() {
    static const AafLibraryTable table{
        kAafDefaultLibraryName,
        {
            {"AAFFileOpenExistingRead", AafEntryOf(OpenExistingRead)},
            {"AAFFileOpenExistingModify", AafEntryOf(OpenExistingModify)},
            {"AAFFileOpenNewModify", AafEntryOf(OpenNewModify)},
            {"AAFFileOpenNewModifyEx", AafEntryOf(OpenNewModifyEx)},
            {"AAFFileOpenTransient", AafEntryOf(OpenTransient)},
            {"AAFFileIsAAFFile", AafEntryOf(IsAAFFile)},
            {"AAFGetPluginManager", AafEntryOf(GetPluginManager)},
        }};
    return table;
}
