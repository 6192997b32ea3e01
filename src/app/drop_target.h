// drop_target.h — files and folders dropped on the main window.
//
// Index
//   DropExtension / IsDropVideoExtension / IsDropAudioExtension
//   DropSort / SortDroppedPaths   what a drop holds, sorted by kind
//   DeliverDrop                   into the AppState's pending-drop fields
//   DropPointer / DropIntake / HandleDropEvent   SDL's drop events
//   QueryDropPointer              where the pointer is and whether Alt is held
//   gLastDrop / DumpDropFields    the last drop, for the test driver's dump
//
// SDL 2 reports a drop as begin, one event per file, complete, and nothing
// while the drag hovers: the hover flags stay clear, and the position and
// the Alt key are read when the drop completes. The main window consumes the
// pending fields on its next frame (ui/drop_handover.h). UI thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

union SDL_Event;
struct SDL_Window;
struct AppState;
struct StateDump;

// The text after the last dot of the name, in lower case; "" when the name
// has no dot (a dot in a folder name does not count).
std::string DropExtension(const std::string& path);
// mp4 mov m4v avi mkv wmv webm mxf
bool IsDropVideoExtension(std::string_view lowerExtension);
// wav aif aiff flac ogg mp3 w64 caf
bool IsDropAudioExtension(std::string_view lowerExtension);

struct DropSort {
    std::string videoPath;                // the last video of the drop
    std::vector<std::string> folders;
    std::vector<std::string> audioFiles;
    bool audioSeen = false;
    bool accepted = false;                // anything above was taken
    std::vector<std::string> refusals;    // the sentences of paths refused (RefusalSentence)
};

// In order: an existing folder is a folder whatever its name ("Rain.mov/"),
// then a video, then an audio file; any other regular file is ignored. A
// folder that cannot be listed, a video or audio file that cannot be read,
// and whatever is neither file nor folder (a pipe, a socket, a device, a
// path that is gone) are refused with their sentence.
DropSort SortDroppedPaths(const std::vector<std::string>& paths);

// Stores the position (points) and clears the hover flags; the video
// replaces a pending one, folders and audio files are appended, and the Alt
// state is taken only when the drop holds audio. The first refusal, if any,
// is the toast. Returns `sort.accepted`.
bool DeliverDrop(AppState& app, const DropSort& sort, float x, float y, bool alt);

struct DropPointer {
    float x = 0;  // window pixels
    float y = 0;
    bool alt = false;
};

struct DropIntake {
    bool open = false;
    std::vector<std::string> paths;
};

// Takes SDL_DROPBEGIN, SDL_DROPFILE and SDL_DROPCOMPLETE (text drops are
// ignored); at completion sorts the paths and delivers them with the
// pointer read then, divided by `uiScale`. The caller frees the event's
// text. True when the event was a drop event.
bool HandleDropEvent(DropIntake& intake, AppState& app, const SDL_Event& e, float uiScale,
                     const std::function<DropPointer()>& pointer);

DropPointer QueryDropPointer(SDL_Window* window);

struct LastDrop {
    int count = 0;  // drops completed this run
    DropSort sort;
    float x = 0;    // points
    float y = 0;
    bool alt = false;
};
extern LastDrop gLastDrop;
void DumpDropFields(StateDump& dump);

