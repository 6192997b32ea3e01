// document_indices.h — whether an index an operation is handed names an
// event or a layer the document holds.
//
// Index
//   ValidEvent / ValidResult   an index of the document's events (or of an event list) / of its layers
//   ValidOnly                  the indices of a list that name events, in the list's order
//
// The interface hands operations indices it read a frame ago (a click on a
// lane, a selection): the document may hold fewer by now, so every operation
// checks an index before it reads or writes through it.
#pragma once

#include <cstddef>
#include <vector>

#include "document/event.h"
#include "document/project.h"

inline bool ValidEvent(const std::vector<Event>& events, int event) {
    return event >= 0 && size_t(event) < events.size();
}

inline bool ValidEvent(const Project& project, int event) { return ValidEvent(project.events, event); }

inline bool ValidResult(const Project& project, int result) {
    return result >= 0 && size_t(result) < project.results.size();
}

inline std::vector<int> ValidOnly(const Project& project, const std::vector<int>& events) {
    std::vector<int> out;
    for (int e : events)
        if (ValidEvent(project, e)) out.push_back(e);
    return out;
}
