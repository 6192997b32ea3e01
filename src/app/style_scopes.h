// style_scopes.h — the common looks of buttons, menus, pop-ups and tooltips.
// A panel never pushes these style colours and variables one by one: it opens
// a scope on the stack in front of the widgets it styles, and the scope pops
// exactly what it pushed when it goes out of scope.
//
//     {
//         PrimaryButtonScope primary;
//         if (ImGui::Button("Save")) ...;
//     }                                  // popped here
//
// Colours come from the theme palette (gTheme) at the moment the scope opens,
// so a theme change shows on the next frame with nothing else to do. Sizes
// are points (the GUI is scaled as a whole). "rgb of X at N" below means
// palette entry X with its alpha replaced by N.
//
// Index (style variables, then colours, in push order unless noted)
//   AccentButtonScope         Button accent, ButtonHovered accentHover, Text accentText;
//                             FrameRounding 3 pushed last — the accent button ("Render")
//   ComboScope                WindowPadding (10, 8), PopupRounding 6, FramePadding (10, 4);
//                             PopupBg popupBg, Button frameBg, ButtonHovered frameBgHover — combo boxes
//   DangerItemScope           Text danger, HeaderHovered dangerHoverBg — destructive entries
//   DimIconButtonScope        ButtonHovered rgb of textDim at 128, Text rgb of textMuted at 179
//                             — the library's small icon buttons
//   InspectorIconButtonScope  FramePadding (p, p) with p the current FramePadding.y, FrameRounding 3;
//                             Button frameBgHover, ButtonHovered and ButtonActive frameBgActive,
//                             Text textMuted — the inspector's square icon buttons
//   LinkButtonScope           Button, ButtonHovered, ButtonActive transparent; Text textMuted
//                             — text-only buttons
//   MuteButtonScope(on)       Button muteOn | rgb of controlBg at 200; ButtonHovered muteOnHover |
//                             muteOffHover; ButtonActive muteOnActive | rgb of controlBg at 160;
//                             Text muteOnText | textDim — the mixer's "M" buttons
//   SoloButtonScope(on)       the same with the solo entries — the mixer's "S" buttons
//   PopupMenuScope            the popup font (fontSmall) when loaded, first; WindowPadding (10, 10),
//                             WindowRounding 6, PopupRounding 6, ItemSpacing (6, 6), FramePadding (8, 6);
//                             PopupBg popupBg — context menus and pop-ups
//   SecondaryButtonScope      Button frameBg, ButtonHovered frameBgHover, ButtonActive frameBgActive
//   PrimaryButtonScope        Button primaryButton, ButtonHovered primaryButtonHover, ButtonActive
//                             frameBg, Text primaryButtonText; FrameRounding 3 pushed last
//   TooltipScope              WindowPadding (10, 7), WindowRounding 5; PopupBg popupBg, Text text;
//                             then the regular table's small font of the current preset when loaded
//                             — every tooltip (ShowStyledTooltip in widgets.h)
//
// UI thread, inside a frame. Scopes nest: each pop restores the value the
// matching push replaced.
#pragma once

// Scopes cannot be copied or moved: each one owns its pushes.
struct StyleScope {
    StyleScope() = default;
    StyleScope(const StyleScope&) = delete;
    StyleScope& operator=(const StyleScope&) = delete;
};

struct AccentButtonScope : StyleScope {
    [[nodiscard]] AccentButtonScope();
    ~AccentButtonScope();
};

struct ComboScope : StyleScope {
    [[nodiscard]] ComboScope();
    ~ComboScope();
};

struct DangerItemScope : StyleScope {
    [[nodiscard]] DangerItemScope();
    ~DangerItemScope();
};

struct DimIconButtonScope : StyleScope {
    [[nodiscard]] DimIconButtonScope();
    ~DimIconButtonScope();
};

struct InspectorIconButtonScope : StyleScope {
    [[nodiscard]] InspectorIconButtonScope();
    ~InspectorIconButtonScope();
};

struct LinkButtonScope : StyleScope {
    [[nodiscard]] LinkButtonScope();
    ~LinkButtonScope();
};

struct MuteButtonScope : StyleScope {
    [[nodiscard]] explicit MuteButtonScope(bool on);
    ~MuteButtonScope();
};

struct SoloButtonScope : StyleScope {
    [[nodiscard]] explicit SoloButtonScope(bool on);
    ~SoloButtonScope();
};

struct PopupMenuScope : StyleScope {
    [[nodiscard]] PopupMenuScope();
    ~PopupMenuScope();
    bool pushedFont = false;
};

struct SecondaryButtonScope : StyleScope {
    [[nodiscard]] SecondaryButtonScope();
    ~SecondaryButtonScope();
};

struct PrimaryButtonScope : StyleScope {
    [[nodiscard]] PrimaryButtonScope();
    ~PrimaryButtonScope();
};

struct TooltipScope : StyleScope {
    [[nodiscard]] TooltipScope();
    ~TooltipScope();
    bool pushedFont = false;
};
