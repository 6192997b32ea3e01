// aaf_mobs.cpp — mobs, slots, segments, operation groups and parameters of
// the AAF object model (the file and dictionary: aaf_objects.cpp).
//
// Index
//   Class families       mobs, slots, segments, components
//   Value checks         lengths, rates, rational order
//   Mobs                 create, id, add to the content storage, slot count
//   Essence              WAVE descriptor, network locator
//   Slots                timeline and event slots
//   Segments             sequence (with its length), filler, source clip, timecode,
//                        transition, descriptive marker
//   Operation groups     inputs and parameters
//   Parameters           constant and varying values, control points
#include <cstring>

#include "export/aaf_object_checks.h"
#include "export/aaf_objects.h"

namespace {

bool IsMob(const AafObject* o) {
    return AafIsClass(o, kAafClassCompositionMob) || AafIsClass(o, kAafClassMasterMob) ||
           AafIsClass(o, kAafClassSourceMob);
}

bool IsSlot(const AafObject* o) {
    return AafIsClass(o, kAafClassTimelineMobSlot) || AafIsClass(o, kAafClassEventMobSlot);
}

bool IsSegment(const AafObject* o) {
    for (const AafAuid* c : {&kAafClassSequence, &kAafClassFiller, &kAafClassSourceClip, &kAafClassTimecode,
                             &kAafClassOperationGroup, &kAafClassDescriptiveMarker})
        if (AafIsClass(o, *c)) return true;
    return false;
}

bool IsComponent(const AafObject* o) { return IsSegment(o) || AafIsClass(o, kAafClassTransition); }

bool ValidRate(AafRational r) { return r.numerator > 0 && r.denominator > 0; }

int64_t ReadInt64(const AafObject* o, uint16_t pid) {
    size_t size = 0;
    const uint8_t* b = AafDataBytes(o, pid, &size);
    if (!b || size != 8) return 0;
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
    return static_cast<int64_t>(v);
}

uint32_t ReadUInt32(const AafObject* o, uint16_t pid, bool* present) {
    size_t size = 0;
    const uint8_t* b = AafDataBytes(o, pid, &size);
    *present = b && size == 4;
    return *present ? uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24 : 0;
}

AafRational ReadRational(const uint8_t* b) {
    auto word = [&](int at) {
        return static_cast<int32_t>(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
                                    uint32_t(b[at + 3]) << 24);
    };
    return AafRational{word(0), word(4)};
}

// a < b for rationals with positive denominators.
bool RationalLess(AafRational a, AafRational b) {
    return int64_t(a.numerator) * b.denominator < int64_t(b.numerator) * a.denominator;
}

// Common start of every creating call: an open file and somewhere to put
// the result.
AafStatus Begin(const AafFile& file, AafObject** out) {
    if (out) *out = nullptr;
    return AafWritable(file);
}

// Begin for a component: its length must not be negative either.
AafStatus BeginComponent(const AafFile& file, int64_t length, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    return length < 0 ? AafStatus::InvalidValue : AafStatus::Ok;
}

AafStatus Finish(AafFirstFailure& f, AafObject* object, AafObject** out) {
    if (f.status == AafStatus::Ok && out) *out = object;
    return f.status;
}

// A new component of `classId` with its data definition and length.
AafObject* NewComponent(AafFile& file, const AafAuid& classId, AafObject* dataDef, int64_t length,
                        AafFirstFailure& f) {
    AafObject* c = AafNewOf(file, classId);
    f += AafSetDefinitionRef(file, c, kAafPropComponentDataDefinition.pid, kAafTargetDataDefinitions, dataDef,
                             kAafClassDataDefinition);
    f += AafSetInt64(c, kAafPropComponentLength.pid, length);
    return c;
}

AafObject* NewParameter(AafFile& file, const AafAuid& classId, AafObject* parameterDef, AafFirstFailure& f) {
    f += AafCheckObject(file, parameterDef, kAafClassParameterDefinition);
    AafObject* p = AafNewOf(file, classId);
    const uint8_t* id = AafDefinitionId(parameterDef);
    if (id) f += AafSetData(p, kAafPropParameterDefinition.pid, id, 16);
    return p;
}

AafStatus AppendToOptionalVector(AafObject* parent, const AafPropertyId& prop, AafObject* child) {
    if (!AafFindProperty(parent, prop.pid)) {
        AafStatus s = AafCreateVector(parent, prop.pid, prop.name);
        if (s != AafStatus::Ok) return s;
    }
    return AafAppendToVector(parent, prop.pid, child);
}

// A slot of `classId` with its id, rate and segment, appended to the mob.
AafStatus AppendSlot(AafFile& file, AafObject* mob, const AafAuid& classId, uint16_t ratePid, AafRational editRate,
                     AafObject* segment, uint32_t slotId, AafObject** slot) {
    if (!IsMob(mob) || !IsSegment(segment)) return mob && segment ? AafStatus::WrongClass : AafStatus::NullArgument;
    if (mob->owner != &file.store || segment->owner != &file.store) return AafStatus::ForeignObject;
    if (!ValidRate(editRate)) return AafStatus::InvalidValue;
    if (segment->attached) return AafStatus::AlreadyAttached;
    const AafProperty* slots = AafFindProperty(mob, kAafPropMobSlots.pid);
    if (!slots) return AafStatus::NotFound;
    for (const AafObject* existing : slots->children) {
        bool present = false;
        if (ReadUInt32(existing, kAafPropSlotId.pid, &present) == slotId && present) return AafStatus::DuplicateKey;
    }
    AafFirstFailure f;
    AafObject* s = AafNewOf(file, classId);
    f += AafSetUInt32(s, kAafPropSlotId.pid, slotId);
    f += AafSetRational(s, ratePid, editRate);
    f += AafSetStrongRef(s, kAafPropSlotSegment.pid, kAafPropSlotSegment.name, segment);
    f += AafAppendToVector(mob, kAafPropMobSlots.pid, s);
    *slot = s;
    return f.status;
}

}  // namespace

