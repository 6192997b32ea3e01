// event_json.h — one event and one rendered layer as members of a project file.
//
// Index
//   WriteEventJson     an event's members, bounce sources nested to any depth
//   WriteResultJson    a rendered layer's members
//   ReadEventJson      a freshly constructed event from its object
//   ReadResultJson     a freshly constructed layer from its object (linking is the loader's)
//   ReadAlloySourceJson  one alloy source of a layer
//   ResolveAgainstProjectFolder  a stored path against the folder of the project file
//
// The writers fill an object that the caller opened with JsonBeginObject and
// closes afterwards; every sound path goes through the collected-path map.
// The reader never fails: a missing or mistyped member keeps its default.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

struct AlloySource;
struct CollectedAudioMap;
struct Event;
struct JsonValue;
struct JsonWriter;
struct RenderResult;

// Highest track within a group that a stored layer may name.
constexpr int kMaxGroupTrack = 1023;

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

// Fills `result` (freshly constructed, so it has a new id) from one element
// of "results": scalars with their defaults and ranges, the gain arrays (a
// short "intGain" is stretched, other short arrays are ignored), fill chunks
// for procMode 1 and alloy settings and sources for procMode 3. The file is
// not looked for here: the event rule and the linking through the registry
// are the loader's.
void ReadResultJson(RenderResult& result, const JsonValue& object, const std::string& projectFolder);

// A non-object leaves `source` as it is. A source stored without an id gets
// the id of its content (empty when the file cannot be read).
void ReadAlloySourceJson(const std::string& projectFolder, const JsonValue& value, AlloySource& source);

// Empty stays empty, absolute stays as stored; a relative path is joined to
// the project folder (canonical when the file is there), so collected audio
// is found beside the project wherever its folder was moved.
std::string ResolveAgainstProjectFolder(const std::string& path, const std::string& projectFolder);

// While one lives on a thread, ResolveAgainstProjectFolder asks the file
// system once per distinct path and folder: every layer of a long project
// names one of a few files, and a load reads the folder as it was when the
// load began. A load makes one for its own length.
class ProjectPathMemo {
public:
    ProjectPathMemo();
    ~ProjectPathMemo();
    ProjectPathMemo(const ProjectPathMemo&) = delete;
    ProjectPathMemo& operator=(const ProjectPathMemo&) = delete;

private:
    std::unordered_map<std::string, std::string> resolved_;
    std::unordered_map<std::string, std::string>* outer_;
};
