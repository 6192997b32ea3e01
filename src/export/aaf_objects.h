// aaf_objects.h — the AAF object model our session writer speaks, on top of
// the stored-object layer: a new file with its header, identification,
// content storage and dictionary; definitions looked up or registered once
// per id; mobs, slots, segments, parameters and essence descriptions.
//
// Index
//   AafProductIdentification, AafProductVersion    what the open call records
//   AafFile                                        one file being built
//   AafOpenNewFile / AafSaveFile / AafCloseFile    open, write whole, close
//   AafOpenExistingFile / AafOpenTransientFile     a written file read back; a file never saved
//   AafNewMobId                                    a SMPTE UMID with a random material number
//   AafDefinitionKind, AafLookupDefinition         the dictionary
//   AafRegisterDataDef / ParameterDef / InterpolationDef / OperationDef
//   AafCreateMob, AafGetMobId, AafAddMob, AafSlotCount
//   AafCreateWaveDescriptor, AafCreateNetworkLocator, AafAppendLocator, AafSetEssenceDescriptor
//   AafAppendTimelineSlot, AafAppendEventSlot, AafSetPhysicalTrackNumber
//   AafCreateSequence, AafAppendComponent          (the sequence's length follows its components)
//   AafCreateFiller, AafCreateSourceClip, AafCreateTimecode, AafCreateTransition,
//   AafCreateDescriptiveMarker
//   AafCreateOperationGroup, AafAppendInputSegment, AafAddParameter
//   AafCreateConstantValue, AafCreateVaryingValue, AafAddControlPoint
//
// Every call returns an AafStatus; created objects come back through an out
// pointer (which may be null where the object is attached at once) and stay
// owned by the file. Objects are checked for their class (a sequence takes
// components, a slot a segment) and values for their range (lengths not
// negative, rates above zero): WrongClass, InvalidValue. A source mob:
//   std::unique_ptr<AafFile> file;
//   AafOpenNewFile(path, ident, &file);
//   AafObject *sound, *mob, *clip, *desc, *loc;
//   AafLookupDefinition(*file, AafDefinitionKind::Data, kAafDataDefSound, &sound);
//   AafCreateMob(*file, AafMobKind::Source, "Door.wav", &mob);
//   AafCreateWaveDescriptor(*file, {48000, 1}, length, summary, &desc);
//   AafCreateNetworkLocator(*file, "file:///a/Door.wav", &loc);
//   AafAppendLocator(desc, loc);
//   AafSetEssenceDescriptor(mob, desc);
//   AafCreateSourceClip(*file, sound, length, AafSourceRef{}, &clip);
//   AafAppendTimelineSlot(*file, mob, {48000, 1}, clip, 1, "Audio", 0, nullptr);
//   AafAddMob(*file, mob);
//   AafSaveFile(*file); AafCloseFile(*file);
#pragma once

#include <map>
#include <set>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/aaf_ids.h"
#include "export/aaf_storage.h"

struct AafProductVersion {
    uint16_t major = 0, minor = 0, tertiary = 0, patchLevel = 0;
    uint8_t type = 0;  // 0 unknown, 1 released, 2 debug, 3 patched, 4 beta, 5 private build
};

struct AafProductIdentification {
    std::string companyName;
    std::string productName;
    std::string productVersionString;  // empty: "Unknown version"
    AafProductVersion productVersion;
    AafAuid productId;
};

enum class AafDefinitionKind { Data, Operation, Parameter, Interpolation };

struct AafFile {
    AafStore store;
    std::string path;
    AafTimeStamp openTime;  // the open call's time (UTC): creation and modification dates
    AafObject* root = nullptr;
    AafObject* header = nullptr;
    AafObject* content = nullptr;
    AafObject* dictionary = nullptr;
    std::map<std::pair<AafDefinitionKind, std::string>, AafObject*> definitions;  // by kind and id bytes
    std::set<std::string> mobIds;  // of the mobs in the content storage
    bool closed = false;
    bool readOnly = false;   // opened for reading: nothing may be added, nothing saved
    bool transient = false;  // in memory only: never saved
    WriteFault* writeFault = nullptr;  // a test's full disk met by the save (write_fault.h)
};

// A new file at `path` (written by AafSaveFile): root, MetaDictionary (the
// classes and types of AafFileMetaModel), Header, one Identification,
// ContentStorage and a Dictionary holding the Sound and Timecode data definitions.
AafStatus AafOpenNewFile(const std::string& path, const AafProductIdentification& identification,
                         std::unique_ptr<AafFile>* out);
// A file written before, read whole into memory. With `modifier`, the file
// may be changed and saved over itself, and the modifier's identification
// joins its IdentificationList; without, it is read-only (every call that
// adds to it, and the save, return ReadOnly). Unreadable or WrongForm, with
// `detail`, for a file our storage layer does not read.
AafStatus AafOpenExistingFile(const std::string& path, const AafProductIdentification* modifier,
                              std::unique_ptr<AafFile>* out, std::string* detail = nullptr);
// A new file that lives in memory only: built like any other, never saved
// (AafSaveFile returns Transient).
AafStatus AafOpenTransientFile(const AafProductIdentification& identification, std::unique_ptr<AafFile>* out);

// Writes the whole file ("<path>.tmp", then renamed); `detail` says why it failed.
AafStatus AafSaveFile(AafFile& file, std::string* detail = nullptr);
// Ends the file: later calls on it return FileClosed. What was not saved is dropped.
AafStatus AafCloseFile(AafFile& file);

AafMobId AafNewMobId();

// --- Dictionary ---------------------------------------------------------------------

