// job_protocol_logic.h — the plain rules of the UI job protocol: what the
// frame shows of the workers and does with their flags, without the GUI. The
// requests for the document (steps 1–5) are operations/job_requests.h.
//
// Index
//   PumpExportCompletion    join the export thread, linger, run its completion once
//   BusyOverlayFade         the overlay's fade-in, 0..1
//   LiveBlockText           the progress line over a full render
//
// UI thread.
#pragma once

#include <string>

struct AppState;

// Step 10 of the frame, with `now` from the interface clock. When the export
// thread has raised exportDone: joins it, fills its bar (when it has one),
// stamps the done time; 0.8 s after that clears exportRunning, exportDone
// and the done time and runs the completion function once (it is cleared
// before it runs). True in the call that ran it.
bool PumpExportCompletion(AppState& app, double now);

// 0 for the first 0.2 s after `startedAt`, then rising linearly to 1 over
// 0.3 s.
float BusyOverlayFade(double now, double startedAt);

// "%s  event %d / %d  ·  %d clips", or "%s  %d clips" while the total is 0.
std::string LiveBlockText(const std::string& status, int eventsDone, int eventsTotal, int clipsBuilt);
