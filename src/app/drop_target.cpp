// drop_target.cpp — sorting dropped paths and taking SDL's drop events.
//
// Index
//   Extensions            DropExtension and the two lists
//   SortDroppedPaths / DeliverDrop
//   SDL intake            HandleDropEvent (TakeDropEvent, CompleteDrop)
//   QueryDropPointer      X11's pointer and modifier state, else SDL's
//   gLastDrop / DumpDropFields
#include "app/drop_target.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cctype>
#include <cstdio>

#include "app/test_driver.h"
#include "operations/app_state.h"
#include "platform/file_util.h"
#include "platform/path_refusal.h"

LastDrop gLastDrop;

// ---------------------------------------------------------------------------
// Extensions
// ---------------------------------------------------------------------------

std::string DropExtension(const std::string& path) {
    size_t dot = path.rfind('.');
    size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool IsDropVideoExtension(std::string_view e) {
    return e == "mp4" || e == "mov" || e == "m4v" || e == "avi" || e == "mkv" || e == "wmv" || e == "webm" ||
           e == "mxf";
}

bool IsDropAudioExtension(std::string_view e) {
    return e == "wav" || e == "aif" || e == "aiff" || e == "flac" || e == "ogg" || e == "mp3" || e == "w64" ||
           e == "caf";
}

// ---------------------------------------------------------------------------
// SortDroppedPaths / DeliverDrop
// ---------------------------------------------------------------------------

DropSort SortDroppedPaths(const std::vector<std::string>& paths) {
    DropSort sort;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        int error = 0;
        const PathKind kind = InspectPath(path, &error);
        // The folder test comes first: a folder named "Rain.mov" is a folder.
        if (kind == PathKind::Folder) {
            const std::string refusal = FolderRefusal(path);
            if (!refusal.empty()) {
                sort.refusals.push_back(refusal);
                continue;
            }
            sort.folders.push_back(path);
            sort.accepted = true;
            continue;
        }
        if (kind != PathKind::Regular) {
            sort.refusals.push_back(RefusalSentence(path, kind, PathWanted::File, error));
            continue;
        }
        const std::string ext = DropExtension(path);
        const bool video = IsDropVideoExtension(ext), audio = IsDropAudioExtension(ext);
        if (!video && !audio) continue;
        const std::string refusal = RegularFileProblem(path);
        if (!refusal.empty()) {
            sort.refusals.push_back(refusal);
        } else if (video) {
            sort.videoPath = path;
            sort.accepted = true;
        } else {
            sort.audioFiles.push_back(path);
            sort.audioSeen = true;
            sort.accepted = true;
        }
    }
    return sort;
}

bool DeliverDrop(AppState& app, const DropSort& sort, float x, float y, bool alt) {
    app.dragHoverX = x;
    app.dragHoverY = y;
    app.dragAccepted = false;
    app.dragHasFolder = false;
    app.dragHasAudio = false;
    app.dragHasVideo = false;
    if (!sort.videoPath.empty()) app.droppedVideoPath = sort.videoPath;
    app.droppedFolders.insert(app.droppedFolders.end(), sort.folders.begin(), sort.folders.end());
    app.droppedAudioFiles.insert(app.droppedAudioFiles.end(), sort.audioFiles.begin(), sort.audioFiles.end());
    if (sort.audioSeen) app.droppedAltKey = alt;
    if (!sort.refusals.empty()) ShowToast(app, sort.refusals.front(), kRefusalToastSeconds);
    return sort.accepted;
}

// ---------------------------------------------------------------------------
// SDL intake
// ---------------------------------------------------------------------------

