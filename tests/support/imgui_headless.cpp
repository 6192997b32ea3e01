// imgui_headless.cpp — the windowless GUI context of the tests.
#include "support/imgui_headless.h"

#include <imgui.h>

#include <cstdint>

#include "ui/imgui_compat.h"

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

void HeadlessGui::MoveMouse(float x, float y) { ImCompat::AddMousePosEvent(ImGui::GetIO(), x, y); }

void HeadlessGui::SetButton(int button, bool down) { ImCompat::AddMouseButtonEvent(ImGui::GetIO(), button, down); }

void HeadlessGui::SetKey(int scancode, bool down) { ImCompat::AddKeyEvent(ImGui::GetIO(), scancode, down); }

void HeadlessGui::TypeText(const std::string& utf8) { ImGui::GetIO().AddInputCharactersUTF8(utf8.c_str()); }
