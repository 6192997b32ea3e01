// reroll.h — a new sound for one layer: another library sound for the same
// event, fitted and placed the way the render pass would have placed it.
//
// Index
//   CanRerollResult         which layers may be re-rolled
//   RerollAlternatives      a pinned sound and its nearest neighbours
//   RerollSeed              the random state of one re-roll (counter, layer, clock)
//   RerollResult            the re-roll itself
//   RerollResultWithSeed    the same from a given state (reproducible, for tests)
//
// Runs on the thread that owns the document (the busy task). Reads the sound
// library without locking, as the render does; changes one result in place.
// The caller re-renders the event's playback afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LibraryEntry;
struct Project;
struct RenderResult;
struct SoundLibrary;

// A valid result of a valid event that is neither a spectral morph (procMode
// 3) nor a layer of a Clip or Bed event: those follow their events' own
// files, so a new sound would be undone by the next rebuild of the event.
bool CanRerollResult(const Project& project, int resultIndex);

// When a candidate has the path: that candidate, then at most five of the
// others nearest to it in spectrum and character (distance below 1.5,
// nearest first). Otherwise the candidates unchanged.
std::vector<const LibraryEntry*> RerollAlternatives(const std::vector<const LibraryEntry*>& candidates,
                                                    const std::string& currentPath);

// (k x 0x9E3779B1) XOR the low 32 bits of the layer's id XOR the low 32 bits
// of the calendar time in seconds, k being the process-wide re-roll counter,
// which this advances.
uint32_t RerollSeed(const RenderResult& result);

// False (nothing changed) when the layer may not be re-rolled. Otherwise the
// current sound is pushed into the history first, so a false result after
// that (no candidate, nothing scored) still leaves the live state stored.
// True when the layer got a new sound: it is unmuted and resultsRevision
// rises by one. A Fill layer gets the whole file and loses its chunk plan.
bool RerollResult(Project& project, int resultIndex, const SoundLibrary& library);
bool RerollResultWithSeed(Project& project, int resultIndex, const SoundLibrary& library, uint32_t seed);
