// trace_timeline.h — widening the timeline so that every suggestion of the
// picture trace and every imported marker shows, and putting it back.
//
// Index
//   FitTimelineToSuggestions / RestoreTimelineExtent   widen and put back
//
// Interface thread.
#pragma once

struct AppState;
struct Project;

// When a suggestion or an imported marker ends after the project does, makes
// the project and the view run from 0 to 1 s past the latest end. The first
// widening remembers the view and the duration; later ones keep that memory.
void FitTimelineToSuggestions(AppState& app, Project& project);
// Puts back what the first widening remembered and forgets it.
void RestoreTimelineExtent(AppState& app, Project& project);
