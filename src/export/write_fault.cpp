// write_fault.cpp — a test's full disk in the export's file layer.
//
// Index
//   ArmWriteFault / WriteFaultHits
//   NoteWriteFailure / TakeWriteFailure
#include "export/write_fault.h"

#include <algorithm>

void ArmWriteFault(WriteFault& fault, int nthWrite, int error, const std::string& fileName, bool lasting) {
    std::lock_guard<std::mutex> lock(fault.mutex);
    fault.remaining = std::max(nthWrite, 0);
    fault.error = error;
    fault.fileName = fileName;
    fault.lasting = lasting;
}

bool WriteFaultHits(WriteFault* fault, const std::string& fileName) {
    if (!fault) return false;
    std::lock_guard<std::mutex> lock(fault->mutex);
    if (fault->remaining <= 0 || (!fault->fileName.empty() && fault->fileName != fileName)) return false;
    if (fault->remaining > 1) {
        --fault->remaining;
        return false;
    }
    if (!fault->lasting) fault->remaining = 0;
    errno = fault->error;
    return true;
}

namespace {

thread_local WriteFailure tFailure;

}  // namespace

void NoteWriteFailure(const std::string& path, int error, bool folder, const std::string& problem) {
    if (tFailure.error != 0 || error == 0) return;
    tFailure.path = path;
    tFailure.error = error;
    tFailure.folder = folder;
    tFailure.problem = problem;
}

WriteFailure TakeWriteFailure() {
    WriteFailure taken = std::move(tFailure);
    tFailure = WriteFailure();
    return taken;
}