// --- Mobs ----------------------------------------------------------------------------------

AafStatus AafCreateMob(AafFile& file, AafMobKind kind, std::string_view name, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    const AafAuid& classId = kind == AafMobKind::Composition ? kAafClassCompositionMob
                             : kind == AafMobKind::Master    ? kAafClassMasterMob
                                                             : kAafClassSourceMob;
    AafFirstFailure f;
    AafObject* mob = AafNewOf(file, classId);
    f += AafSetMobId(mob, kAafPropMobId.pid, AafNewMobId());
    f += AafSetString(mob, kAafPropMobName.pid, name);
    f += AafCreateVector(mob, kAafPropMobSlots.pid, kAafPropMobSlots.name, AafEmpty::Write);
    f += AafSetTimeStamp(mob, kAafPropMobLastModified.pid, file.openTime);
    f += AafSetTimeStamp(mob, kAafPropMobCreationTime.pid, file.openTime);
    if (kind == AafMobKind::Composition) f += AafSetAuid(mob, kAafPropMobUsageCode.pid, kAafUsageTopLevel);
    return Finish(f, mob, out);
}

AafStatus AafGetMobId(const AafObject* mob, AafMobId* out) {
    if (!out) return AafStatus::NullArgument;
    if (!IsMob(mob)) return mob ? AafStatus::WrongClass : AafStatus::NullArgument;
    size_t size = 0;
    const uint8_t* b = AafDataBytes(mob, kAafPropMobId.pid, &size);
    if (!b || size != 32) return AafStatus::NotFound;
    std::memcpy(out->label.data(), b, 12);
    out->length = b[12];
    std::memcpy(out->instance.data(), b + 13, 3);
    out->material = AafAuid::FromBytes(b + 16);
    return AafStatus::Ok;
}

AafStatus AafAddMob(AafFile& file, AafObject* mob) {
    if (AafStatus s = AafWritable(file); s != AafStatus::Ok) return s;
    if (!IsMob(mob)) return mob ? AafStatus::WrongClass : AafStatus::NullArgument;
    if (mob->owner != &file.store) return AafStatus::ForeignObject;
    size_t size = 0;
    const uint8_t* id = AafDataBytes(mob, kAafPropMobId.pid, &size);
    if (!id || size != 32) return AafStatus::BadKey;
    std::string key(reinterpret_cast<const char*>(id), size);
    if (file.mobIds.count(key)) return AafStatus::DuplicateKey;
    AafStatus s = AafAddToSet(file.content, kAafPropContentMobs.pid, mob);
    if (s == AafStatus::Ok) file.mobIds.insert(key);
    return s;
}

uint32_t AafSlotCount(const AafObject* mob) {
    const AafProperty* slots = AafFindProperty(mob, kAafPropMobSlots.pid);
    return slots ? static_cast<uint32_t>(slots->children.size()) : 0;
}

