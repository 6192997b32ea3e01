// The HTTP client on loopback, and how long a quit waits for an update check
// that hangs on a silent server.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

#include "app/update_check.h"
#include "operations/app_state.h"
#include "platform/http_client.h"
#include "support/loopback_http.h"

static void BM_HttpGetOneMebibyte(benchmark::State& state) {
    const std::string body(1u << 20, 'x');
    LoopbackHttpServer server([&](const std::string&) { return HttpReply::Plain(200, body, "text/plain"); });
    const std::string url = server.Url("/big");
    for (auto _ : state) {
        HttpResponse r = HttpGet(url.c_str());
        if (r.body.size() != body.size()) state.SkipWithError("short body");
        benchmark::DoNotOptimize(r.body.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_HttpGetOneMebibyte)->Unit(benchmark::kMillisecond);

// From the quit's abort to the joined thread, while the check waits for a
// server that accepted the connection and says nothing.
static void BM_QuitDuringStalledUpdateCheck(benchmark::State& state) {
    LoopbackHttpServer server([](const std::string&) { return HttpReply::Silent(); });
    const std::string url = server.Url("/manifest.json");
    auto app = std::make_unique<AppState>();
    for (auto _ : state) {
        const int before = server.RequestCount();
        if (!StartUpdateCheck(*app, HttpGet, url)) {
            state.SkipWithError("the check did not start");
            break;
        }
        while (server.RequestCount() == before) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto start = std::chrono::steady_clock::now();
        StopUpdateCheck(*app);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_QuitDuringStalledUpdateCheck)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);
