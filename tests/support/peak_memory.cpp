#include "support/peak_memory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// A "VmXXX:   1234 kB" line of /proc/self/status in bytes, -1 when absent.
int64_t StatusKilobytes(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    int64_t value = -1;
    const size_t keyLength = std::strlen(key);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, keyLength) == 0 && line[keyLength] == ':') {
            long long kb = 0;
            if (std::sscanf(line + keyLength + 1, "%lld", &kb) == 1) value = kb * 1024;
            break;
        }
    }
    std::fclose(f);
    return value;
}

}  // namespace

PeakMemoryProbe::PeakMemoryProbe() {
#if defined(__SANITIZE_THREAD__)
    return;
#endif
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f) return;
    const bool written = std::fputs("5", f) >= 0;
    available_ = (std::fclose(f) == 0) && written;
    baseline_ = StatusKilobytes("VmRSS");
    if (baseline_ < 0) available_ = false;
}

int64_t PeakMemoryProbe::PeakGrowthBytes() const {
    if (!available_) return 0;
    const int64_t peak = StatusKilobytes("VmHWM");
    return peak > baseline_ ? peak - baseline_ : 0;
}

int64_t PeakMemoryProbe::PeakBytes() const {
    if (!available_) return 0;
    return std::max<int64_t>(0, StatusKilobytes("VmHWM"));
}

int64_t PeakMemoryProbe::CurrentBytes() { return StatusKilobytes("VmRSS"); }
