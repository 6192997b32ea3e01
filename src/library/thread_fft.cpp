// thread_fft.cpp — ThreadRealFft: the calling thread's configurations.
#include "library/thread_fft.h"

#include <memory>
#include <utility>
#include <vector>

namespace {

struct FftrDeleter {
    void operator()(kiss_fftr_state* cfg) const { kiss_fftr_free(cfg); }
};

// A thread asks for one or two sizes: a short list beats a map.
thread_local std::vector<std::pair<int, std::unique_ptr<kiss_fftr_state, FftrDeleter>>> tConfigurations;

}  // namespace

kiss_fftr_cfg ThreadRealFft(int size) {
    if (size < 2 || size % 2 != 0) return nullptr;
    for (const auto& [planned, cfg] : tConfigurations) {
        if (planned == size) return cfg.get();
    }
    std::unique_ptr<kiss_fftr_state, FftrDeleter> cfg(kiss_fftr_alloc(size, 0, nullptr, nullptr));
    if (!cfg) return nullptr;
    tConfigurations.emplace_back(size, std::move(cfg));
    return tConfigurations.back().second.get();
}
