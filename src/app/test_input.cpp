// test_input.cpp — a test script's input, pushed as the window system would.
//
// Index
//   Pushing events       pointer, buttons, wheel, keys, text, drops, window events
#include <SDL.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/frame_driver.h"
#include "app/sdl_gl_backend.h"
#include "app/test_driver_record.h"

// ---------------------------------------------------------------------------
// Pushing events
// ---------------------------------------------------------------------------

namespace {

uint8_t SdlButton(int guiButton) {
    switch (guiButton) {
        case 1: return SDL_BUTTON_RIGHT;
        case 2: return SDL_BUTTON_MIDDLE;
        default: return SDL_BUTTON_LEFT;
    }
}

}  // namespace

void PushWindowEvent(TestDriver& d, SDL_WindowEventID id) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = d.windowId;
    e.window.event = static_cast<uint8_t>(id);
    e.window.data1 = static_cast<int32_t>(kScriptedInputId);
    SDL_PushEvent(&e);
}

void PushMotion(TestDriver& d, float xPoints, float yPoints) {
    float s = d.frames->uiScale > 0 ? d.frames->uiScale : 1.0f;
    float x = xPoints * s, y = yPoints * s;
    SDL_Event e{};
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = d.windowId;
    e.motion.which = kScriptedInputId;
    e.motion.state = d.buttonsHeld;
    e.motion.x = static_cast<int32_t>(x);
    e.motion.y = static_cast<int32_t>(y);
    e.motion.xrel = static_cast<int32_t>(x - d.pointerX);
    e.motion.yrel = static_cast<int32_t>(y - d.pointerY);
    d.pointerX = x;
    d.pointerY = y;
    SDL_PushEvent(&e);
}

void PushButton(TestDriver& d, int guiButton, bool down) {
    uint8_t b = SdlButton(guiButton);
    if (down) d.buttonsHeld |= SDL_BUTTON(b);
    else d.buttonsHeld &= ~SDL_BUTTON(b);
    SDL_Event e{};
    e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    e.button.windowID = d.windowId;
    e.button.which = kScriptedInputId;
    e.button.button = b;
    e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.button.clicks = 1;
    e.button.x = static_cast<int32_t>(d.pointerX);
    e.button.y = static_cast<int32_t>(d.pointerY);
    SDL_PushEvent(&e);
}

void PushWheel(TestDriver& d, float notches) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = d.windowId;
    e.wheel.which = kScriptedInputId;
    e.wheel.y = static_cast<int32_t>(notches);
    e.wheel.preciseY = notches;
    SDL_PushEvent(&e);
}

// The GUI's SDL back-end reads the modifiers from SDL's own state when a key
// event arrives, so the state is set with the key.
void PushKey(TestDriver& d, int scancode, int modifiers, bool down) {
    SDL_SetModState(static_cast<SDL_Keymod>(down ? modifiers : KMOD_NONE));
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = d.windowId;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = static_cast<SDL_Scancode>(scancode);
    e.key.keysym.sym = SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(scancode));
    e.key.keysym.mod = static_cast<uint16_t>(modifiers);
    SDL_PushEvent(&e);
}

// One event holds at most 31 bytes: longer text goes in pieces cut at
// character boundaries.
void PushText(TestDriver& d, const std::string& text) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t n = std::min<size_t>(text.size() - pos, SDL_TEXTINPUTEVENT_TEXT_SIZE - 1);
        while (n > 0 && pos + n < text.size() && (static_cast<unsigned char>(text[pos + n]) & 0xC0) == 0x80) --n;
        if (n == 0) break;
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = d.windowId;
        std::memcpy(e.text.text, text.data() + pos, n);
        e.text.text[n] = '\0';
        SDL_PushEvent(&e);
        pos += n;
    }
}

// One drop is begin, a file event per path, complete.
void PushDropEvent(TestDriver& d, uint32_t type, const std::string* path) {
    SDL_Event e{};
    e.type = type;
    e.drop.windowID = d.windowId;
    e.drop.file = path ? SDL_strdup(path->c_str()) : nullptr;  // the loop frees it
    SDL_PushEvent(&e);
}

void PushDrop(TestDriver& d, const std::string& path) {
    d.dropAlt = false;
    PushDropEvent(d, SDL_DROPBEGIN, nullptr);
    PushDropEvent(d, SDL_DROPFILE, &path);
    PushDropEvent(d, SDL_DROPCOMPLETE, nullptr);
}
