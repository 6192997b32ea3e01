// preset_json.h — what recipe and chain files share: their file names, the
// guarded save, the bounded lenient read, and the preset members both write.
//
// Index
//   PresetSaveResult / PresetSaveFailed   the outcome of a save
//   PresetFileStem                        a name -> the stem of its file name
//   NameRefusedForFile                    a name no file may take, logged
//   SavePresetJsonFile                    create the folder, refuse another name's file, write safely
//   PresetFileExists                      whether a save would meet a file already there
//   ReadPresetJsonFile                    read at most 16 MiB, parse leniently, log damage, warn on a newer format
//   ReadPresetFileOpening                 the source path, the file and its name, as every read begins
//   ReadStoredName                        the "name" of a stored file, for the collision check
//   NameForField / ReadNameMember   a name into its 64-byte field, cut with "…"
//   ReadTextMember / ReadPresetSettings / ReadClipMembers / ReadPinnedFileLists   members into a preset
//   BeginPresetFileText                   the members every recipe and chain file opens with
//   WriteSoughtMembers / WriteShapingMembers / WriteClipMembers / WritePinnedFileLists  members out of a preset
//
// Readers never fail on content: a missing or mistyped member keeps its
// default, enumerations are clamped, texts that do not fit their field are
// cut at a character boundary, and paths that do not fit are refused.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "persistence/json_value.h"

struct EventPreset;
struct JsonWriter;

enum PresetSaveResult : int32_t {
    kPresetSaved = 0,
    kPresetSaveFolderFailed = 1,  // no user folder, or it could not be created; nothing written
    kPresetSaveWriteFailed = 2,   // the write failed; the old file is intact, no ".tmp" is left
    kPresetNameTaken = 3,         // the file holds another name; nothing written (ask, then force)
    kPresetNothingToSave = 4,     // a chain without one valid event; nothing written
    kPresetNameRefused = 5,       // the name cannot become a file name (FileNameProblem); nothing written
};

inline bool PresetSaveFailed(PresetSaveResult result) {
    return result == kPresetSaveFolderFailed || result == kPresetSaveWriteFailed ||
           result == kPresetNothingToSave || result == kPresetNameRefused;
}

// Keeps blanks, '-', '_', ASCII digits and letters in order and drops every
// other byte (each byte of a multi-byte character too); `fallback` when
// nothing is left ("recipe" for recipes, "group" for chains). A name that
// FileNameProblem refuses never gets this far: the save refuses it whole.
std::string PresetFileStem(std::string_view name, const char* fallback = "recipe");

// True, with a line under `logTag` saying why, when FileNameProblem refuses
// `name`: the save then writes nothing.
bool NameRefusedForFile(std::string_view name, const char* logTag);

// Creates `folder` with its parents and writes `text` to folder/fileName
// through a temporary file. A file already there that holds another "name"
// (or one that cannot be read) is replaced only when `replaceOtherName` is
// set; anything other than a file standing there fails the save.
// Whether folder/fileName exists (any kind of file): the user is asked
// before a save replaces it.
bool PresetFileExists(const std::string& folder, const std::string& fileName);

PresetSaveResult SavePresetJsonFile(const std::string& folder, const std::string& fileName,
                                    std::string_view storedName, const std::string& text,
                                    bool replaceOtherName, const char* logTag);

// Reads and parses the file into `root`. False, with `root` untouched, when
// the path is not a readable regular file or is larger than 16 MiB. Damage is
// logged under `logTag`; a "formatVersion" (else "version") above 1 prints
// one warning line on stderr, naming the file a `kind` ("Recipe", "Chain").
bool ReadPresetJsonFile(const std::string& path, const char* kind, const char* logTag,
                        JsonValue& root);

// What every read of a recipe or chain file does first: `stored` (a preset
// or a chain) notes `path` as its source, the file is read into `root`
// (ReadPresetJsonFile) and its "name" into stored.name. False when the file
// could not be read; `stored` then keeps its defaults.
template <class Stored>
bool ReadPresetFileOpening(const std::string& path, const char* kind, const char* logTag, Stored& stored,
                           JsonValue& root) {
    stored.sourcePath = path;
    if (!ReadPresetJsonFile(path, kind, logTag, root)) return false;
    ReadNameMember(root, stored.name, sizeof stored.name);
    return true;
}

// The "name" member of the file at `path`; false when it cannot be read.
bool ReadStoredName(const std::string& path, std::string& name);

// A string member copied into a fixed field of `size` bytes, cut at a
// character boundary; "" when the member is missing or not a string.
void ReadTextMember(const JsonValue& object, const char* key, char* field, size_t size);

// A name as a field of `size` bytes holds it: a longer one (a file written
// elsewhere) is cut between whole characters and ends in "…", so lists and
// menus show that it goes on (ShortenedText).
std::string NameForField(std::string_view name, size_t size);
// The "name" member into a field of `size` bytes, as NameForField gives it.
void ReadNameMember(const JsonValue& object, char* field, size_t size);

// The members both files read alike: "keywords", "shape", "intensityMode",
// "duration", "spread", "weightCenter", "intensityScale", "weightOffset",
// "alloyMorph" (0.35 when missing), "pitchVariation", "reverbSend", "gain",
// "fillLayers", "groupOverride", "stereo", "libFilter", "weight", "intensity".
void ReadPresetSettings(const JsonValue& object, EventPreset& preset);

// "pinnedFile" and "pinnedFileId" (a file without an id is fingerprinted),
// the clip timing, "clipPitchRate" and "clipReverse"; with `recipeKeys` also
// the older "place..." timing keys and "clipWeight".
void ReadClipMembers(const JsonValue& object, EventPreset& preset, bool recipeKeys,
                     const char* logTag);

// "pinnedFiles" (empty texts skipped), "pinnedFileIds" (cut to the files),
// the registration of every file with an id together with its stored hash and
// size, "bedLayerLoop" and "bedLayerWeight" (0.5 reads as automatic). With
// `fingerprintMissing`, files without an id get one first.
void ReadPinnedFileLists(const JsonValue& object, EventPreset& preset, bool fingerprintMissing);

// The text opens ("{") with "format" (`format`), "formatVersion" 1,
// "createdBy" (this program's version) and "name"; members go on at level 1.
void BeginPresetFileText(JsonWriter& w, const char* format, std::string_view name);

// What the preset asks of a sound: "keywords", "shape", "intensityMode" and
// "duration", in that order.
void WriteSoughtMembers(JsonWriter& w, const EventPreset& preset);

// "spread", "weightCenter", "intensityScale", "weightOffset", "alloyMorph",
// "pitchVariation" (only above 0.001) and "reverbSend", in that order.
void WriteShapingMembers(JsonWriter& w, const EventPreset& preset);

// The Clip block: "pinnedFile", "pinnedFileId" when set, the four timing
// members, "clipPitchRate" when it differs from 1, "clipReverse" when set and,
// with `withWeight`, "clipWeight" when set. Writes nothing without a file.
void WriteClipMembers(JsonWriter& w, const EventPreset& preset, bool withWeight);

// "pinnedFiles", then the ids with the hash and size the file registry holds
// for each (always with `idsAlways`, else only when there are ids), then the
// loop flags and weights when present. Writes nothing without pinned files.
void WritePinnedFileLists(JsonWriter& w, const EventPreset& preset, bool idsAlways);
