// Tests of the AAF object model: a file with one object of every class the
// session writer uses, read back by the stored-format reader and by pyaaf2
// (which checks every class, pid, stored form and type against its own
// model), and the model's rules.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <unordered_set>

#include "export/aaf_objects.h"
#include "export/aaf_test_tools.h"
#include "support/temp_dir.h"

namespace {

constexpr AafRational kRate{48000, 1};

AafProductIdentification Tessaloom() {
    AafProductIdentification id;
    id.companyName = "Tessaloom";
    id.productName = "Tessaloom";
    id.productVersion = AafProductVersion{1, 0, 0, 0, 0};
    return id;
}

#define AAF_OK(call) ASSERT_EQ((call), AafStatus::Ok) << #call

void CollectObjects(const JsonValue& object, std::vector<const JsonValue*>* out) {
    out->push_back(&object);
    for (const JsonValue& p : JsonGetMember(object, "properties").elements) {
        if (JsonHasMember(p, "object")) CollectObjects(JsonGetMember(p, "object"), out);
        for (const JsonValue& e : JsonGetMember(p, "elements").elements) CollectObjects(e, out);
    }
}

std::string ClassText(const AafAuid& id) { return FormatAafAuid(id).substr(1, 36); }

// One object of every class: a source mob with its WAVE descriptor and
// locator, a master mob, and a composition with a timecode slot, a track of
// filler, dissolve, clips and gain groups (constant and varying), and a
// marker slot.
struct EveryClassFile {
    std::unique_ptr<AafFile> file;
    AafMobId sourceId, masterId;

    void Build(const std::string& path) {
        AAF_OK(AafOpenNewFile(path, Tessaloom(), &file));
        AafFile& f = *file;
        AafObject *sound, *level, *amplitude, *linear, *dissolve, *gain;
        AAF_OK(AafLookupDefinition(f, AafDefinitionKind::Data, kAafDataDefSound, &sound));
        AAF_OK(AafRegisterParameterDef(f, kAafParameterDefLevel, "Level", "Dissolve level parameter",
                                       kAafTypeRational, &level));
        AAF_OK(AafRegisterParameterDef(f, kAafParameterDefAmplitude, "Amplitude", "Gain amplitude parameter",
                                       kAafTypeRational, &amplitude));
        AAF_OK(AafRegisterInterpolationDef(f, kAafInterpolationDefLinear, "LinearInterp", "Linear interpolation",
                                           &linear));
        AAF_OK(AafRegisterOperationDef(f, {kAafOperationDefMonoAudioDissolve, "Mono Audio Dissolve",
                                           "A mono audio dissolve", sound, false, 2, {level}}, &dissolve));
        AAF_OK(AafRegisterOperationDef(f, {kAafOperationDefMonoAudioGain, "Mono Audio Gain",
                                           "A mono audio gain adjustment", sound, false, 1, {amplitude}}, &gain));

        // File source mob and master mob.
        AafObject *source, *desc, *loc, *clip, *slot;
        AAF_OK(AafCreateMob(f, AafMobKind::Source, "Door.wav", &source));
        AAF_OK(AafCreateWaveDescriptor(f, kRate, 96000, std::vector<uint8_t>(44, 7), &desc));
        AAF_OK(AafCreateNetworkLocator(f, "file:///sessions/Audio%20Files/Door.wav", &loc));
        AAF_OK(AafAppendLocator(desc, loc));
        AAF_OK(AafSetEssenceDescriptor(source, desc));
        AAF_OK(AafCreateSourceClip(f, sound, 96000, AafSourceRef{}, &clip));
        AAF_OK(AafAppendTimelineSlot(f, source, kRate, clip, 1, "Audio", 0, &slot));
        AAF_OK(AafSetPhysicalTrackNumber(slot, 1));
        AAF_OK(AafGetMobId(source, &sourceId));
        AAF_OK(AafAddMob(f, source));
        AafObject* master;
        AAF_OK(AafCreateMob(f, AafMobKind::Master, "Door.wav", &master));
        AAF_OK(AafCreateSourceClip(f, sound, 96000, AafSourceRef{sourceId, 1, 0}, &clip));
        AAF_OK(AafAppendTimelineSlot(f, master, kRate, clip, 1, "Audio", 0, nullptr));
        AAF_OK(AafGetMobId(master, &masterId));
        AAF_OK(AafAddMob(f, master));

        // Composition: timecode, one track, markers.
        AafObject *comp, *tc, *seq, *filler, *group, *level1, *transition;
        AAF_OK(AafCreateMob(f, AafMobKind::Composition, "Tessaloom Timeline", &comp));
        AAF_OK(AafCreateTimecode(f, 480000, 0, 25, false, &tc));
        AAF_OK(AafAppendTimelineSlot(f, comp, kRate, tc, 100, "TC", 0, nullptr));
        AAF_OK(AafCreateSequence(f, sound, &seq));
        AAF_OK(AafCreateFiller(f, sound, 1200, &filler));
        AAF_OK(AafAppendComponent(seq, filler));
        AAF_OK(AafCreateOperationGroup(f, sound, 200, dissolve, &group));
        AAF_OK(AafCreateConstantValue(f, level, AafRational{1, 1}, &level1));
        AAF_OK(AafAddParameter(group, level1));
        AAF_OK(AafCreateTransition(f, sound, 200, 0, group, &transition));
        AAF_OK(AafAppendComponent(seq, transition));
        AAF_OK(AafCreateSourceClip(f, sound, 48000, AafSourceRef{masterId, 1, 500}, &clip));
        AafObject *constant, *amp, *curve, *varying;
        AAF_OK(AafCreateOperationGroup(f, sound, 48000, gain, &constant));
        AAF_OK(AafAppendInputSegment(constant, clip));
        AAF_OK(AafCreateConstantValue(f, amplitude, AafRational{107374182, 85899345}, &amp));
        AAF_OK(AafAddParameter(constant, amp));
        AAF_OK(AafCreateOperationGroup(f, sound, 48000, gain, &curve));
        AAF_OK(AafAppendInputSegment(curve, constant));
        AAF_OK(AafCreateVaryingValue(f, amplitude, linear, &varying));
        for (int k = 0; k < 64; ++k)
            AAF_OK(AafAddControlPoint(f, varying, AafRational{k, 63}, AafRational{1000 - k, 1000}));
        AAF_OK(AafAddParameter(curve, varying));
        AAF_OK(AafAppendComponent(seq, curve));
        AAF_OK(AafAppendTimelineSlot(f, comp, kRate, seq, 1, "Track 1", 0, nullptr));

        AafObject *markers, *marker;
        AAF_OK(AafCreateSequence(f, sound, &markers));
        AAF_OK(AafCreateDescriptiveMarker(f, sound, 24000, "Hit \xF0\x9F\x92\xA5", &marker));
        AAF_OK(AafAppendComponent(markers, marker));
        AAF_OK(AafAppendEventSlot(f, comp, kRate, markers, AafSlotCount(comp) + 1, nullptr));
        AAF_OK(AafAddMob(f, comp));
    }
};

}  // namespace

