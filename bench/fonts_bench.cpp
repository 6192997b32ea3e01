// The font atlas of start-up at UI scales 1, 1.5 and 2: how long LoadFonts
// takes (both tables, the title font, the atlas build) and how long the
// renderer's RGBA conversion adds, and the texture it produces. Uses the
// Fonts folder that scripts/setup fills; a device limit of 16384 pixels.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/fonts.h"
#include "operations/app_state.h"

namespace {

const std::string kResources = std::string(TL_SOURCE_DIR) + "/resources";
constexpr int kMaxTexture = 16384;

}  // namespace

// Arg: UI scale × 10. counters: texture width and height (pixels), RGBA
// megabytes uploaded, atlas fonts, LoadFonts and conversion milliseconds.
static void BM_FontAtlas(benchmark::State& state) {
    const float scale = static_cast<float>(state.range(0)) / 10.0f;
    if (FindFontFile(kResources, "Roboto-Regular").empty()) {
        state.SkipWithError("no fonts: run scripts/setup");
        return;
    }
    FontLoadReport report;
    double loadMs = 0, rgbaMs = 0;
    for (auto _ : state) {
        ImGuiContext* context = ImGui::CreateContext();
        auto app = std::make_unique<AppState>();
        auto start = std::chrono::steady_clock::now();
        report = LoadFonts(*app, ImGui::GetIO().Fonts, kResources, scale, kMaxTexture);
        auto loaded = std::chrono::steady_clock::now();
        unsigned char* pixels = nullptr;
        int w = 0, h = 0;
        ImGui::GetIO().Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
        auto converted = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(pixels);
        loadMs += std::chrono::duration<double, std::milli>(loaded - start).count();
        rgbaMs += std::chrono::duration<double, std::milli>(converted - loaded).count();
        ImGui::DestroyContext(context);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["texWidth"] = report.textureWidth;
    state.counters["texHeight"] = report.textureHeight;
    state.counters["rgbaMB"] = report.textureWidth * static_cast<double>(report.textureHeight) * 4 / (1 << 20);
    state.counters["fits"] = report.fitsTexture;
    state.counters["fonts"] = report.fontsAdded;
    state.counters["loadMs"] = loadMs / n;
    state.counters["rgbaMs"] = rgbaMs / n;
}
BENCHMARK(BM_FontAtlas)->Arg(10)->Arg(15)->Arg(20)->Iterations(3)->Unit(benchmark::kMillisecond);
