// events_tab_layout.h — how the events tab shares its height between the
// inspector and the events list below it, and how the inspector sizes its
// curves and their band labels. Plain arithmetic in points (tests).
//
// Index
//   SplitEventsTab          the inspector's height over the list's
//   InspectorCurveLayout    the curves side by side or stacked, and their height
//   BandLabelSize           the weight curve's band labels, one per fifth of its height
//   LayOutLevelRow          the volume drag and its neighbour (pitch, or the Clip's offset)
//
// At the default 1280×720 window the tab is about 258 points tall: the
// inspector gets the height one event's rows need with curves of a readable
// height, the list keeps its heading, the scene row and three event rows at
// least, and a taller window gives both more.
#pragma once

struct EventsTabSplit {
    float inspector = 0;  // the inspector's height
    float list = 0;       // what is left below it, the gap between them taken off
};

// `height`: the tab's content height; `fontSize`: the current font size;
// `gap`: the vertical item spacing between the two areas.
EventsTabSplit SplitEventsTab(float height, float fontSize, float gap);

struct InspectorCurves {
    bool sideBySide = false;  // weight and intensity in one row
    float width = 0;          // each curve's width
    float height = 0;         // each curve's height
};

// `count` curves (1 or 2) in `width` points with `room` points of height for
// them and their labels (`labelHeight` each row of labels). Two curves stand
// side by side when each still gets `kMinSideBySideWidth`; the height is the
// room left, within kMinCurveHeight..kMaxCurveHeight.
inline constexpr float kMinSideBySideWidth = 180;
inline constexpr float kMinCurveHeight = 56;
inline constexpr float kMaxCurveHeight = 140;
InspectorCurves InspectorCurveLayout(float width, float room, float labelHeight, float gap, int count);

// The band labels' font size: a fifth of the curve's height, so that the
// five labels never overlap, at most the small font's size.
float BandLabelSize(float curveHeight, float smallFontSize);

struct LevelRow {
    bool sameLine = false;  // they follow the control row on its line
    float volume = 0;       // the volume drag's width
    float second = 0;       // the pitch drag's, or the offset label and field's (0: none)
};

// `room`: what the control row's line has left; `width`: a whole line.
// Each widget gets at least its least width (the widest text it shows) and
// half the room beyond, up to kMaxLevelWidth; `secondLeast` 0 means the
// volume stands alone (a Bed).
inline constexpr float kMaxLevelWidth = 220;
LevelRow LayOutLevelRow(float room, float width, float gap, float volumeLeast, float secondLeast);
