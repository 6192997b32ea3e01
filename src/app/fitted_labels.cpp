// fitted_labels.cpp — the room of menu and pop-up rows, texts and widget
// labels shortened to a room.
//
// Index
//   PopupLabelRoom
//   FittedText / FittedLabel
#include "app/fitted_labels.h"

#include <imgui.h>

#include <algorithm>

#include "document/shortened_text.h"

float PopupLabelRoom() {
    const float fontSize = ImGui::GetFontSize();
    const float display = ImGui::GetIO().DisplaySize.x;
    return std::max(4 * fontSize, std::min(kPopupLabelEms * fontSize, kPopupLabelDisplayShare * display));
}

std::string FittedText(std::string_view text, float room) {
    // The measure puts a right-to-left text into display order (drawn_text.h).
    return ShortenedText(text, [&](const std::string& t) { return ImGui::CalcTextSize(t.c_str()).x <= room; });
}

std::string FittedLabel(const char* label, float room) {
    if (!label) return std::string();
    const std::string_view whole(label);
    const size_t hashes = whole.find("##");
    const std::string_view shown = whole.substr(0, hashes);
    std::string out = FittedText(shown, room);
    if (out == shown) return std::string(whole);
    out += hashes == std::string_view::npos ? "###" + std::string(whole) : std::string(whole.substr(hashes));
    return out;
}
