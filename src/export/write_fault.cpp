// write_fault.cpp — a test's full disk in the export's file layer.
//
// Index
//   ArmWriteFault / WriteFaultHits
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
