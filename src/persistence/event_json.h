// event_json.h — one event and one rendered layer as members of a project file.
//
// Index
//   WriteEventJson     an event's members, bounce sources nested to any depth
//   WriteResultJson    a rendered layer's members
//   ReadEventJson      a freshly constructed event from its object
//
// The writers fill an object that the caller opened with JsonBeginObject and
// closes afterwards; every sound path goes through the collected-path map.
// The reader never fails: a missing or mistyped member keeps its default.
#pragma once

#include <string>
#include <vector>

struct CollectedAudioMap;
struct Event;
struct JsonValue;
struct JsonWriter;
struct RenderResult;

void WriteEventJson(JsonWriter& w, const Event& event, const CollectedAudioMap& collected);
void WriteResultJson(JsonWriter& w, const RenderResult& result, const CollectedAudioMap& collected);

// Fills `event` (freshly constructed by the caller) from `object`. Relative
// sound paths are resolved against `projectFolder`; `legacy` is set for files
// older than version 2 (a shape 2 then reads as an alloyed Bloom);
// `userShapeCount` bounds userShapeIdx. A single pinned path too long for its
// field is not kept: it is appended to *refusedPaths (when given) so that the
// caller can report the file as missing.
void ReadEventJson(Event& event, const JsonValue& object, const std::string& projectFolder,
                   bool legacy, int userShapeCount, std::vector<std::string>* refusedPaths = nullptr);