// --- Essence -----------------------------------------------------------------------------------

AafStatus AafCreateWaveDescriptor(AafFile& file, AafRational sampleRate, int64_t length,
                                  const std::vector<uint8_t>& summary, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    if (!ValidRate(sampleRate) || length < 0) return AafStatus::InvalidValue;
    AafFirstFailure f;
    AafObject* d = AafNewOf(file, kAafClassWaveDescriptor);
    f += AafSetRational(d, kAafPropFileDescriptorSampleRate.pid, sampleRate);
    f += AafSetInt64(d, kAafPropFileDescriptorLength.pid, length);
    f += AafSetData(d, kAafPropWaveDescriptorSummary.pid, summary.data(), summary.size());
    return Finish(f, d, out);
}

AafStatus AafCreateNetworkLocator(AafFile& file, std::string_view url, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* l = AafNewOf(file, kAafClassNetworkLocator);
    f += AafSetString(l, kAafPropNetworkLocatorUrl.pid, url);
    return Finish(f, l, out);
}

AafStatus AafAppendLocator(AafObject* descriptor, AafObject* locator) {
    if (!descriptor || !locator) return AafStatus::NullArgument;
    if (!AafIsClass(descriptor, kAafClassWaveDescriptor) || !AafIsClass(locator, kAafClassNetworkLocator))
        return AafStatus::WrongClass;
    return AppendToOptionalVector(descriptor, kAafPropDescriptorLocator, locator);
}

AafStatus AafSetEssenceDescriptor(AafObject* sourceMob, AafObject* descriptor) {
    if (!sourceMob || !descriptor) return AafStatus::NullArgument;
    if (!AafIsClass(sourceMob, kAafClassSourceMob) || !AafIsClass(descriptor, kAafClassWaveDescriptor))
        return AafStatus::WrongClass;
    return AafSetStrongRef(sourceMob, kAafPropSourceMobEssenceDescription.pid,
                           kAafPropSourceMobEssenceDescription.name, descriptor);
}

// --- Slots ---------------------------------------------------------------------------------------

AafStatus AafAppendTimelineSlot(AafFile& file, AafObject* mob, AafRational editRate, AafObject* segment,
                                uint32_t slotId, std::string_view name, int64_t origin, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    AafObject* slot = nullptr;
    s = AppendSlot(file, mob, kAafClassTimelineMobSlot, kAafPropTimelineSlotEditRate.pid, editRate, segment,
                   slotId, &slot);
    if (s != AafStatus::Ok) return s;
    AafFirstFailure f;
    f += AafSetInt64(slot, kAafPropTimelineSlotOrigin.pid, origin);
    if (!name.empty()) f += AafSetString(slot, kAafPropSlotName.pid, name);
    return Finish(f, slot, out);
}

AafStatus AafAppendEventSlot(AafFile& file, AafObject* mob, AafRational editRate, AafObject* segment,
                             uint32_t slotId, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    AafObject* slot = nullptr;
    s = AppendSlot(file, mob, kAafClassEventMobSlot, kAafPropEventSlotEditRate.pid, editRate, segment, slotId,
                   &slot);
    if (s == AafStatus::Ok && out) *out = slot;
    return s;
}

AafStatus AafSetPhysicalTrackNumber(AafObject* slot, uint32_t number) {
    if (!IsSlot(slot)) return slot ? AafStatus::WrongClass : AafStatus::NullArgument;
    return AafSetUInt32(slot, kAafPropSlotPhysicalTrackNumber.pid, number);
}

// --- Segments ------------------------------------------------------------------------------------

AafStatus AafCreateSequence(AafFile& file, AafObject* dataDef, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* seq = NewComponent(file, kAafClassSequence, dataDef, 0, f);
    f += AafCreateVector(seq, kAafPropSequenceComponents.pid, kAafPropSequenceComponents.name, AafEmpty::Write);
    return Finish(f, seq, out);
}

AafStatus AafAppendComponent(AafObject* sequence, AafObject* component) {
    if (!sequence || !component) return AafStatus::NullArgument;
    if (!AafIsClass(sequence, kAafClassSequence) || !IsComponent(component)) return AafStatus::WrongClass;
    AafStatus s = AafAppendToVector(sequence, kAafPropSequenceComponents.pid, component);
    if (s != AafStatus::Ok) return s;
    int64_t length = ReadInt64(sequence, kAafPropComponentLength.pid);
    int64_t part = ReadInt64(component, kAafPropComponentLength.pid);
    length += AafIsClass(component, kAafClassTransition) ? -part : part;
    std::vector<uint8_t> bytes;
    AafAppendInt64(bytes, length);
    return AafReplaceData(sequence, kAafPropComponentLength.pid, bytes.data(), bytes.size());
}

