// aaf_ids.h — identifiers of the AAF object model that our writer uses:
// classes, properties (pid and name), types, definitions and labels. Only
// baseline classes and types appear; the file's MetaDictionary defines them
// all (aaf_meta_model.h).
//
// Index
//   Classes              kAafClass*   (the storage class ids)
//   Types                kAafType*
//   Definitions          kAafDataDef*, kAafOperationDef*, kAafParameterDef*, kAafInterpolationDef*
//   Labels               operational pattern, usage code, the UMID label of a random material number
//   Properties           kAafProp*    {pid, name}
//   Weak-reference targets  kAafTarget*  (pid paths from the root)
#pragma once

#include <cstdint>

#include "export/aaf_storage.h"

// --- Classes ------------------------------------------------------------------
inline constexpr AafAuid kAafClassMetaDictionary = AafAuidText("0d010101-0225-0000-060e-2b3402060101");
inline constexpr AafAuid kAafClassHeader = AafAuidText("0d010101-0101-2f00-060e-2b3402060101");
inline constexpr AafAuid kAafClassIdentification = AafAuidText("0d010101-0101-3000-060e-2b3402060101");
inline constexpr AafAuid kAafClassContentStorage = AafAuidText("0d010101-0101-1800-060e-2b3402060101");
inline constexpr AafAuid kAafClassDictionary = AafAuidText("0d010101-0101-2200-060e-2b3402060101");
inline constexpr AafAuid kAafClassDataDefinition = AafAuidText("0d010101-0101-1b00-060e-2b3402060101");
inline constexpr AafAuid kAafClassOperationDefinition = AafAuidText("0d010101-0101-1c00-060e-2b3402060101");
inline constexpr AafAuid kAafClassParameterDefinition = AafAuidText("0d010101-0101-1d00-060e-2b3402060101");
inline constexpr AafAuid kAafClassInterpolationDefinition = AafAuidText("0d010101-0101-2100-060e-2b3402060101");
inline constexpr AafAuid kAafClassCompositionMob = AafAuidText("0d010101-0101-3500-060e-2b3402060101");
inline constexpr AafAuid kAafClassMasterMob = AafAuidText("0d010101-0101-3600-060e-2b3402060101");
inline constexpr AafAuid kAafClassSourceMob = AafAuidText("0d010101-0101-3700-060e-2b3402060101");
inline constexpr AafAuid kAafClassEventMobSlot = AafAuidText("0d010101-0101-3900-060e-2b3402060101");
inline constexpr AafAuid kAafClassTimelineMobSlot = AafAuidText("0d010101-0101-3b00-060e-2b3402060101");
inline constexpr AafAuid kAafClassSequence = AafAuidText("0d010101-0101-0f00-060e-2b3402060101");
inline constexpr AafAuid kAafClassFiller = AafAuidText("0d010101-0101-0900-060e-2b3402060101");
inline constexpr AafAuid kAafClassSourceClip = AafAuidText("0d010101-0101-1100-060e-2b3402060101");
inline constexpr AafAuid kAafClassTimecode = AafAuidText("0d010101-0101-1400-060e-2b3402060101");
inline constexpr AafAuid kAafClassTransition = AafAuidText("0d010101-0101-1700-060e-2b3402060101");
inline constexpr AafAuid kAafClassOperationGroup = AafAuidText("0d010101-0101-0a00-060e-2b3402060101");
inline constexpr AafAuid kAafClassConstantValue = AafAuidText("0d010101-0101-3d00-060e-2b3402060101");
inline constexpr AafAuid kAafClassVaryingValue = AafAuidText("0d010101-0101-3e00-060e-2b3402060101");
inline constexpr AafAuid kAafClassControlPoint = AafAuidText("0d010101-0101-1900-060e-2b3402060101");
inline constexpr AafAuid kAafClassDescriptiveMarker = AafAuidText("0d010101-0101-4100-060e-2b3402060101");
inline constexpr AafAuid kAafClassWaveDescriptor = AafAuidText("0d010101-0101-2c00-060e-2b3402060101");
inline constexpr AafAuid kAafClassNetworkLocator = AafAuidText("0d010101-0101-3200-060e-2b3402060101");

// --- Types ----------------------------------------------------------------------
inline constexpr AafAuid kAafTypeRational = AafAuidText("03010100-0000-0000-060e-2b3401040101");

// --- Definitions ------------------------------------------------------------------
inline constexpr AafAuid kAafDataDefSound = AafAuidText("01030202-0200-0000-060e-2b3404010101");
inline constexpr AafAuid kAafDataDefTimecode = AafAuidText("01030201-0100-0000-060e-2b3404010101");
inline constexpr AafAuid kAafParameterDefLevel = AafAuidText("e4962320-2267-11d3-8a4c-0050040ef7d2");
inline constexpr AafAuid kAafParameterDefAmplitude = AafAuidText("e4962321-2267-11d3-8a4c-0050040ef7d2");
inline constexpr AafAuid kAafOperationDefMonoAudioDissolve = AafAuidText("0c3bea41-fc05-11d2-8a29-0050040ef7d2");
inline constexpr AafAuid kAafOperationDefMonoAudioGain = AafAuidText("9d2ea894-0968-11d3-8a38-0050040ef7d2");
inline constexpr AafAuid kAafInterpolationDefLinear = AafAuidText("5b6c85a4-0ede-11d3-80a9-006008143e6f");

