// aaf_runtime_builtin.cpp — the program's own AAF library: the entry points
// the session writer calls, built on our object model, and stubs for the
// other entry points a library must offer.
//
// Index
//   NotImplemented          the stub behind every entry point we do not offer
//   OpenNewModifyEx         a new file of the 512-byte kind
//   GetPluginManager        a manager with no shared plug-ins to register
//   AafBuiltInLibrary
#include "export/aaf_runtime_builtin.h"

#include "document/text_util.h"

namespace {

AafResult NotImplemented() { return kAafResultNotImplemented; }

AafResult OpenNewModifyEx(const char16_t* path, const AafAuid* fileKind, uint32_t modeFlags,
                          const AafProductIdentification* identification, std::unique_ptr<AafFile>* file) {
    if (!path || !fileKind || !identification || !file) return kAafResultNullParam;
    // We write one file kind, with no mode flags.
    if (!(*fileKind == kAafFileKindAaf512Binary) || modeFlags != 0) return AafStatusResult(AafStatus::InvalidValue);
    return AafStatusResult(AafOpenNewFile(WideToUtf8(std::u16string(path)), *identification, file));
}

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
            {"AAFFileOpenExistingRead", AafEntryOf(NotImplemented)},
            {"AAFFileOpenExistingModify", AafEntryOf(NotImplemented)},
            {"AAFFileOpenNewModify", AafEntryOf(NotImplemented)},
            {"AAFFileOpenNewModifyEx", AafEntryOf(OpenNewModifyEx)},
            {"AAFFileOpenTransient", AafEntryOf(NotImplemented)},
            {"AAFFileIsAAFFile", AafEntryOf(NotImplemented)},
            {"AAFGetPluginManager", AafEntryOf(GetPluginManager)},
        }};
    return table;
}
