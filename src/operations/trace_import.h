// trace_import.h — the commit of an import from the Trace tab: the events
// made from accepted picture suggestions and markers, and the scenes the
// marker file named.
//
// Index
//   ImportTraceEvents   one edit: the events appended, the duration grown,
//                       the waiting marker scenes inserted
//
// The interface builds the events from the trace and the panel's recipe;
// this is the document's part. Interface thread.
#pragma once

#include <vector>

#include "operations/document_context.h"

struct Event;

// One edit (BeginEdit .. FinishEdit): the events appended in one step, the
// project's duration grown to a second past the last event's end, and with
// `withMarkerScenes` the marker scenes waiting in the app state inserted in
// time order (each running to the next one's start, the last to the end of
// the project, at least a frame long; the waiting list emptied). The number
// of events appended, or −1 when refused (nothing changed, the scenes still
// waiting) or when there is nothing to import.
int ImportTraceEvents(const DocumentContext& ctx, const std::vector<Event>& added, bool withMarkerScenes);
