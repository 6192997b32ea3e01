// ui_scale.cpp — where the UI scale comes from.
//
// Index
//   ParseXftDpi / UiScaleFromDpi
//   Sources             environment override, X resources, SDL's display DPI
//   DetectUiScale
#include "app/ui_scale.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

float ParseXftDpi(const char* resources) {
    if (!resources) return 0;
    const char* key = "Xft.dpi:";
    const size_t keyLength = std::strlen(key);
    for (const char* line = resources; *line;) {
        const char* end = std::strchr(line, '\n');
        size_t length = end ? static_cast<size_t>(end - line) : std::strlen(line);
        if (length > keyLength && std::strncmp(line, key, keyLength) == 0) {
            // The program never sets a locale, so strtod reads a decimal point.
            char* stop = nullptr;
            double dpi = std::strtod(line + keyLength, &stop);
            if (stop != line + keyLength && std::isfinite(dpi) && dpi > 0) return static_cast<float>(dpi);
            return 0;
        }
        if (!end) break;
        line = end + 1;
    }
    return 0;
}

float UiScaleFromDpi(float dpi) {
    float scale = dpi / 96.0f;
    return std::isfinite(scale) && scale > 0 ? scale : 1.0f;
}

namespace {

float ScaleFromEnvironment() {
    const char* text = std::getenv("TL_UI_SCALE");
    if (!text || !*text) return 0;
    char* stop = nullptr;
    double scale = std::strtod(text, &stop);
    if (stop == text || !std::isfinite(scale) || scale <= 0) {
        std::printf("[UI] TL_UI_SCALE=\"%s\" is not a positive number; ignored\n", text);
        return 0;
    }
    return static_cast<float>(scale);
}

float DpiFromXResources(SDL_Window* window) {
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!window || !SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return 0;
    return ParseXftDpi(XResourceManagerString(info.info.x11.display));
#else
    (void)window;
    return 0;
#endif
}

float DpiFromDisplay(SDL_Window* window) {
    int display = window ? SDL_GetWindowDisplayIndex(window) : 0;
    if (display < 0) display = 0;
    float hdpi = 0;
    if (SDL_GetDisplayDPI(display, nullptr, &hdpi, nullptr) != 0) return 0;
    return std::isfinite(hdpi) && hdpi > 0 ? hdpi : 0;
}

}  // namespace

float DetectUiScale(SDL_Window* window) {
    if (float scale = ScaleFromEnvironment(); scale > 0) return scale;
    float dpi = DpiFromXResources(window);
    if (dpi <= 0) dpi = DpiFromDisplay(window);
    if (dpi <= 0) dpi = 96;
    return UiScaleFromDpi(dpi);
}
