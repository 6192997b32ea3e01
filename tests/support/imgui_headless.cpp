// imgui_headless.cpp — the windowless GUI context of the tests.
#include "support/imgui_headless.h"

#include <SDL_scancode.h>
#include <imgui.h>

#include <cstdint>
#include <utility>

#include "app/frame_driver.h"
#include "app/imgui_compat.h"
#include "app/null_frame_backend.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/voice_streaming.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "ui/draw_ui.h"

HeadlessGui::HeadlessGui(float w, float h) : width(w), height(h) {
    context = ImGui::CreateContext();
    ImGui::SetCurrentContext(context);
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = ImVec2(width, height);
    io.DeltaTime = 1.0f / 60.0f;
    unsigned char* pixels = nullptr;
    int tw = 0, th = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &tw, &th);
    io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<uintptr_t>(1)));
}

HeadlessGui::~HeadlessGui() { ImGui::DestroyContext(context); }

void HeadlessGui::Frame() {
    ImGuiIO& io = ImGui::GetIO();
    // Fonts loaded after construction: build them as a renderer would (8-bit
    // alpha is enough without one).
    if (!io.Fonts->IsBuilt()) io.Fonts->Build();
    if (!io.Fonts->TexID) io.Fonts->SetTexID(reinterpret_cast<ImTextureID>(static_cast<uintptr_t>(1)));
    io.DisplaySize = ImVec2(width, height);
    io.DeltaTime = 1.0f / 60.0f;
    ImGui::NewFrame();
}

void HeadlessGui::EndFrame() { ImGui::Render(); }

void HeadlessGui::FrameInMainWindow(const std::function<void()>& draw) {
    Frame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(width, height));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::PopStyleVar();
    draw();
    ImGui::End();
    EndFrame();
}

void HeadlessGui::MoveMouse(float x, float y) { ImCompat::AddMousePosEvent(ImGui::GetIO(), x, y); }

void HeadlessGui::SetButton(int button, bool down) { ImCompat::AddMouseButtonEvent(ImGui::GetIO(), button, down); }

void HeadlessGui::SetKey(int scancode, bool down) { ImCompat::AddKeyEvent(ImGui::GetIO(), scancode, down); }

void HeadlessGui::TypeText(const std::string& utf8) { ImGui::GetIO().AddInputCharactersUTF8(utf8.c_str()); }

void HeadlessGui::MapKeysAsSdl() {
    ImGuiIO& io = ImGui::GetIO();
    const std::pair<ImGuiKey, int> keys[] = {
        {ImGuiKey_Tab, SDL_SCANCODE_TAB},           {ImGuiKey_LeftArrow, SDL_SCANCODE_LEFT},
        {ImGuiKey_RightArrow, SDL_SCANCODE_RIGHT},  {ImGuiKey_UpArrow, SDL_SCANCODE_UP},
        {ImGuiKey_DownArrow, SDL_SCANCODE_DOWN},    {ImGuiKey_PageUp, SDL_SCANCODE_PAGEUP},
        {ImGuiKey_PageDown, SDL_SCANCODE_PAGEDOWN}, {ImGuiKey_Home, SDL_SCANCODE_HOME},
        {ImGuiKey_End, SDL_SCANCODE_END},           {ImGuiKey_Insert, SDL_SCANCODE_INSERT},
        {ImGuiKey_Delete, SDL_SCANCODE_DELETE},     {ImGuiKey_Backspace, SDL_SCANCODE_BACKSPACE},
        {ImGuiKey_Space, SDL_SCANCODE_SPACE},       {ImGuiKey_Enter, SDL_SCANCODE_RETURN},
        {ImGuiKey_Escape, SDL_SCANCODE_ESCAPE},     {ImGuiKey_KeyPadEnter, SDL_SCANCODE_KP_ENTER},
        {ImGuiKey_A, SDL_SCANCODE_A},               {ImGuiKey_C, SDL_SCANCODE_C},
        {ImGuiKey_V, SDL_SCANCODE_V},               {ImGuiKey_X, SDL_SCANCODE_X},
        {ImGuiKey_Y, SDL_SCANCODE_Y},               {ImGuiKey_Z, SDL_SCANCODE_Z},
    };
    for (const auto& [key, scancode] : keys) io.KeyMap[key] = scancode;
}

void HeadlessGui::Click(float x, float y, const std::function<void()>& frame, int button) {
    MoveMouse(x, y);
    frame();
    SetButton(button, true);
    frame();
    SetButton(button, false);
    frame();
}

void DriveProgramHeadless(FrameDriver& driver, NullFrameBackend& backend) {
    driver.backend = &backend;
    driver.appRunning = true;
    driver.drawUI = DrawUI;
    gUiFrame.firstFrameDone = true;
}

HeadlessProgram::HeadlessProgram() {
    DriveProgramHeadless(driver, backend);
    gAudioEngine.streamVoices = 1;  // as the program's audio start sets it
}

HeadlessProgram::~HeadlessProgram() {
    StopBackgroundWorkers(gAppState);
    StopVoiceStreaming(gAppState);
    ResetEngineVoices(gAudioEngine, 48000, 0);
    gAudioEngine.streamVoices = 0;
    gProject = Project();
    gSoundLibrary.libraries.clear();
    gAppState.playing = false;
    gAudioEngine.playing = 0;
    gAppState.projectPath.clear();
    gAppState.projectName.clear();
    gAppState.crashLockPath.clear();
    gAppState.modified = false;
    gAppState.bedWatch = BedWatch();
    gAppState.busyTask.cancelRequested = false;
    gAppState.busyTask.abandoned = false;
}

void HeadlessProgram::Frame() { RenderFrame(driver, gAppState); }

void HeadlessProgram::Open(const std::string& path) {
    gAppState.pendingOpenPath = path;
    Frame();
}
