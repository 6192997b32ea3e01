// The Mixer tab's frame in a windowless GUI (meters moving, the reverb on),
// and the Settings tab's frames while the output-device list is read again
// on an audio system whose probe takes 60 ms: the longest frame is what the
// interface feels.
#include <benchmark/benchmark.h>
#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

#include "operations/app_state.h"
#include "platform/fake_audio_backend.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "support/imgui_headless.h"
#include "ui/mixer_panel.h"
#include "ui/settings_panel.h"
#include "operations/output_devices.h"
#include "ui/ui_layout.h"

namespace {

using PanelFn = void (*)(ImDrawList*, const UILayout&);

void PanelFrame(HeadlessGui& gui, PanelFn panel, const UILayout& layout) {
    gui.FrameInMainWindow([&] { panel(ImGui::GetWindowDrawList(), layout); });
}

void BM_MixerPanelFrame(benchmark::State& state) {
    HeadlessGui gui;
    const UILayout layout = ComputeUILayout(1280, 720, 13, false, LayoutVideo{});
    AudioEngine& e = gAudioEngine;
    e.playing.store(1);
    float t = 0;
    for (auto _ : state) {
        // Peaks as the audio thread leaves them, so the meters move.
        t += 0.37f;
        e.stats.peakL.store(0.5f + 0.4f * std::sin(t));
        e.stats.peakR.store(0.5f + 0.4f * std::cos(t));
        for (size_t g = 0; g < 3; ++g) e.stats.groupPeakL[g].store(0.3f + 0.2f * std::sin(t + float(g)));
        gui.MoveMouse(900, 200);
        PanelFrame(gui, MixerPanel, layout);
    }
    e.playing.store(0);
}
BENCHMARK(BM_MixerPanelFrame)->Unit(benchmark::kMicrosecond);

// A sound system whose device probe stalls, as PulseAudio's and ALSA's can.
class SlowProbeBackend : public FakeAudioBackend {
public:
    std::vector<uint32_t> DeviceIds() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        return FakeAudioBackend::DeviceIds();
    }
};

// Frames of the Settings tab over 7 s of frame time (two refreshes), with the
// longest frame reported; the refresh runs on the panel's worker.
void BM_SettingsFramesWhileDevicesRefresh(benchmark::State& state) {
    HeadlessGui gui;
    const UILayout layout = ComputeUILayout(1280, 720, 13, false, LayoutVideo{});
    auto api = std::make_unique<SlowProbeBackend>();
    api->devices = {FakeAudioBackend::MakeDevice(0, "Built-in"), FakeAudioBackend::MakeDevice(1, "Interface")};
    gAudioOutput.api = std::move(api);
    OpenAudioOutput(gAudioOutput, nullptr, &gAudioEngine.playing, 48000);
    double longest = 0;
    int frames = 0;
    for (auto _ : state) {
        const uint64_t refreshesBefore = gAudioDeviceWorker.finished.load();
        for (int i = 0; i < 7 * 60; ++i) {
            const auto start = std::chrono::steady_clock::now();
            PanelFrame(gui, SettingsPanel, layout);
            const auto end = std::chrono::steady_clock::now();
            longest = std::max(longest, std::chrono::duration<double, std::milli>(end - start).count());
            ++frames;
            // A display's pace, so the worker's probe overlaps the frames.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        // Two refreshes were asked for in 7 s of frame time.
        while (gAudioDeviceWorker.finished.load() < refreshesBefore + 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    state.counters["longestFrameMs"] = longest;
    state.counters["frames"] = frames;
    StopAudioDeviceWorker(gAudioDeviceWorker);
    CloseAudioOutput(gAudioOutput);
}
BENCHMARK(BM_SettingsFramesWhileDevicesRefresh)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