namespace {

// 0 for no drop event, 1 for begin, file or text, 2 for the completion.
int TakeDropEvent(DropIntake& intake, const SDL_Event& e) {
    switch (e.type) {
        case SDL_DROPBEGIN:
            intake.open = true;
            intake.paths.clear();
            return 1;
        case SDL_DROPFILE:
            // A file without a begin (older SDL) still starts a drop.
            if (!intake.open) {
                intake.open = true;
                intake.paths.clear();
            }
            if (e.drop.file) intake.paths.emplace_back(e.drop.file);
            return 1;
        case SDL_DROPTEXT: return 1;  // dragged text is no file
        case SDL_DROPCOMPLETE: return 2;
        default: return 0;
    }
}

void CompleteDrop(DropIntake& intake, AppState& app, const DropPointer& pointer, float uiScale) {
    std::vector<std::string> paths;
    paths.swap(intake.paths);
    intake.open = false;
    if (!(uiScale > 0)) uiScale = 1;
    const DropSort sort = SortDroppedPaths(paths);
    const float x = pointer.x / uiScale, y = pointer.y / uiScale;
    DeliverDrop(app, sort, x, y, pointer.alt);
    gLastDrop.count += 1;
    gLastDrop.sort = sort;
    gLastDrop.x = x;
    gLastDrop.y = y;
    gLastDrop.alt = pointer.alt;
    std::printf("[UI] drop at %.0f,%.0f: %zu path%s, %s video, %zu folder%s, %zu audio file%s%s\n", x, y,
                paths.size(), paths.size() == 1 ? "" : "s", sort.videoPath.empty() ? "no" : "a",
                sort.folders.size(), sort.folders.size() == 1 ? "" : "s", sort.audioFiles.size(),
                sort.audioFiles.size() == 1 ? "" : "s", sort.audioSeen && pointer.alt ? " (Alt)" : "");
    std::fflush(stdout);
}

}  // namespace

bool HandleDropEvent(DropIntake& intake, AppState& app, const SDL_Event& e, float uiScale,
                     const std::function<DropPointer()>& pointer) {
    int kind = TakeDropEvent(intake, e);
    if (kind == 2) CompleteDrop(intake, app, pointer ? pointer() : DropPointer{}, uiScale);
    return kind != 0;
}

// ---------------------------------------------------------------------------
// QueryDropPointer
// ---------------------------------------------------------------------------

DropPointer QueryDropPointer(SDL_Window* window) {
    DropPointer p;
    if (!window) return p;
#if defined(SDL_VIDEO_DRIVER_X11)
    // The file manager has the keyboard during a drag, so SDL's own modifier
    // state is stale: the X server knows the pointer and the keys held now.
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11) {
        ::Window root = 0, child = 0;
        int rootX = 0, rootY = 0, winX = 0, winY = 0;
        unsigned int mask = 0;
        if (XQueryPointer(info.info.x11.display, info.info.x11.window, &root, &child, &rootX, &rootY, &winX, &winY,
                          &mask)) {
            p.x = static_cast<float>(winX);
            p.y = static_cast<float>(winY);
            p.alt = (mask & Mod1Mask) != 0;
            return p;
        }
    }
#endif
    int gx = 0, gy = 0, wx = 0, wy = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetWindowPosition(window, &wx, &wy);
    p.x = static_cast<float>(gx - wx);
    p.y = static_cast<float>(gy - wy);
    p.alt = (SDL_GetModState() & KMOD_ALT) != 0;
    return p;
}

// ---------------------------------------------------------------------------
// Dump
// ---------------------------------------------------------------------------

void DumpDropFields(StateDump& dump) {
    auto joined = [](const std::vector<std::string>& list) {
        std::string text;
        for (const std::string& s : list) text += (text.empty() ? "" : "|") + s;
        return text;
    };
    dump.Field("drop.count", gLastDrop.count);
    dump.Field("drop.video", gLastDrop.sort.videoPath);
    dump.Field("drop.folders", joined(gLastDrop.sort.folders));
    dump.Field("drop.audio", joined(gLastDrop.sort.audioFiles));
    dump.Field("drop.alt", gLastDrop.alt);
    dump.Field("drop.x", static_cast<double>(gLastDrop.x));
    dump.Field("drop.y", static_cast<double>(gLastDrop.y));
}
