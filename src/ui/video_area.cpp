// video_area.cpp — the reference video's picture in the top band's left box,
// its caption and unload button, or the load button without a video.
//
// Index
//   SyncVideoTexture / LayoutVideoFor
//   DrawVideoArea       picture letterboxed in the box, caption, "×##unloadvideo",
//                       or "##loadVideoIcon"
#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "app/command_ids.h"
#include "app/frame_driver.h"
#include "app/style_scopes.h"
#include "app/theme.h"
#include "operations/app_state.h"
#include "operations/reference_video.h"
#include "picture/video_player.h"
#include "ui/command_executor.h"
#include "ui/icons.h"
#include "ui/main_bands.h"
#include "ui/transport_logic.h"
#include "ui/widgets.h"

// ---------------------------------------------------------------------------
// SyncVideoTexture / LayoutVideoFor
// ---------------------------------------------------------------------------

void SyncVideoTexture(VideoTextureState& state, FrameDriver& frames, const VideoPlayer& player) {
    const VideoPicture& picture = player.shown;
    const bool havePicture = player.loaded && picture.width > 0 && picture.height > 0 &&
                             picture.rgba.size() >= static_cast<size_t>(picture.width) * picture.height * 4;
    if (!havePicture) {
        if (state.texture) ReleaseTexture(frames, state.texture);
        state = VideoTextureState{.uploads = state.uploads};
        return;
    }
    if (state.texture && picture.counter == state.counter) return;
    const uint8_t* rgba = picture.rgba.data();
    const bool sameSize = state.width == picture.width && state.height == picture.height;
    if (!(state.texture && sameSize && UpdateTexturePixels(frames, state.texture, rgba, picture.width, picture.height))) {
        if (state.texture) ReleaseTexture(frames, state.texture);
        state.texture = CreateTextureFromPixels(frames, rgba, picture.width, picture.height);
        state.width = state.texture ? picture.width : 0;
        state.height = state.texture ? picture.height : 0;
    }
    state.counter = picture.counter;
    ++state.uploads;
    // The texture keeps its handle: the frame looks alike to the driver's
    // change test, so it is told to present.
    RequestPresent(frames);
}

LayoutVideo LayoutVideoFor(const VideoTextureState& state, const VideoPlayer& player) {
    LayoutVideo v;
    v.hasVideo = player.loaded && state.texture != nullptr;
    v.pixelWidth = static_cast<float>(state.width);
    v.pixelHeight = static_cast<float>(state.height);
    return v;
}

// ---------------------------------------------------------------------------
// DrawVideoArea
// ---------------------------------------------------------------------------

namespace {

void NoteItem(const char* key) {
    const ImVec2 min = ImGui::GetItemRectMin();
    const ImVec2 max = ImGui::GetItemRectMax();
    gBands.rects[key] = {min.x, min.y, max.x - min.x, max.y - min.y};
}

void DrawLoadButton(AppState& app, const ImVec2& box) {
    const float F = ImGui::GetFontSize();
    const float side = std::max(48.0f, std::round(3.2f * F));
    ImGui::SetCursorPos(ImVec2(std::round((box.x - side) / 2), std::round((box.y - side) / 2)));
    bool clicked = false;
    {
        SecondaryButtonScope look;
        ImGui::PushStyleVar(ImGuiStyleVar_FrameRounding, side / 2);
        ImGui::PushFont(app.fontLarge ? app.fontLarge : ImGui::GetFont());
        clicked = ImGui::Button((std::string(kIconLoadVideo) + "##loadVideoIcon").c_str(), ImVec2(side, side));
        ImGui::PopFont();
        ImGui::PopStyleVar();
    }
    NoteItem("loadVideoIcon");
    if (ImGui::IsItemHovered()) ShowStyledTooltip("Load video (or drag and drop)");
    if (clicked) {
        // The drop hand-over opens it on the next frame, as a dropped video.
        const std::string path = ChooseReferenceVideoFile(app);
        if (!path.empty()) app.droppedVideoPath = path;
    }
}

void DrawPicture(AppState& app, const VideoPlayer& player, const ImVec2& box) {
    const VideoTextureState& tex = gBands.video;
    const float F = ImGui::GetFontSize();
    const float captionHeight = std::round(1.3f * F);
    const float room = std::max(1.0f, box.y - captionHeight);
    const float scale = std::min(box.x / static_cast<float>(tex.width), room / static_cast<float>(tex.height));
    const ImVec2 size(std::floor(tex.width * scale), std::floor(tex.height * scale));
    ImGui::SetCursorPos(ImVec2(std::round((box.x - size.x) / 2), std::round((room - size.y) / 2)));
    ImGui::Image(static_cast<ImTextureID>(tex.texture), size);
    NoteItem("picture");

    const std::string caption = VideoCaptionText(player.width, player.height, player.fps, player.duration);
    gBands.videoCaption = caption;
    const float y = box.y - captionHeight + std::round((captionHeight - ImGui::GetTextLineHeight()) / 2);
    ImGui::SetCursorPos(ImVec2(std::round(0.5f * F), y));
    ImGui::PushStyleColor(ImGuiCol_Text, gTheme.textMuted);
    ImGui::TextUnformatted(caption.c_str());
    ImGui::PopStyleColor();

    const float side = ImGui::GetTextLineHeight() + 4;
    ImGui::SetCursorPos(ImVec2(box.x - side - std::round(0.3f * F), box.y - captionHeight + (captionHeight - side) / 2));
    bool clicked = false;
    {
        LinkButtonScope look;
        ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, 0));
        clicked = ImGui::Button("\xC3\x97##unloadvideo", ImVec2(side, side));
        ImGui::PopStyleVar();
    }
    NoteItem("unloadvideo");
    if (ImGui::IsItemHovered()) ShowStyledTooltip("Unload video from project");
    if (clicked) {
        app.unloadVideoRequest = true;
        if (app.playing) RunCommand(kCommandPlayStop);
    }
}

}  // namespace

void DrawVideoArea(AppState& app, const UILayout& layout) {
    const VideoPlayer& player = gVideoPlayer;
    const ImVec2 box = ImGui::GetWindowSize();
    // A seek still on its way, or a playing picture, needs more frames.
    if (player.loaded && (player.pendingSeek >= 0 || player.playing)) app.uiAnimating = true;
    gBands.rects.erase("picture");
    gBands.rects.erase("unloadvideo");
    gBands.rects.erase("loadVideoIcon");
    gBands.videoCaption.clear();
    if (layout.hasVideo && gBands.video.texture)
        DrawPicture(app, player, box);
    else
        DrawLoadButton(app, box);
}