// --- Labels ---------------------------------------------------------------------------
// Header OperationalPattern of files that follow the Edit Protocol.
inline constexpr AafAuid kAafOpEditProtocol = AafAuidText("0d011201-0100-0000-060e-2b3404010105");
// Mob UsageCode of the top-level composition.
inline constexpr AafAuid kAafUsageTopLevel = AafAuidText("0d010102-0101-0700-060e-2b3404010101");
// SMPTE UMID label for a material number made of random (UUID) bytes.
inline constexpr uint8_t kAafUmidLabelRandom[12] = {0x06, 0x0A, 0x2B, 0x34, 0x01, 0x01,
                                                    0x01, 0x05, 0x01, 0x01, 0x0F, 0x20};
inline constexpr uint8_t kAafUmidLength = 0x13;

// --- Properties -------------------------------------------------------------------------

struct AafPropertyId {
    uint16_t pid;
    const char* name;
};

// Root and MetaDictionary
inline constexpr AafPropertyId kAafPropRootMetaDictionary{0x0001, "MetaDictionary"};
inline constexpr AafPropertyId kAafPropRootHeader{0x0002, "Header"};
inline constexpr AafPropertyId kAafPropMetaClassDefinitions{0x0003, "ClassDefinitions"};
inline constexpr AafPropertyId kAafPropMetaTypeDefinitions{0x0004, "TypeDefinitions"};
inline constexpr AafPropertyId kAafPropMetaDefinitionIdentification{0x0005, "Identification"};
// Header
inline constexpr AafPropertyId kAafPropHeaderByteOrder{0x3b01, "ByteOrder"};
inline constexpr AafPropertyId kAafPropHeaderLastModified{0x3b02, "LastModified"};
inline constexpr AafPropertyId kAafPropHeaderContent{0x3b03, "Content"};
inline constexpr AafPropertyId kAafPropHeaderDictionary{0x3b04, "Dictionary"};
inline constexpr AafPropertyId kAafPropHeaderVersion{0x3b05, "Version"};
inline constexpr AafPropertyId kAafPropHeaderIdentificationList{0x3b06, "IdentificationList"};
inline constexpr AafPropertyId kAafPropHeaderObjectModelVersion{0x3b07, "ObjectModelVersion"};
inline constexpr AafPropertyId kAafPropHeaderOperationalPattern{0x3b09, "OperationalPattern"};
// Identification
inline constexpr AafPropertyId kAafPropIdentCompanyName{0x3c01, "CompanyName"};
inline constexpr AafPropertyId kAafPropIdentProductName{0x3c02, "ProductName"};
inline constexpr AafPropertyId kAafPropIdentProductVersion{0x3c03, "ProductVersion"};
inline constexpr AafPropertyId kAafPropIdentProductVersionString{0x3c04, "ProductVersionString"};
inline constexpr AafPropertyId kAafPropIdentProductId{0x3c05, "ProductID"};
inline constexpr AafPropertyId kAafPropIdentDate{0x3c06, "Date"};
inline constexpr AafPropertyId kAafPropIdentGenerationAuid{0x3c09, "GenerationAUID"};
// ContentStorage and Dictionary
inline constexpr AafPropertyId kAafPropContentMobs{0x1901, "Mobs"};
inline constexpr AafPropertyId kAafPropContentEssenceData{0x1902, "EssenceData"};
inline constexpr AafPropertyId kAafPropDictOperationDefinitions{0x2603, "OperationDefinitions"};
inline constexpr AafPropertyId kAafPropDictParameterDefinitions{0x2604, "ParameterDefinitions"};
inline constexpr AafPropertyId kAafPropDictDataDefinitions{0x2605, "DataDefinitions"};
inline constexpr AafPropertyId kAafPropDictInterpolationDefinitions{0x2609, "InterpolationDefinitions"};
// DefinitionObject and its kinds
inline constexpr AafPropertyId kAafPropDefIdentification{0x1b01, "Identification"};
inline constexpr AafPropertyId kAafPropDefName{0x1b02, "Name"};
inline constexpr AafPropertyId kAafPropDefDescription{0x1b03, "Description"};
inline constexpr AafPropertyId kAafPropOpDefDataDefinition{0x1e01, "DataDefinition"};
inline constexpr AafPropertyId kAafPropOpDefIsTimeWarp{0x1e02, "IsTimeWarp"};
inline constexpr AafPropertyId kAafPropOpDefNumberInputs{0x1e07, "NumberInputs"};
inline constexpr AafPropertyId kAafPropOpDefParametersDefined{0x1e09, "ParametersDefined"};
inline constexpr AafPropertyId kAafPropParamDefType{0x1f01, "Type"};
// Mob and its slots
inline constexpr AafPropertyId kAafPropMobId{0x4401, "MobID"};
inline constexpr AafPropertyId kAafPropMobName{0x4402, "Name"};
inline constexpr AafPropertyId kAafPropMobSlots{0x4403, "Slots"};
inline constexpr AafPropertyId kAafPropMobLastModified{0x4404, "LastModified"};
inline constexpr AafPropertyId kAafPropMobCreationTime{0x4405, "CreationTime"};
inline constexpr AafPropertyId kAafPropMobUsageCode{0x4408, "UsageCode"};
inline constexpr AafPropertyId kAafPropSourceMobEssenceDescription{0x4701, "EssenceDescription"};
inline constexpr AafPropertyId kAafPropSlotId{0x4801, "SlotID"};
inline constexpr AafPropertyId kAafPropSlotName{0x4802, "SlotName"};
inline constexpr AafPropertyId kAafPropSlotSegment{0x4803, "Segment"};
inline constexpr AafPropertyId kAafPropSlotPhysicalTrackNumber{0x4804, "PhysicalTrackNumber"};
inline constexpr AafPropertyId kAafPropEventSlotEditRate{0x4901, "EditRate"};
inline constexpr AafPropertyId kAafPropTimelineSlotEditRate{0x4b01, "EditRate"};
inline constexpr AafPropertyId kAafPropTimelineSlotOrigin{0x4b02, "Origin"};
// Components and segments
inline constexpr AafPropertyId kAafPropComponentDataDefinition{0x0201, "DataDefinition"};
inline constexpr AafPropertyId kAafPropComponentLength{0x0202, "Length"};
inline constexpr AafPropertyId kAafPropSequenceComponents{0x1001, "Components"};
inline constexpr AafPropertyId kAafPropSourceId{0x1101, "SourceID"};
inline constexpr AafPropertyId kAafPropSourceMobSlotId{0x1102, "SourceMobSlotID"};
inline constexpr AafPropertyId kAafPropSourceClipStartTime{0x1201, "StartTime"};
inline constexpr AafPropertyId kAafPropTimecodeStart{0x1501, "Start"};
inline constexpr AafPropertyId kAafPropTimecodeFps{0x1502, "FPS"};
inline constexpr AafPropertyId kAafPropTimecodeDrop{0x1503, "Drop"};
inline constexpr AafPropertyId kAafPropTransitionOperationGroup{0x1801, "OperationGroup"};
inline constexpr AafPropertyId kAafPropTransitionCutPoint{0x1802, "CutPoint"};
inline constexpr AafPropertyId kAafPropOpGroupOperation{0x0b01, "Operation"};
inline constexpr AafPropertyId kAafPropOpGroupInputSegments{0x0b02, "InputSegments"};
inline constexpr AafPropertyId kAafPropOpGroupParameters{0x0b03, "Parameters"};
inline constexpr AafPropertyId kAafPropParameterDefinition{0x4c01, "Definition"};
inline constexpr AafPropertyId kAafPropConstantValueValue{0x4d01, "Value"};
inline constexpr AafPropertyId kAafPropVaryingValueInterpolation{0x4e01, "Interpolation"};
inline constexpr AafPropertyId kAafPropVaryingValuePointList{0x4e02, "PointList"};
inline constexpr AafPropertyId kAafPropControlPointValue{0x1a02, "Value"};
inline constexpr AafPropertyId kAafPropControlPointTime{0x1a03, "Time"};
inline constexpr AafPropertyId kAafPropEventPosition{0x0601, "Position"};
inline constexpr AafPropertyId kAafPropEventComment{0x0602, "Comment"};
// Essence descriptions
inline constexpr AafPropertyId kAafPropDescriptorLocator{0x2f01, "Locator"};
inline constexpr AafPropertyId kAafPropFileDescriptorSampleRate{0x3001, "SampleRate"};
inline constexpr AafPropertyId kAafPropFileDescriptorLength{0x3002, "Length"};
inline constexpr AafPropertyId kAafPropWaveDescriptorSummary{0x3801, "Summary"};
inline constexpr AafPropertyId kAafPropNetworkLocatorUrl{0x4001, "URLString"};

// --- Weak-reference targets ------------------------------------------------------------------
// Pid paths from the root to the collections definitions live in, keyed by
// the definition's identification.
inline const AafWeakTarget kAafTargetDataDefinitions{{0x0002, 0x3b04, 0x2605}, 0x1b01};
inline const AafWeakTarget kAafTargetOperationDefinitions{{0x0002, 0x3b04, 0x2603}, 0x1b01};
inline const AafWeakTarget kAafTargetParameterDefinitions{{0x0002, 0x3b04, 0x2604}, 0x1b01};
inline const AafWeakTarget kAafTargetInterpolationDefinitions{{0x0002, 0x3b04, 0x2609}, 0x1b01};
// Type definitions live in the MetaDictionary.
inline const AafWeakTarget kAafTargetTypeDefinitions{{0x0001, 0x0004}, 0x0005};
