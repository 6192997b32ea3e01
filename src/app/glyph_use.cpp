// glyph_use.cpp — slots for wide characters, the noted glyphs, and the
// link-time wrappers of the GUI's text routines.
//
// Index
//   State
//   DecodeUtf8ForGui / GuiCharCodePoint / EncodeGuiChar
//   Glyph use
//   Wrappers          the GUI's decoder, its text-field conversions and its
//                     typed-character intake
#include "app/glyph_use.h"

#include <bitset>
#include <unordered_map>

// The GUI's own routines, reached under their --wrap names (mangled C++
// names of the installed library; CMakeLists lists the same ones).
extern "C" {
int __real__Z18ImTextCharFromUtf8PjPKcS1_(unsigned int* out, const char* text, const char* end);
}

namespace {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

struct GlyphUse {
    std::bitset<0x10000> requested;
    std::vector<ImWchar> fresh;                      // noted, not yet taken
    std::unordered_map<uint32_t, ImWchar> slotOf;    // wide code point → slot
    std::vector<uint32_t> wide;                      // slot − kFirstWideSlot → code point
};

GlyphUse& Use() {
    static GlyphUse use;
    return use;
}

ImWchar SlotFor(uint32_t codePoint) {
    GlyphUse& use = Use();
    auto it = use.slotOf.find(codePoint);
    if (it != use.slotOf.end()) return it->second;
    if (use.wide.size() > kLastWideSlot - kFirstWideSlot) return ImWchar(0xFFFD);
    const ImWchar slot = ImWchar(kFirstWideSlot + use.wide.size());
    use.wide.push_back(codePoint);
    use.slotOf.emplace(codePoint, slot);
    return slot;
}

// A well-formed four-byte sequence for U+10000..10FFFF; 0 otherwise.
uint32_t WideCodePoint(const char* text, const char* end) {
    if (end && end - text < 4) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    if ((s[0] & 0xF8) != 0xF0 || (s[1] & 0xC0) != 0x80 || (s[2] & 0xC0) != 0x80 || (s[3] & 0xC0) != 0x80) return 0;
    const uint32_t c = (uint32_t(s[0] & 0x07) << 18) | (uint32_t(s[1] & 0x3F) << 12) | (uint32_t(s[2] & 0x3F) << 6) |
                       uint32_t(s[3] & 0x3F);
    return c >= 0x10000 && c <= 0x10FFFF ? c : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// DecodeUtf8ForGui / GuiCharCodePoint / EncodeGuiChar
// ---------------------------------------------------------------------------

int DecodeUtf8ForGui(unsigned int* out, const char* text, const char* end) {
    const int read = __real__Z18ImTextCharFromUtf8PjPKcS1_(out, text, end);
    if (*out == 0xFFFD && read == 4) {
        const uint32_t wide = WideCodePoint(text, end);
        if (wide) *out = SlotFor(wide);
    }
    return read;
}

uint32_t GuiCharCodePoint(ImWchar c) {
    if (c < kFirstWideSlot || c > kLastWideSlot) return c;
    const GlyphUse& use = Use();
    const size_t index = size_t(c - kFirstWideSlot);
    return index < use.wide.size() ? use.wide[index] : 0;
}

int EncodeGuiChar(char* out, ImWchar c) {
    const uint32_t cp = GuiCharCodePoint(c);
    if (cp == 0 || c == kMissingGlyph) return 0;
    if (cp < 0x80) {
        out[0] = char(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = char(0xC0 | (cp >> 6));
        out[1] = char(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = char(0xE0 | (cp >> 12));
        out[1] = char(0x80 | ((cp >> 6) & 0x3F));
        out[2] = char(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = char(0xF0 | (cp >> 18));
    out[1] = char(0x80 | ((cp >> 12) & 0x3F));
    out[2] = char(0x80 | ((cp >> 6) & 0x3F));
    out[3] = char(0x80 | (cp & 0x3F));
    return 4;
}

// ---------------------------------------------------------------------------
// Glyph use
// ---------------------------------------------------------------------------

void NoteGlyphUse(ImWchar c) {
    GlyphUse& use = Use();
    if (use.requested.test(c)) return;
    use.requested.set(c);
    use.fresh.push_back(c);
}

void RequestGlyphs(const char* utf8) {
    if (!utf8) return;
    GlyphUse& use = Use();
    while (*utf8) {
        unsigned int c = 0;
        utf8 += DecodeUtf8ForGui(&c, utf8, nullptr);
        if (c == 0) break;
        use.requested.set(ImWchar(c));
    }
}

void RequestGlyphRange(ImWchar first, ImWchar last) {
    for (uint32_t c = first; c <= last; ++c) Use().requested.set(c);
}

bool GlyphRequested(ImWchar c) { return Use().requested.test(c); }

std::vector<ImWchar> TakeNewGlyphs() {
    std::vector<ImWchar> taken;
    taken.swap(Use().fresh);
    return taken;
}

size_t NewGlyphsWaiting() { return Use().fresh.size(); }

std::vector<ImWchar> RequestedGlyphs() {
    const GlyphUse& use = Use();
    std::vector<ImWchar> all;
    for (uint32_t c = 1; c < 0x10000; ++c)
        if (use.requested.test(c)) all.push_back(ImWchar(c));
    return all;
}

void ResetGlyphUse() { Use() = GlyphUse{}; }

// ---------------------------------------------------------------------------
// Wrappers
// ---------------------------------------------------------------------------

// The GUI draws and measures text through its decoder: wide characters come
// out as slots, and every character met is noted.
extern "C" int __wrap__Z18ImTextCharFromUtf8PjPKcS1_(unsigned int* out, const char* text, const char* end) {
    const int read = DecodeUtf8ForGui(out, text, end);
    if (*out != 0) NoteGlyphUse(ImWchar(*out));
    return read;
}

// A text field's buffer as GUI characters (its own loop, so that wide
// characters keep their slots).
extern "C" int __wrap__Z17ImTextStrFromUtf8PtiPKcS1_PS1_(ImWchar* buf, int size, const char* text, const char* end,
                                                        const char** remaining) {
    ImWchar* out = buf;
    ImWchar* last = buf + size - 1;
    while (out < last && (!end || text < end) && *text) {
        unsigned int c = 0;
        text += DecodeUtf8ForGui(&c, text, end);
        if (c == 0) break;
        *out++ = ImWchar(c);
    }
    *out = 0;
    if (remaining) *remaining = text;
    return int(out - buf);
}

// A text field writes its characters back: a slot becomes its original
// four bytes again, so editing a name never loses its emoji.
extern "C" int __wrap__Z15ImTextStrToUtf8PciPKtS1_(char* buf, int size, const ImWchar* text, const ImWchar* end) {
    char* out = buf;
    const char* limit = buf + size - 1;
    while (out < limit && (!end || text < end) && *text) {
        char bytes[4];
        const int n = EncodeGuiChar(bytes, *text++);
        if (n > limit - out) break;
        for (int i = 0; i < n; ++i) *out++ = bytes[i];
    }
    *out = 0;
    return int(out - buf);
}

extern "C" int __wrap__Z27ImTextCountUtf8BytesFromStrPKtS0_(const ImWchar* text, const ImWchar* end) {
    int bytes = 0;
    char scratch[4];
    while ((!end || text < end) && *text) bytes += EncodeGuiChar(scratch, *text++);
    return bytes;
}

// Typed text from the SDL back-end.
extern "C" void __wrap__ZN7ImGuiIO22AddInputCharactersUTF8EPKc(ImGuiIO* io, const char* utf8) {
    while (utf8 && *utf8) {
        unsigned int c = 0;
        utf8 += DecodeUtf8ForGui(&c, utf8, nullptr);
        if (c != 0) io->AddInputCharacter(c);
    }
}