// NotFound when the dictionary has no definition of that kind and id.
AafStatus AafLookupDefinition(const AafFile& file, AafDefinitionKind kind, const AafAuid& id, AafObject** out);

// Registering an id that is registered already changes nothing and returns
// DuplicateKey with the existing definition in *out.
AafStatus AafRegisterDataDef(AafFile& file, const AafAuid& id, std::string_view name,
                             std::string_view description, AafObject** out);
// `type`: a type of the file's MetaDictionary (kAafTypeRational).
AafStatus AafRegisterParameterDef(AafFile& file, const AafAuid& id, std::string_view name,
                                  std::string_view description, const AafAuid& type, AafObject** out);
AafStatus AafRegisterInterpolationDef(AafFile& file, const AafAuid& id, std::string_view name,
                                      std::string_view description, AafObject** out);

struct AafOperationDefInfo {
    AafAuid id;
    std::string name;
    std::string description;
    AafObject* dataDef = nullptr;           // a registered data definition
    bool isTimeWarp = false;
    int32_t numberInputs = 1;
    std::vector<AafObject*> parameters;     // registered parameter definitions
};
AafStatus AafRegisterOperationDef(AafFile& file, const AafOperationDefInfo& info, AafObject** out);

// --- Mobs -------------------------------------------------------------------------------

enum class AafMobKind { Composition, Master, Source };

// A mob with a new id, the name, the open time as creation and modification
// time and no slots. A composition is the session's top-level composition
// (usage code Usage_TopLevel).
AafStatus AafCreateMob(AafFile& file, AafMobKind kind, std::string_view name, AafObject** out);
AafStatus AafGetMobId(const AafObject* mob, AafMobId* out);
// Puts the mob into the content storage (once per mob id).
AafStatus AafAddMob(AafFile& file, AafObject* mob);
uint32_t AafSlotCount(const AafObject* mob);

AafStatus AafCreateWaveDescriptor(AafFile& file, AafRational sampleRate, int64_t length,
                                  const std::vector<uint8_t>& summary, AafObject** out);
AafStatus AafCreateNetworkLocator(AafFile& file, std::string_view url, AafObject** out);
AafStatus AafAppendLocator(AafObject* descriptor, AafObject* locator);
AafStatus AafSetEssenceDescriptor(AafObject* sourceMob, AafObject* descriptor);

// Slot ids are unique within a mob (DuplicateKey otherwise). An empty name
// writes no slot name.
AafStatus AafAppendTimelineSlot(AafFile& file, AafObject* mob, AafRational editRate, AafObject* segment,
                                uint32_t slotId, std::string_view name, int64_t origin, AafObject** out);
AafStatus AafAppendEventSlot(AafFile& file, AafObject* mob, AafRational editRate, AafObject* segment,
                             uint32_t slotId, AafObject** out);
AafStatus AafSetPhysicalTrackNumber(AafObject* slot, uint32_t number);

// --- Segments -------------------------------------------------------------------------------

AafStatus AafCreateSequence(AafFile& file, AafObject* dataDef, AafObject** out);
// Appends a component; the sequence's length grows by its length, or shrinks
// by a transition's length (a transition overlaps its neighbours).
AafStatus AafAppendComponent(AafObject* sequence, AafObject* component);

AafStatus AafCreateFiller(AafFile& file, AafObject* dataDef, int64_t length, AafObject** out);

// Where a source clip's material comes from; all zero is the empty
// reference that ends a chain of mobs (a file source mob's own clip).
struct AafSourceRef {
    AafMobId sourceId;
    uint32_t slotId = 0;
    int64_t startTime = 0;
};
AafStatus AafCreateSourceClip(AafFile& file, AafObject* dataDef, int64_t length, const AafSourceRef& ref,
                              AafObject** out);
// Data definition Timecode.
AafStatus AafCreateTimecode(AafFile& file, int64_t length, int64_t start, uint16_t fps, bool drop,
                            AafObject** out);
AafStatus AafCreateTransition(AafFile& file, AafObject* dataDef, int64_t length, int64_t cutPoint,
                              AafObject* operationGroup, AafObject** out);
// A marker of length 0 at `position` with its comment (an empty one writes
// none): a DescriptiveMarker, the comment marker that readers list as markers.
AafStatus AafCreateDescriptiveMarker(AafFile& file, AafObject* dataDef, int64_t position, std::string_view comment,
                                 AafObject** out);

AafStatus AafCreateOperationGroup(AafFile& file, AafObject* dataDef, int64_t length, AafObject* operationDef,
                                  AafObject** out);
AafStatus AafAppendInputSegment(AafObject* operationGroup, AafObject* segment);
// One parameter per parameter definition (DuplicateKey for a second).
AafStatus AafAddParameter(AafObject* operationGroup, AafObject* parameter);

// --- Parameters --------------------------------------------------------------------------------

// A constant of `type` (the value's stored bytes), or of the Rational type.
AafStatus AafCreateConstantValue(AafFile& file, AafObject* parameterDef, const AafAuid& type, const void* value,
                                 size_t size, AafObject** out);
AafStatus AafCreateConstantValue(AafFile& file, AafObject* parameterDef, AafRational value, AafObject** out);
AafStatus AafCreateVaryingValue(AafFile& file, AafObject* parameterDef, AafObject* interpolationDef,
                                AafObject** out);
// A control point at `time` (0..1 of the operation's length) with a Rational
// value; points come in time order (OutOfOrder otherwise).
AafStatus AafAddControlPoint(AafFile& file, AafObject* varyingValue, AafRational time, AafRational value);