TEST(AafObjects, EveryClassReadsBackWithItsIdentifiers) {
    TempDir dir;
    const std::string path = dir.File("Every Class.aaf");
    EveryClassFile every;
    every.Build(path);
    if (HasFatalFailure()) return;
    std::string detail;
    ASSERT_EQ(AafSaveFile(*every.file, &detail), AafStatus::Ok) << detail;
    ASSERT_EQ(AafCloseFile(*every.file), AafStatus::Ok);

    // --- the stored-format reader -------------------------------------------------
    AafReadBack stored = ReadStoredObjects(path);
    ASSERT_TRUE(stored.ok) << stored.message;
    const JsonValue& root = JsonGetMember(stored.tree, "root");
    // The session's objects; the MetaDictionary's are counted apart.
    std::vector<const JsonValue*> all, objects;
    CollectObjects(root, &all);
    for (const JsonValue* o : all)
        if (JsonGetMember(*o, "path").text.rfind("/MetaDictionary-1/", 0) != 0) objects.push_back(o);
    ASSERT_GT(all.size(), objects.size() + 100);

    // Every class, and each listed property of it with its stored form.
    struct Expected {
        AafAuid classId;
        std::vector<std::pair<int, AafForm>> pids;
    };
    using F = AafForm;
    const F d = F::Data, r = F::StrongRef, v = F::StrongVector, s = F::StrongSet, w = F::WeakRef, ws = F::WeakSet;
    const std::vector<Expected> expected = {
        {kAafClassRoot, {{0x0001, r}, {0x0002, r}}},
        {kAafClassMetaDictionary, {{0x0003, s}, {0x0004, s}}},
        {kAafClassHeader, {{0x3b01, d}, {0x3b02, d}, {0x3b03, r}, {0x3b04, r}, {0x3b05, d}, {0x3b06, v},
                           {0x3b07, d}, {0x3b09, d}}},
        {kAafClassIdentification, {{0x3c01, d}, {0x3c02, d}, {0x3c03, d}, {0x3c04, d}, {0x3c05, d}, {0x3c06, d},
                                   {0x3c09, d}}},
        {kAafClassContentStorage, {{0x1901, s}, {0x1902, s}}},
        {kAafClassDictionary, {{0x2603, s}, {0x2604, s}, {0x2605, s}, {0x2609, s}}},
        {kAafClassDataDefinition, {{0x1b01, d}, {0x1b02, d}, {0x1b03, d}}},
        {kAafClassOperationDefinition, {{0x1b01, d}, {0x1b02, d}, {0x1b03, d}, {0x1e01, w}, {0x1e02, d},
                                        {0x1e07, d}, {0x1e09, ws}}},
        {kAafClassParameterDefinition, {{0x1b01, d}, {0x1b02, d}, {0x1f01, w}}},
        {kAafClassInterpolationDefinition, {{0x1b01, d}, {0x1b02, d}}},
        {kAafClassCompositionMob, {{0x4401, d}, {0x4402, d}, {0x4403, v}, {0x4404, d}, {0x4405, d}, {0x4408, d}}},
        {kAafClassMasterMob, {{0x4401, d}, {0x4402, d}, {0x4403, v}, {0x4404, d}, {0x4405, d}}},
        {kAafClassSourceMob, {{0x4401, d}, {0x4403, v}, {0x4701, r}}},
        {kAafClassTimelineMobSlot, {{0x4801, d}, {0x4802, d}, {0x4803, r}, {0x4b01, d}, {0x4b02, d}}},
        {kAafClassEventMobSlot, {{0x4801, d}, {0x4803, r}, {0x4901, d}}},
        {kAafClassSequence, {{0x0201, w}, {0x0202, d}, {0x1001, v}}},
        {kAafClassFiller, {{0x0201, w}, {0x0202, d}}},
        {kAafClassSourceClip, {{0x0201, w}, {0x0202, d}, {0x1101, d}, {0x1102, d}, {0x1201, d}}},
        {kAafClassTimecode, {{0x0201, w}, {0x0202, d}, {0x1501, d}, {0x1502, d}, {0x1503, d}}},
        {kAafClassTransition, {{0x0201, w}, {0x0202, d}, {0x1801, r}, {0x1802, d}}},
        {kAafClassOperationGroup, {{0x0201, w}, {0x0202, d}, {0x0b01, w}, {0x0b02, v}, {0x0b03, s}}},
        {kAafClassConstantValue, {{0x4c01, d}, {0x4d01, d}}},
        {kAafClassVaryingValue, {{0x4c01, d}, {0x4e01, w}, {0x4e02, v}}},
        {kAafClassControlPoint, {{0x1a02, d}, {0x1a03, d}}},
        {kAafClassDescriptiveMarker, {{0x0201, w}, {0x0202, d}, {0x0601, d}, {0x0602, d}}},
        {kAafClassWaveDescriptor, {{0x2f01, v}, {0x3001, d}, {0x3002, d}, {0x3801, d}}},
        {kAafClassNetworkLocator, {{0x4001, d}}},
    };
    for (const Expected& e : expected) {
        const JsonValue* found = nullptr;
        for (const JsonValue* o : objects)
            if (JsonGetMember(*o, "class").text == ClassText(e.classId)) {
                bool hasAll = true;  // the first object of the class that has every listed pid
                for (auto [pid, form] : e.pids) hasAll = hasAll && FindStoredProperty(*o, pid);
                if (hasAll) found = o;
                if (found) break;
            }
        ASSERT_NE(found, nullptr) << "no object of class " << ClassText(e.classId) << " with every listed pid";
        for (auto [pid, form] : e.pids)
            EXPECT_EQ(JsonGetInt(JsonGetMember(*FindStoredProperty(*found, pid), "form"), -1), static_cast<int>(form))
                << ClassText(e.classId) << " pid " << std::hex << pid;
    }
    EXPECT_EQ(objects.size(), 27u + 2 /* second data def, param def */ + 2 /* op def, mob */ + 1 /* slot */ +
                                  3 /* clips */ + 2 /* gain groups */ + 1 /* constant */ + 63 /* points */ + 1 /* sequence */);

    // Weak references: all resolve, to definitions of this file; the
    // parameters' types to the MetaDictionary's type definitions.
    int resolved = 0, types = 0, everyWeak = 0;
    for (const JsonValue* o : all)
        for (const JsonValue& p : JsonGetMember(*o, "properties").elements)
            everyWeak += JsonArraySize(JsonGetMember(p, "targets"));
    for (const JsonValue* o : objects)
        for (const JsonValue& p : JsonGetMember(*o, "properties").elements)
            for (const JsonValue& t : JsonGetMember(p, "targets").elements) {
                if (t.text.rfind("/MetaDictionary-1/TypeDefinitions-4{", 0) == 0) ++types;
                else if (t.text.rfind("/Header-2/Dictionary-3b04/", 0) == 0) ++resolved;
                else ADD_FAILURE() << "weak reference to " << t.text;
            }
    EXPECT_EQ(types, 2);
    EXPECT_EQ(resolved, 12 /* components' data definitions */ + 3 /* operations */ + 1 /* interpolation */ +
                            2 /* operation definitions' data definitions */ + 2 /* parameters defined */);

    // Header facts an editing system checks.
    const JsonValue& header = StoredChild(root, 0x0002);
    auto value = [](const JsonValue& o, int pid) { return JsonGetMember(*FindStoredProperty(o, pid), "value").text; };
    EXPECT_EQ(value(header, 0x3b01), "4949");
    EXPECT_EQ(value(header, 0x3b05), "0101");
    EXPECT_EQ(value(header, 0x3b07), "01000000");
    EXPECT_EQ(value(header, 0x3b09), HexOf(kAafOpEditProtocol.Bytes().data(), 16));
    const JsonValue& ident = JsonGetElement(StoredElements(header, 0x3b06), 0);
    EXPECT_EQ(value(ident, 0x3c03), "010000000000000000");
    EXPECT_EQ(value(ident, 0x3c05), std::string(32, '0'));
    EXPECT_EQ(value(header, 0x3b02), value(ident, 0x3c06));  // both the open time

    // --- pyaaf2 -----------------------------------------------------------------------
    AafReadBack oracle = ReadWithOracle(path, true);
    ASSERT_TRUE(oracle.ok) << oracle.message;
    EXPECT_EQ(JsonGetInt(JsonGetMember(oracle.tree, "objects"), 0), static_cast<int>(all.size()));
    EXPECT_EQ(JsonGetInt(JsonGetMember(oracle.tree, "weakReferences"), 0), everyWeak);
    // Definition ids and labels are the ones pyaaf2's model knows.
    const JsonValue& ids = JsonGetMember(oracle.tree, "identifiers");
    EXPECT_EQ(JsonGetMember(ids, "operationalPatternKnownAs").text, "OPDef_EditProtocol");
    std::map<std::string, std::string> known;
    for (const JsonValue& def : JsonGetMember(ids, "definitions").elements)
        known[JsonGetMember(def, "name").text] = JsonGetMember(def, "knownAs").text;
    EXPECT_EQ(known, (std::map<std::string, std::string>{
                         {"Sound", "DataDef_Sound"},
                         {"Timecode", "DataDef_Timecode"},
                         {"Level", "ParameterDef_Level"},
                         {"Amplitude", "ParameterDef_Amplitude"},
                         {"LinearInterp", "InterpolationDef_Linear"},
                         {"Mono Audio Dissolve", "OperationDef_MonoAudioDissolve"},
                         {"Mono Audio Gain", "OperationDef_MonoAudioGain"}}));
    const JsonValue& oracleMobs = StoredElements(StoredChild(StoredChild(JsonGetMember(oracle.tree, "root"), 0x0002), 0x3b03), 0x1901);
    bool topLevel = false;
    for (const JsonValue& m : oracleMobs.elements)
        if (const JsonValue* usage = FindStoredProperty(m, 0x4408))
            topLevel = JsonGetMember(*usage, "value").text == "Usage_TopLevel";
    EXPECT_TRUE(topLevel);

    const JsonValue& mobs = JsonGetMember(oracle.tree, "mobs");
    ASSERT_EQ(JsonArraySize(mobs), 3);
    std::map<std::string, const JsonValue*> byClass;
    for (const JsonValue& m : mobs.elements) byClass[JsonGetMember(m, "class").text] = &m;
    ASSERT_EQ(byClass.size(), 3u);

    const JsonValue& source = *byClass["SourceMob"];
    EXPECT_EQ(JsonGetElement(JsonGetMember(JsonGetMember(source, "descriptor"), "locators"), 0).text,
              "file:///sessions/Audio%20Files/Door.wav");
    EXPECT_EQ(JsonGetMember(JsonGetElement(JsonGetMember(source, "slots"), 0), "name").text, "Audio");
    const JsonValue& masterClip = JsonGetMember(JsonGetElement(JsonGetMember(*byClass["MasterMob"], "slots"), 0), "segment");
    EXPECT_EQ(JsonGetMember(masterClip, "sourceId").text, JsonGetMember(source, "id").text);
    EXPECT_EQ(JsonGetInt(JsonGetMember(masterClip, "sourceSlot"), 0), 1);

    const JsonValue& compSlots = JsonGetMember(*byClass["CompositionMob"], "slots");
    ASSERT_EQ(JsonArraySize(compSlots), 3);
    const JsonValue& tc = JsonGetElement(compSlots, 0);
    EXPECT_EQ(JsonGetInt(JsonGetMember(tc, "id"), 0), 100);
    EXPECT_EQ(JsonGetMember(JsonGetMember(tc, "segment"), "class").text, "Timecode");
    EXPECT_EQ(JsonGetInt(JsonGetMember(JsonGetMember(tc, "segment"), "fps"), 0), 25);
    EXPECT_EQ(JsonGetMember(JsonGetMember(tc, "segment"), "dataDef").text, "Timecode");
    const JsonValue& track = JsonGetMember(JsonGetElement(compSlots, 1), "segment");
    EXPECT_EQ(JsonGetMember(JsonGetElement(compSlots, 1), "editRate").text, "48000");
    // Filler 1200, transition 200 (overlapping), 48000 of clip: 49000.
    EXPECT_EQ(JsonGetInt(JsonGetMember(track, "length"), 0), 49000);
    const JsonValue& parts = JsonGetMember(track, "components");
    ASSERT_EQ(JsonArraySize(parts), 3);
    EXPECT_EQ(JsonGetMember(parts.elements[0], "class").text, "Filler");
    const JsonValue& transition = parts.elements[1];
    EXPECT_EQ(JsonGetMember(JsonGetMember(transition, "operationGroup"), "operation").text, "Mono Audio Dissolve");
    EXPECT_EQ(JsonGetMember(JsonGetElement(JsonGetMember(JsonGetMember(transition, "operationGroup"), "parameters"), 0),
                            "value").text, "1");
    const JsonValue& outer = parts.elements[2];
    EXPECT_EQ(JsonGetMember(outer, "operation").text, "Mono Audio Gain");
    const JsonValue& points = JsonGetMember(JsonGetElement(JsonGetMember(outer, "parameters"), 0), "points");
    ASSERT_EQ(JsonArraySize(points), 64);
    EXPECT_EQ(JsonGetElement(points.elements[63], 0).text, "63/63");
    EXPECT_EQ(JsonGetElement(points.elements[63], 1).text, "937/1000");
    const JsonValue& inner = JsonGetElement(JsonGetMember(outer, "inputs"), 0);
    EXPECT_EQ(JsonGetMember(JsonGetElement(JsonGetMember(inner, "parameters"), 0), "value").text, "107374182/85899345");
    const JsonValue& clip = JsonGetElement(JsonGetMember(inner, "inputs"), 0);
    EXPECT_EQ(JsonGetMember(clip, "sourceId").text, JsonGetMember(*byClass["MasterMob"], "id").text);
    EXPECT_EQ(JsonGetInt(JsonGetMember(clip, "start"), 0), 500);
    const JsonValue& events = JsonGetElement(compSlots, 2);
    EXPECT_EQ(JsonGetMember(events, "class").text, "EventMobSlot");
    EXPECT_EQ(JsonGetInt(JsonGetMember(events, "id"), 0), 3);
    const JsonValue& marker = JsonGetElement(JsonGetMember(JsonGetMember(events, "segment"), "components"), 0);
    EXPECT_EQ(JsonGetMember(marker, "comment").text, "Hit \xF0\x9F\x92\xA5");
    EXPECT_EQ(JsonGetInt(JsonGetMember(marker, "position"), 0), 24000);
}

