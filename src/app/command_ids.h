// command_ids.h — the program's command vocabulary: one integer per command,
// shared by the program menu, its accelerators, the keyboard, the toolbar
// and every other place that asks for a command.
//
// Index
//   Menu and keyboard commands    kCommandPlayStop (1) ... kCommandBounceToClip (55)
//   Window commands               kCommandExit (900), kCommandClearRecent (901)
//   Dynamic ranges                recent projects, recipes, chains
//
// Ids 1, 2, 12, 13 and 29 to 32 exist only as keys; 36 and 38 appear twice
// in the menu (File and View) and mean the same command. 0 is no command.
#pragma once

constexpr int kCommandNone = 0;

// ---------------------------------------------------------------------------
// Menu and keyboard commands
// ---------------------------------------------------------------------------

constexpr int kCommandPlayStop = 1;       // Space
constexpr int kCommandEscape = 2;         // Escape
constexpr int kCommandUndo = 3;
constexpr int kCommandRedo = 4;
constexpr int kCommandCut = 5;
constexpr int kCommandCopy = 6;
constexpr int kCommandPaste = 7;
constexpr int kCommandDelete = 8;
constexpr int kCommandSelectAll = 9;
constexpr int kCommandSave = 10;
constexpr int kCommandDrawMode = 11;
constexpr int kCommandNudgeBack = 12;     // Comma, one frame earlier
constexpr int kCommandNudgeForward = 13;  // Period, one frame later
constexpr int kCommandZoomIn = 14;
constexpr int kCommandZoomOut = 15;
constexpr int kCommandMute = 16;          // Mute / Unmute
constexpr int kCommandGroup = 17;
constexpr int kCommandUngroup = 18;
constexpr int kCommandRender = 19;
constexpr int kCommandSetInPoint = 20;
constexpr int kCommandSetOutPoint = 21;
constexpr int kCommandClearWorkArea = 22;
constexpr int kCommandSaveScene = 23;
constexpr int kCommandLock = 24;          // Lock / Unlock
constexpr int kCommandCreateSpot = 25;    // 25 + shape: Spot, Bloom, Contour, Fill
constexpr int kCommandCreateBloom = 26;
constexpr int kCommandCreateContour = 27;
constexpr int kCommandCreateFill = 28;
constexpr int kCommandReviewSelectAll = 29;  // review mode: every suggestion
constexpr int kCommandReviewOn = 30;         // review mode: selected suggestions on
constexpr int kCommandReviewOff = 31;        // review mode: selected suggestions off
constexpr int kCommandReviewApply = 32;      // review mode: selection to the pending set
constexpr int kCommandNew = 33;
constexpr int kCommandOpen = 34;
constexpr int kCommandSaveAs = 35;
constexpr int kCommandExport = 36;        // the Export tab
constexpr int kCommandClose = 37;
constexpr int kCommandSettings = 38;      // the Settings tab
constexpr int kCommandAbout = 39;
constexpr int kCommandUserGuide = 40;
constexpr int kCommandLauncher = 41;
constexpr int kCommandZoomFit = 42;
constexpr int kCommandImportVideo = 43;
constexpr int kCommandImportMarkers = 44;
constexpr int kCommandTabEvents = 45;
constexpr int kCommandTabTrace = 46;
constexpr int kCommandTabMixer = 48;
constexpr int kCommandTabLibrary = 47;
constexpr int kCommandPlaceClip = 53;
constexpr int kCommandPlaceBed = 54;
constexpr int kCommandBounceToClip = 55;

// ---------------------------------------------------------------------------
// Window commands: handled where the menu item is chosen, never parked
// ---------------------------------------------------------------------------

constexpr int kCommandExit = 900;
constexpr int kCommandClearRecent = 901;

// ---------------------------------------------------------------------------
// Dynamic ranges: resolved against the lists as they stand when run
// ---------------------------------------------------------------------------

constexpr int kCommandRecentBase = 1000;  // + i, recent project i
constexpr int kCommandRecentEnd = 1100;
constexpr int kCommandRecipeBase = 2000;  // + i, recipe i of the recipe list
constexpr int kCommandRecipeEnd = 3000;
constexpr int kCommandChainBase = 3000;   // + i, chain i of the chain list
constexpr int kCommandChainEnd = 4000;
