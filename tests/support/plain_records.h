// plain_records.h — the small records many tests start from, written once.
//
// Index
//   EventAt       an event of a shape at a time, with its length and lead-in
//   BandEntry     a library entry with band energies and a path
//   NamedLibrary  a library with a name, a folder and entries
//   AddSceneSpan  a scene from `in` to `out` added to a project
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"

inline Event EventAt(float time, float duration, float syncOffset = 0, int shape = kShapeSpot) {
    Event e;
    e.time = time;
    e.duration = duration;
    e.syncOffset = syncOffset;
    e.shape = shape;
    return e;
}

inline LibraryEntry BandEntry(std::initializer_list<float> bands, const std::string& path = "") {
    LibraryEntry e;
    int b = 0;
    for (float v : bands) e.bandEnergy[b++] = v;
    e.path = path;
    e.name = path;
    return e;
}

inline LibraryIndex NamedLibrary(const std::string& name, const std::string& path, std::vector<LibraryEntry> entries) {
    LibraryIndex l;
    l.name = name;
    l.path = path;
    l.entries = std::move(entries);
    return l;
}

inline void AddSceneSpan(Project& project, float in, float out) {
    Scene scene;
    scene.inTime = in;
    scene.outTime = out;
    project.scenes.push_back(scene);
}
