// aaf_library_table.cpp — the entry points' names and the result codes of
// failures.
#include "export/aaf_library_table.h"

const std::array<const char*, kAafEntryCount> kAafEntryNames = {
    "AAFFileOpenExistingRead",       "AAFFileOpenExistingModify",  "AAFFileOpenNewModify",
    "AAFFileOpenNewModifyEx",        "AAFFileOpenTransient",       "AAFFileIsAAFFile",
    "AAFRawStorageIsAAFFile",        "AAFFileIsAAFFileKind",       "AAFRawStorageIsAAFFileKind",
    "AAFGetPluginManager",           "AAFCreateRawStorageMemory",  "AAFCreateRawStorageDisk",
    "AAFCreateRawStorageCachedDisk", "AAFCreateRawStorageCached",  "AAFCreateRawStorageCached2",
    "AAFCreateAAFFileOnRawStorage",  "AAFSetProgressCallback",     "AAFGetFileEncodings",
    "AAFSetDiagnosticOutput",        "AAFGetLibraryVersion",       "AAFGetLibraryPathNameBufLen",
    "AAFGetLibraryPathName",         "AAFResultToTextBufLen",      "AAFResultToText",
};

// --- Results -------------------------------------------------------------------------

AafResult AafSystemErrorResult(uint32_t systemError) {
    return static_cast<AafResult>(0x80070000u | (systemError & 0xFFFFu));
}

AafResult AafStatusResult(AafStatus status) {
    if (status == AafStatus::Ok) return kAafResultOk;
    return static_cast<AafResult>(0x80127000u | (static_cast<uint32_t>(status) & 0xFFFu));
}