AafStatus AafCreateFiller(AafFile& file, AafObject* dataDef, int64_t length, AafObject** out) {
    if (AafStatus s = BeginComponent(file, length, out); s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* filler = NewComponent(file, kAafClassFiller, dataDef, length, f);
    return Finish(f, filler, out);
}

AafStatus AafCreateSourceClip(AafFile& file, AafObject* dataDef, int64_t length, const AafSourceRef& ref,
                              AafObject** out) {
    if (AafStatus s = BeginComponent(file, length, out); s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* clip = NewComponent(file, kAafClassSourceClip, dataDef, length, f);
    f += AafSetMobId(clip, kAafPropSourceId.pid, ref.sourceId);
    f += AafSetUInt32(clip, kAafPropSourceMobSlotId.pid, ref.slotId);
    f += AafSetInt64(clip, kAafPropSourceClipStartTime.pid, ref.startTime);
    return Finish(f, clip, out);
}

AafStatus AafCreateTimecode(AafFile& file, int64_t length, int64_t start, uint16_t fps, bool drop, AafObject** out) {
    AafStatus s = BeginComponent(file, length, out);
    if (s != AafStatus::Ok) return s;
    if (fps == 0) return AafStatus::InvalidValue;
    AafObject* timecodeDef = nullptr;
    s = AafLookupDefinition(file, AafDefinitionKind::Data, kAafDataDefTimecode, &timecodeDef);
    if (s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* tc = NewComponent(file, kAafClassTimecode, timecodeDef, length, f);
    f += AafSetInt64(tc, kAafPropTimecodeStart.pid, start);
    f += AafSetUInt16(tc, kAafPropTimecodeFps.pid, fps);
    f += AafSetBoolean(tc, kAafPropTimecodeDrop.pid, drop);
    return Finish(f, tc, out);
}

AafStatus AafCreateTransition(AafFile& file, AafObject* dataDef, int64_t length, int64_t cutPoint,
                              AafObject* operationGroup, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    s = AafCheckObject(file, operationGroup, kAafClassOperationGroup);
    if (s != AafStatus::Ok) return s;
    if (length < 0 || cutPoint < 0 || cutPoint > length) return AafStatus::InvalidValue;
    if (operationGroup->attached) return AafStatus::AlreadyAttached;
    AafFirstFailure f;
    AafObject* t = NewComponent(file, kAafClassTransition, dataDef, length, f);
    f += AafSetStrongRef(t, kAafPropTransitionOperationGroup.pid, kAafPropTransitionOperationGroup.name,
                         operationGroup);
    f += AafSetInt64(t, kAafPropTransitionCutPoint.pid, cutPoint);
    return Finish(f, t, out);
}

AafStatus AafCreateDescriptiveMarker(AafFile& file, AafObject* dataDef, int64_t position, std::string_view comment,
                                 AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* marker = NewComponent(file, kAafClassDescriptiveMarker, dataDef, 0, f);
    f += AafSetInt64(marker, kAafPropEventPosition.pid, position);
    if (!comment.empty()) f += AafSetString(marker, kAafPropEventComment.pid, comment);
    return Finish(f, marker, out);
}

// --- Operation groups ----------------------------------------------------------------------------

AafStatus AafCreateOperationGroup(AafFile& file, AafObject* dataDef, int64_t length, AafObject* operationDef,
                                  AafObject** out) {
    if (AafStatus s = BeginComponent(file, length, out); s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* group = NewComponent(file, kAafClassOperationGroup, dataDef, length, f);
    f += AafSetDefinitionRef(file, group, kAafPropOpGroupOperation.pid, kAafTargetOperationDefinitions,
                             operationDef, kAafClassOperationDefinition);
    return Finish(f, group, out);
}

AafStatus AafAppendInputSegment(AafObject* operationGroup, AafObject* segment) {
    if (!operationGroup || !segment) return AafStatus::NullArgument;
    if (!AafIsClass(operationGroup, kAafClassOperationGroup) || !IsSegment(segment)) return AafStatus::WrongClass;
    return AppendToOptionalVector(operationGroup, kAafPropOpGroupInputSegments, segment);
}

AafStatus AafAddParameter(AafObject* operationGroup, AafObject* parameter) {
    if (!operationGroup || !parameter) return AafStatus::NullArgument;
    if (!AafIsClass(operationGroup, kAafClassOperationGroup) ||
        !(AafIsClass(parameter, kAafClassConstantValue) || AafIsClass(parameter, kAafClassVaryingValue)))
        return AafStatus::WrongClass;
    size_t size = 0;
    const uint8_t* key = AafDataBytes(parameter, kAafPropParameterDefinition.pid, &size);
    if (!key || size != 16) return AafStatus::BadKey;
    const AafPropertyId& set = kAafPropOpGroupParameters;
    if (const AafProperty* existing = AafFindProperty(operationGroup, set.pid)) {
        for (const AafObject* p : existing->children) {
            size_t otherSize = 0;
            const uint8_t* other = AafDataBytes(p, kAafPropParameterDefinition.pid, &otherSize);
            if (otherSize == 16 && std::memcmp(other, key, 16) == 0) return AafStatus::DuplicateKey;
        }
    } else {
        AafStatus s = AafCreateSet(operationGroup, set.pid, set.name, kAafPropParameterDefinition.pid, 16);
        if (s != AafStatus::Ok) return s;
    }
    return AafAddToSet(operationGroup, set.pid, parameter);
}

// --- Parameters ------------------------------------------------------------------------------------

AafStatus AafCreateConstantValue(AafFile& file, AafObject* parameterDef, const AafAuid& type, const void* value,
                                 size_t size, AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* c = NewParameter(file, kAafClassConstantValue, parameterDef, f);
    f += AafSetIndirect(c, kAafPropConstantValueValue.pid, type, value, size);
    return Finish(f, c, out);
}

AafStatus AafCreateConstantValue(AafFile& file, AafObject* parameterDef, AafRational value, AafObject** out) {
    if (value.denominator == 0) return AafStatus::InvalidValue;
    std::vector<uint8_t> bytes = AafRationalBytes(value);
    return AafCreateConstantValue(file, parameterDef, kAafTypeRational, bytes.data(), bytes.size(), out);
}

AafStatus AafCreateVaryingValue(AafFile& file, AafObject* parameterDef, AafObject* interpolationDef,
                                AafObject** out) {
    AafStatus s = Begin(file, out);
    if (s != AafStatus::Ok) return s;
    AafFirstFailure f;
    AafObject* v = NewParameter(file, kAafClassVaryingValue, parameterDef, f);
    f += AafSetDefinitionRef(file, v, kAafPropVaryingValueInterpolation.pid, kAafTargetInterpolationDefinitions,
                             interpolationDef, kAafClassInterpolationDefinition);
    f += AafCreateVector(v, kAafPropVaryingValuePointList.pid, kAafPropVaryingValuePointList.name, AafEmpty::Write);
    return Finish(f, v, out);
}

AafStatus AafAddControlPoint(AafFile& file, AafObject* varyingValue, AafRational time, AafRational value) {
    AafStatus s = Begin(file, nullptr);
    if (s == AafStatus::Ok) s = AafCheckObject(file, varyingValue, kAafClassVaryingValue);
    if (s != AafStatus::Ok) return s;
    // Times lie within the operation (0 to 1) and rise from point to point.
    if (time.denominator <= 0 || value.denominator == 0 || time.numerator < 0 || time.numerator > time.denominator)
        return AafStatus::InvalidValue;
    const AafProperty* points = AafFindProperty(varyingValue, kAafPropVaryingValuePointList.pid);
    if (points && !points->children.empty()) {
        size_t size = 0;
        const uint8_t* last = AafDataBytes(points->children.back(), kAafPropControlPointTime.pid, &size);
        if (last && size == 8 && RationalLess(time, ReadRational(last))) return AafStatus::OutOfOrder;
    }
    AafFirstFailure f;
    AafObject* point = AafNewOf(file, kAafClassControlPoint);
    std::vector<uint8_t> bytes = AafRationalBytes(value);
    f += AafSetIndirect(point, kAafPropControlPointValue.pid, kAafTypeRational, bytes.data(), bytes.size());
    f += AafSetRational(point, kAafPropControlPointTime.pid, time);
    f += AafAppendToVector(varyingValue, kAafPropVaryingValuePointList.pid, point);
    return f.status;
}
