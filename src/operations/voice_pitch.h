// voice_pitch.h — the pitch of voices built without a search for it,
// measured when the voices are brought in line with a scale.
//
// Index
//   MeasureUnknownVoicePitches   every voice's pitch its build did not search for
//
// A voice build searches its samples for a pitch only when the project has a
// scale: the search costs about as much as the rest of a short voice's build,
// and a project without a scale never needs it. What it found stays with the
// voice, so that a change of scale tells without decoding which voices it
// retunes (the others keep their samples). Voices built with the scale off,
// or opened as stored, have no search; when the scale then changes, the
// rebuild first makes each one's samples again without their pitch shift
// and searches them, on every core, the voices playing on meanwhile; only the
// voices whose tuning changes are built again after that.
#pragma once

#include <atomic>

struct DocumentContext;

// For every voice whose keys still hold its result and whose pitch shift was
// made for other scale settings than the project's now, without a search:
// its samples made again without the pitch shift, searched, and the finding
// kept in the voice (tuneState, tunedPitch). Nothing when the scale is "Off".
// On the thread that owns the document; `cancel` stops it between voices
// (those not searched are built again by the rebuild). False then.
bool MeasureUnknownVoicePitches(const DocumentContext& ctx, const std::atomic<bool>* cancel);