// The MetaDictionary of a file with every class the writer makes: each
// object's class is defined, its parents lead to a root, every property it
// carries is defined in its class or a parent, and every property's type is
// one of the file's type definitions. Checked on our stored-format reader's
// record of the file, so a definition that readers would take from their
// own models instead cannot hide a gap.
TEST(AafObjects, TheMetaDictionaryDefinesEveryClassPropertyAndTypeOfTheFile) {
    TempDir dir;
    const std::string path = dir.File("meta.aaf");
    EveryClassFile every;
    every.Build(path);
    if (HasFatalFailure()) return;
    ASSERT_EQ(AafSaveFile(*every.file), AafStatus::Ok);
    AafReadBack stored = ReadStoredObjects(path);
    ASSERT_TRUE(stored.ok) << stored.message;
    const JsonValue& root = JsonGetMember(stored.tree, "root");
    const JsonValue& meta = StoredChild(root, 0x0001);

    auto idOf = [](const JsonValue& definition) {
        const std::string hex = JsonGetMember(*FindStoredProperty(definition, 0x0005), "value").text;
        uint8_t bytes[16] = {};
        for (size_t i = 0; i < 16 && 2 * i + 1 < hex.size(); ++i) bytes[i] = uint8_t(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
        return ClassText(AafAuid::FromBytes(bytes));
    };
    std::set<std::string> types;
    for (const JsonValue& t : StoredElements(meta, 0x0004).elements) types.insert(idOf(t));
    struct ClassDef {
        std::string parent;
        std::set<int> pids;
    };
    std::map<std::string, ClassDef> classes;
    std::map<std::string, std::string> byPath;  // stored path of a class definition -> its id
    for (const JsonValue& c : StoredElements(meta, 0x0003).elements) byPath[JsonGetMember(c, "path").text] = idOf(c);
    for (const JsonValue& c : StoredElements(meta, 0x0003).elements) {
        ClassDef& def = classes[idOf(c)];
        def.parent = byPath[JsonGetElement(JsonGetMember(*FindStoredProperty(c, 0x0008), "targets"), 0).text];
        for (const JsonValue& p : StoredElements(c, 0x0009).elements) {
            const std::string pid = JsonGetMember(*FindStoredProperty(p, 0x000d), "value").text;
            def.pids.insert(std::stoi(pid.substr(2, 2) + pid.substr(0, 2), nullptr, 16));
            const std::string type = JsonGetMember(*FindStoredProperty(p, 0x000b), "value").text;
            uint8_t bytes[16] = {};
            for (size_t i = 0; i < 16; ++i) bytes[i] = uint8_t(std::stoi(type.substr(2 * i, 2), nullptr, 16));
            EXPECT_TRUE(types.count(ClassText(AafAuid::FromBytes(bytes))))
                << "type " << type << " of pid " << pid << " is not defined";
        }
    }
    EXPECT_GE(classes.size(), 50u);
    EXPECT_GE(types.size(), 70u);

    std::vector<const JsonValue*> objects;
    CollectObjects(root, &objects);
    std::set<std::string> used;
    for (const JsonValue* o : objects) {
        const std::string cls = JsonGetMember(*o, "class").text;
        if (cls == ClassText(kAafClassRoot)) continue;  // the file's root storage, not a class of the model
        used.insert(cls);
        ASSERT_TRUE(classes.count(cls)) << "class " << cls << " of " << JsonGetMember(*o, "path").text;
        for (const JsonValue& p : JsonGetMember(*o, "properties").elements) {
            const int pid = JsonGetInt(JsonGetMember(p, "pid"), -1);
            bool defined = false;
            std::string at = cls;
            for (int depth = 0; depth < 16 && !defined; ++depth) {
                defined = classes[at].pids.count(pid) > 0;
                if (classes[at].parent == at) break;
                at = classes[at].parent;
            }
            EXPECT_TRUE(defined) << "pid " << std::hex << pid << " of class " << cls;
        }
    }
    for (const auto& [id, def] : classes) {
        std::string at = id;
        int depth = 0;
        while (classes.count(at) && classes[at].parent != at && depth < 16) at = classes[at].parent, ++depth;
        EXPECT_TRUE(classes.count(at) && classes[at].parent == at) << "class " << id << " reaches no root";
    }
    // The model's classes beyond those of this file: the markers' parents and
    // what the type definitions refer to, no more.
    EXPECT_TRUE(used.count(ClassText(kAafClassDescriptiveMarker)));
    EXPECT_LE(classes.size(), used.size() + 25);
}

TEST(AafObjects, DefinitionsAndMobsAreKeptOnce) {
    TempDir dir;
    std::unique_ptr<AafFile> file;
    AAF_OK(AafOpenNewFile(dir.File("once.aaf"), Tessaloom(), &file));
    AafObject *level, *again, *sound;
    AAF_OK(AafRegisterParameterDef(*file, kAafParameterDefLevel, "Level", "", kAafTypeRational, &level));
    EXPECT_EQ(AafRegisterParameterDef(*file, kAafParameterDefLevel, "Level 2", "", kAafTypeRational, &again),
              AafStatus::DuplicateKey);
    EXPECT_EQ(again, level);
    AAF_OK(AafLookupDefinition(*file, AafDefinitionKind::Data, kAafDataDefSound, &sound));
    EXPECT_EQ(AafRegisterDataDef(*file, kAafDataDefSound, "Sound", "", &again), AafStatus::DuplicateKey);
    EXPECT_EQ(again, sound);
    // The same id under another kind is another definition.
    EXPECT_EQ(AafLookupDefinition(*file, AafDefinitionKind::Operation, kAafDataDefSound, &again), AafStatus::NotFound);

    AafObject* mob;
    AAF_OK(AafCreateMob(*file, AafMobKind::Master, "m", &mob));
    AAF_OK(AafAddMob(*file, mob));
    EXPECT_EQ(AafAddMob(*file, mob), AafStatus::DuplicateKey);
    AAF_OK(AafSaveFile(*file));

    AafReadBack stored = ReadStoredObjects(dir.File("once.aaf"));
    ASSERT_TRUE(stored.ok) << stored.message;
    const JsonValue& dict = StoredChild(StoredChild(JsonGetMember(stored.tree, "root"), 0x0002), 0x3b04);
    ASSERT_EQ(JsonArraySize(StoredElements(dict, 0x2604)), 1);
    EXPECT_EQ(JsonArraySize(StoredElements(dict, 0x2605)), 2);  // Sound and Timecode
    EXPECT_EQ(FindStoredProperty(dict, 0x2603), nullptr);  // no operations: the set is left out
    EXPECT_EQ(JsonArraySize(StoredElements(StoredChild(StoredChild(JsonGetMember(stored.tree, "root"), 0x0002), 0x3b03), 0x1901)), 1);

    // Mob ids: the UMID label of a random material number, each id new.
    std::unordered_set<std::string> ids;
    for (int i = 0; i < 100000; ++i) {
        auto bytes = AafNewMobId().Bytes();
        ASSERT_EQ(HexOf(bytes.data(), 16), "060a2b340101010501010f2013000000");
        ids.insert(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    EXPECT_EQ(ids.size(), 100000u);
}

TEST(AafObjects, CallsRefuseWhatTheModelForbids) {
    TempDir dir;
    std::unique_ptr<AafFile> file, other;
    AAF_OK(AafOpenNewFile(dir.File("rules.aaf"), Tessaloom(), &file));
    AAF_OK(AafOpenNewFile(dir.File("other.aaf"), Tessaloom(), &other));
    AafFile& f = *file;
    AafObject *sound, *foreignSound, *seq, *filler, *clip, *mob, *group, *level, *dissolve, *value, *linear, *varying;
    AAF_OK(AafLookupDefinition(f, AafDefinitionKind::Data, kAafDataDefSound, &sound));
    AAF_OK(AafLookupDefinition(*other, AafDefinitionKind::Data, kAafDataDefSound, &foreignSound));
    AAF_OK(AafCreateSequence(f, sound, &seq));
    AAF_OK(AafCreateFiller(f, sound, 10, &filler));

    // Classes, files and ranges.
    EXPECT_EQ(AafCreateFiller(f, foreignSound, 10, &clip), AafStatus::ForeignObject);
    EXPECT_EQ(AafCreateFiller(f, seq, 10, &clip), AafStatus::WrongClass);
    EXPECT_EQ(AafCreateFiller(f, sound, -1, &clip), AafStatus::InvalidValue);
    EXPECT_EQ(AafAppendComponent(filler, seq), AafStatus::WrongClass);
    AAF_OK(AafCreateMob(f, AafMobKind::Master, "m", &mob));
    EXPECT_EQ(AafAppendTimelineSlot(f, mob, AafRational{0, 1}, filler, 1, "A", 0, nullptr), AafStatus::InvalidValue);
    EXPECT_EQ(AafSetEssenceDescriptor(mob, filler), AafStatus::WrongClass);
    AAF_OK(AafRegisterParameterDef(f, kAafParameterDefLevel, "Level", "", kAafTypeRational, &level));
    AAF_OK(AafRegisterOperationDef(f, {kAafOperationDefMonoAudioDissolve, "Mono Audio Dissolve", "", sound, false, 2,
                                       {level}}, &dissolve));
    AAF_OK(AafCreateOperationGroup(f, sound, 100, dissolve, &group));
    EXPECT_EQ(AafCreateTransition(f, sound, 100, 101, group, &clip), AafStatus::InvalidValue);
    AafObject* transition;
    AAF_OK(AafCreateTransition(f, sound, 100, 50, group, &transition));
    EXPECT_EQ(AafAppendTimelineSlot(f, mob, kRate, transition, 1, "A", 0, nullptr), AafStatus::WrongClass);

    // Slot ids once per mob; one parameter per definition.
    AAF_OK(AafAppendTimelineSlot(f, mob, kRate, filler, 1, "A", 0, nullptr));
    AafObject* filler2;
    AAF_OK(AafCreateFiller(f, sound, 10, &filler2));
    EXPECT_EQ(AafAppendTimelineSlot(f, mob, kRate, filler2, 1, "B", 0, nullptr), AafStatus::DuplicateKey);
    EXPECT_EQ(AafAppendTimelineSlot(f, mob, kRate, filler, 2, "B", 0, nullptr), AafStatus::AlreadyAttached);
    EXPECT_EQ(AafSlotCount(mob), 1u);
    AafObject* g2;
    AAF_OK(AafCreateOperationGroup(f, sound, 100, dissolve, &g2));
    AAF_OK(AafCreateConstantValue(f, level, AafRational{1, 1}, &value));
    AAF_OK(AafAddParameter(g2, value));
    AAF_OK(AafCreateConstantValue(f, level, AafRational{1, 2}, &value));
    EXPECT_EQ(AafAddParameter(g2, value), AafStatus::DuplicateKey);

    // Control points in time order within the operation.
    AAF_OK(AafRegisterInterpolationDef(f, kAafInterpolationDefLinear, "LinearInterp", "", &linear));
    AAF_OK(AafCreateVaryingValue(f, level, linear, &varying));
    AAF_OK(AafAddControlPoint(f, varying, AafRational{1, 2}, AafRational{1, 1}));
    EXPECT_EQ(AafAddControlPoint(f, varying, AafRational{1, 3}, AafRational{1, 1}), AafStatus::OutOfOrder);
    EXPECT_EQ(AafAddControlPoint(f, varying, AafRational{4, 3}, AafRational{1, 1}), AafStatus::InvalidValue);
    AAF_OK(AafAddControlPoint(f, varying, AafRational{2, 4}, AafRational{0, 1}));

    // A sequence's length follows its parts: clip, transition over it, clip.
    AafObject *c1, *c2, *tseq;
    AAF_OK(AafCreateSequence(f, sound, &tseq));
    AAF_OK(AafCreateSourceClip(f, sound, 1000, AafSourceRef{}, &c1));
    AAF_OK(AafCreateSourceClip(f, sound, 1000, AafSourceRef{}, &c2));
    AAF_OK(AafAppendComponent(tseq, c1));
    AAF_OK(AafAppendComponent(tseq, transition));
    AAF_OK(AafAppendComponent(tseq, c2));
    size_t size = 0;
    const uint8_t* length = AafDataBytes(tseq, kAafPropComponentLength.pid, &size);
    ASSERT_EQ(size, 8u);
    EXPECT_EQ(HexOf(length, 8), "6c07000000000000");  // 1900

    // A closed file takes no more calls; what was saved stays.
    AAF_OK(AafSaveFile(f));
    AAF_OK(AafCloseFile(f));
    EXPECT_EQ(AafCloseFile(f), AafStatus::FileClosed);
    EXPECT_EQ(AafCreateFiller(f, sound, 10, &clip), AafStatus::FileClosed);
    EXPECT_EQ(AafSaveFile(f), AafStatus::FileClosed);
    EXPECT_TRUE(ReadStoredObjects(dir.File("rules.aaf")).ok);
}
