// Tests of the stored-object layer of the AAF writer: value layouts, the rules
// of properties and collections, and files read back by readers that share no
// code with the writer (our stored-format reader over olefile, pyaaf2, gsf).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "export/aaf_ids.h"
#include "export/aaf_storage.h"
#include "export/aaf_test_tools.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

// The smallest file pyaaf2 opens: root, an empty MetaDictionary (its two
// sets written empty), a Header with a Dictionary and a ContentStorage.
struct Skeleton {
    AafStore store;
    AafObject* root = nullptr;
    AafObject* header = nullptr;
    AafObject* dictionary = nullptr;
    AafObject* content = nullptr;
    AafObject* meta = nullptr;

    Skeleton() {
        root = AafNewObject(store, kAafClassRoot);
        AafSetRoot(store, root);
        meta = AafNewObject(store, kAafClassMetaDictionary);
        AafSetStrongRef(root, 0x0001, "MetaDictionary", meta);
        AafCreateSet(meta, 0x0003, "ClassDefinitions", 0x0005, 16, AafEmpty::Write);
        AafCreateSet(meta, 0x0004, "TypeDefinitions", 0x0005, 16, AafEmpty::Write);
        header = AafNewObject(store, kAafClassHeader);
        AafSetStrongRef(root, 0x0002, "Header", header);
        AafSetInt16(header, 0x3b01, 0x4949);
        AafSetTimeStamp(header, 0x3b02, AafTimeStamp{2024, 5, 6, 7, 8, 9, 10});
        uint8_t version[2] = {1, 1};
        AafSetData(header, 0x3b05, version, 2);
        AafCreateVector(header, 0x3b06, "IdentificationList", AafEmpty::Write);
        dictionary = AafNewObject(store, kAafClassDictionary);
        AafSetStrongRef(header, 0x3b04, "Dictionary", dictionary);
        content = AafNewObject(store, kAafClassContentStorage);
        AafSetStrongRef(header, 0x3b03, "Content", content);
        AafCreateSet(content, 0x1901, "Mobs", 0x4401, 32, AafEmpty::Write);
    }

    AafObject* Definition(uint16_t setPid, const char* setName, const AafAuid& classId,
                          const AafAuid& id, const char* name) {
        if (!AafFindProperty(dictionary, setPid)) AafCreateSet(dictionary, setPid, setName, 0x1b01, 16);
        AafObject* def = AafNewObject(store, classId);
        AafSetAuid(def, 0x1b01, id);
        AafSetString(def, 0x1b02, name);
        EXPECT_EQ(AafAddToSet(dictionary, setPid, def), AafStatus::Ok);
        return def;
    }

    AafObject* Mob(const AafAuid& classId, uint8_t tag, const std::string& name) {
        AafObject* mob = AafNewObject(store, classId);
        AafMobId id;
        std::memcpy(id.label.data(), kAafUmidLabelRandom, 12);
        id.length = kAafUmidLength;
        id.material = AafAuidText("12345678-0000-0000-0000-000000000000");
        id.material.data4[7] = tag;
        id.material.data3 = static_cast<uint16_t>(tag << 8 | tag);
        AafSetMobId(mob, 0x4401, id);
        AafSetString(mob, 0x4402, name);
        AafSetTimeStamp(mob, 0x4404, AafTimeStamp{2024, 1, 2, 3, 4, 5, 0});
        AafSetTimeStamp(mob, 0x4405, AafTimeStamp{2024, 1, 2, 3, 4, 5, 0});
        AafCreateVector(mob, 0x4403, "Slots", AafEmpty::Write);
        EXPECT_EQ(AafAddToSet(content, 0x1901, mob), AafStatus::Ok);
        return mob;
    }

    // A type definition in the MetaDictionary's set.
    AafObject* Type(const AafAuid& classId, const AafAuid& typeId, const char* name) {
        AafObject* type = AafNewObject(store, classId);
        AafSetAuid(type, 0x0005, typeId);
        AafSetString(type, 0x0006, name);
        EXPECT_EQ(AafAddToSet(meta, 0x0004, type), AafStatus::Ok);
        return type;
    }

    // A master mob whose one slot holds a filler referring to `dataDef`.
    void FillerReferringTo(const AafAuid& dataDef) {
        AafObject* mob = Mob(kAafClassMasterMob, 1, "M");
        AafObject* slot = AafNewObject(store, kAafClassTimelineMobSlot);
        AafAppendToVector(mob, 0x4403, slot);
        AafObject* filler = AafNewObject(store, kAafClassFiller);
        AafSetStrongRef(slot, 0x4803, "Segment", filler);
        auto key = dataDef.Bytes();
        AafSetWeakRef(filler, 0x0201, kAafTargetDataDefinitions, key.data(), 16);
    }
};

std::vector<uint8_t> Bytes(const std::array<uint8_t, 16>& a) { return {a.begin(), a.end()}; }

// Compares an object of the in-memory tree with the stored reader's record of
// it: class, and per written property its form, size and value; recurses
// into strong references and collections in order.
void ExpectSameObject(const AafObject* object, const JsonValue& stored, int* compared) {
    ASSERT_EQ(JsonGetMember(stored, "class").text, FormatAafAuid(object->classId).substr(1, 36));
    const std::string path = JsonGetMember(stored, "path").text;
    for (const AafProperty& p : object->properties) {
        const JsonValue* s = FindStoredProperty(stored, p.pid);
        bool emptyCollection = (p.form == AafForm::StrongVector || p.form == AafForm::StrongSet)
                                   ? p.children.empty()
                                   : ((p.form == AafForm::WeakSet || p.form == AafForm::WeakVector) && p.data.empty());
        if (emptyCollection && p.empty == AafEmpty::Omit) {
            EXPECT_EQ(s, nullptr) << path << " pid " << p.pid << " (an empty optional collection is left out)";
            continue;
        }
        ASSERT_NE(s, nullptr) << path << " lacks pid " << std::hex << p.pid;
        ++*compared;
        EXPECT_EQ(JsonGetInt(JsonGetMember(*s, "form"), -1), static_cast<int>(p.form)) << path;
        std::string value = JsonGetMember(*s, "value").text;
        EXPECT_EQ(JsonGetInt(JsonGetMember(*s, "size"), -1) * 2, static_cast<int>(value.size()));
        switch (p.form) {
            case AafForm::Data: EXPECT_EQ(value, HexOf(p.data)) << path << " pid " << std::hex << p.pid; break;
            case AafForm::StrongRef: ExpectSameObject(p.children[0], JsonGetMember(*s, "object"), compared); break;
            case AafForm::StrongVector:
            case AafForm::StrongSet: {
                const JsonValue& elements = JsonGetMember(*s, "elements");
                ASSERT_EQ(JsonArraySize(elements), static_cast<int>(p.children.size())) << path;
                for (size_t i = 0; i < p.children.size(); ++i)
                    ExpectSameObject(p.children[i], elements.elements[i], compared);
                break;
            }
            case AafForm::WeakRef:
            case AafForm::WeakSet:
            case AafForm::WeakVector: {
                EXPECT_EQ(JsonGetInt(JsonGetMember(*s, "keyPid"), -1), p.keyPid);
                const JsonValue& keys = JsonGetMember(*s, "keys");
                ASSERT_EQ(static_cast<size_t>(JsonArraySize(keys)) * p.keySize, p.data.size());
                for (size_t k = 0; k < keys.elements.size(); ++k)
                    EXPECT_EQ(keys.elements[k].text, HexOf(p.data.data() + k * p.keySize, p.keySize));
                break;
            }
        }
        if (p.form != AafForm::Data && p.form != AafForm::WeakRef) {
            // Names: from the property name and the pid, never over 31 characters.
            std::string name = JsonGetMember(*s, "name").text;
            char tail[8];
            std::snprintf(tail, sizeof tail, "-%x", p.pid);
            EXPECT_LE(name.size(), 31u);
            ASSERT_GT(name.size(), std::strlen(tail));
            EXPECT_EQ(name.substr(name.size() - std::strlen(tail)), tail);
            EXPECT_EQ(p.name.compare(0, name.size() - std::strlen(tail), name, 0, name.size() - std::strlen(tail)), 0)
                << name << " is not cut from " << p.name;
        }
    }
    EXPECT_LE(JsonArraySize(JsonGetMember(stored, "properties")), static_cast<int>(object->properties.size()));
}

std::string FirstTarget(const JsonValue& object, int pid) {
    const JsonValue* p = FindStoredProperty(object, pid);
    return p ? JsonGetElement(JsonGetMember(*p, "targets"), 0).text : "(missing)";
}

}  // namespace

TEST(AafStorage, ValuesHaveTheirStoredLayout) {
    // The file kind and the root class in GUID layout (little-endian words).
    EXPECT_EQ(HexOf(Bytes(kAafFileKindAaf512Binary.Bytes())), "414146420d004f4d060e2b34010101ff");
    EXPECT_EQ(HexOf(Bytes(kAafClassRoot.Bytes())), "a598b3b3901cd4118053080036210804");
    EXPECT_EQ(FormatAafAuid(kAafClassHeader), "{0d010101-0101-2f00-060e-2b3402060101}");
    EXPECT_EQ(AafAuid::FromBytes(kAafClassHeader.Bytes().data()), kAafClassHeader);

    AafStore store;
    AafObject* o = AafNewObject(store, kAafClassFiller);
    AafMobId id;
    std::memcpy(id.label.data(), kAafUmidLabelRandom, 12);
    id.length = 0x13;
    id.material = kAafDataDefSound;
    ASSERT_EQ(AafSetMobId(o, 1, id), AafStatus::Ok);
    ASSERT_EQ(AafSetTimeStamp(o, 2, AafTimeStamp{2025, 12, 31, 23, 59, 58, 125}), AafStatus::Ok);
    ASSERT_EQ(AafSetRational(o, 3, AafRational{-48000, 1}), AafStatus::Ok);
    ASSERT_EQ(AafSetInt64(o, 4, -2), AafStatus::Ok);
    ASSERT_EQ(AafSetString(o, 5, "A\xF0\x9F\x98\x80\xC3"), AafStatus::Ok);  // emoji, then a cut sequence
    int32_t one[2] = {1, 1};
    ASSERT_EQ(AafSetIndirect(o, 6, kAafTypeRational, one, sizeof one), AafStatus::Ok);
    ASSERT_EQ(AafSetBoolean(o, 7, true), AafStatus::Ok);
    auto hex = [&](uint16_t pid) {
        size_t size = 0;
        const uint8_t* b = AafDataBytes(o, pid, &size);
        return HexOf(b, size);
    };
    EXPECT_EQ(hex(1), "060a2b340101010501010f20" "13" "000000" "02020301000200000" "60e2b3404010101");
    EXPECT_EQ(hex(2), "e9070c1f173b3a7d");
    EXPECT_EQ(hex(3), "8044ffff01000000");
    EXPECT_EQ(hex(4), "feffffffffffffff");
    EXPECT_EQ(hex(5), "41003dd800defdff0000");  // surrogate pair, U+FFFD, terminating 0
    EXPECT_EQ(hex(6), "4c" "00010103000000000" "60e2b3401040101" "0100000001000000");
    EXPECT_EQ(hex(7), "01");
}

TEST(AafStorage, PropertyAndTreeRulesAreEnforced) {
    AafStore store, other;
    AafObject* a = AafNewObject(store, kAafClassSequence);
    AafObject* b = AafNewObject(store, kAafClassFiller);
    AafObject* c = AafNewObject(store, kAafClassFiller);
    AafObject* foreign = AafNewObject(other, kAafClassFiller);

    // Each property once; values up to 65,535 bytes.
    EXPECT_EQ(AafSetInt64(b, 0x0202, 5), AafStatus::Ok);
    EXPECT_EQ(AafSetInt64(b, 0x0202, 6), AafStatus::AlreadySet);
    std::vector<uint8_t> big(65536, 1);
    EXPECT_EQ(AafSetData(b, 0x7000, big.data(), big.size()), AafStatus::ValueTooLarge);
    EXPECT_EQ(AafSetData(b, 0x7000, big.data(), 65535), AafStatus::Ok);
    EXPECT_EQ(AafReplaceData(b, 0x0202, big.data(), 8), AafStatus::Ok);
    EXPECT_EQ(AafReplaceData(a, 0x1001, big.data(), 65536), AafStatus::ValueTooLarge);

    // Collections exist before elements join them, and hold objects of one store, once.
    EXPECT_EQ(AafAppendToVector(a, 0x1001, b), AafStatus::NotFound);
    ASSERT_EQ(AafCreateVector(a, 0x1001, "Components"), AafStatus::Ok);
    EXPECT_EQ(AafCreateVector(a, 0x1001, "Components"), AafStatus::AlreadySet);
    EXPECT_EQ(AafAddToSet(a, 0x1001, b), AafStatus::WrongForm);
    EXPECT_EQ(AafAppendToVector(a, 0x1001, b), AafStatus::Ok);
    EXPECT_EQ(AafAppendToVector(a, 0x1001, b), AafStatus::AlreadyAttached);
    EXPECT_EQ(AafSetStrongRef(c, 0x4803, "Segment", b), AafStatus::AlreadyAttached);
    EXPECT_EQ(AafAppendToVector(a, 0x1001, foreign), AafStatus::ForeignObject);
    EXPECT_EQ(AafAppendToVector(a, 0x1001, a), AafStatus::AlreadyAttached);
    EXPECT_EQ(AafAppendToVector(a, 0x1001, nullptr), AafStatus::NullArgument);
    EXPECT_EQ(AafSetRoot(store, b), AafStatus::AlreadyAttached);

    // Names must make storage names; keys are 16 or 32 bytes.
    EXPECT_EQ(AafSetStrongRef(c, 0x10, "", a), AafStatus::InvalidName);
    EXPECT_EQ(AafSetStrongRef(c, 0x10, "Bad/Name", a), AafStatus::InvalidName);
    EXPECT_EQ(AafCreateSet(c, 0x11, "Keys", 0x1b01, 8), AafStatus::BadKey);
    uint8_t key[16] = {};
    EXPECT_EQ(AafSetWeakRef(c, 0x12, kAafTargetDataDefinitions, key, 15), AafStatus::BadKey);
    ASSERT_EQ(AafCreateWeakSet(c, 0x13, "Refs", kAafTargetParameterDefinitions, 16), AafStatus::Ok);
    EXPECT_EQ(AafAddToWeakSet(c, 0x13, key, 16), AafStatus::Ok);
    EXPECT_EQ(AafAddToWeakSet(c, 0x13, key, 16), AafStatus::DuplicateKey);
    EXPECT_EQ(AafAddToWeakSet(c, 0x13, key, 32), AafStatus::BadKey);

    // No root, no file.
    TempDir dir;
    EXPECT_EQ(AafSaveStore(other, dir.File("x.aaf")), AafStatus::NoRoot);
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.aaf")));
}

// A file with every stored form, long names, required and optional empty
// collections and text beyond U+FFFF, read back by the stored-format reader,
// pyaaf2, olefile (inside the reader) and gsf.
TEST(AafStorage, EveryFormReadsBackThroughIndependentReaders) {
    Skeleton s;
    s.Definition(0x2605, "DataDefinitions", kAafClassDataDefinition, kAafDataDefSound, "Sound");
    AafObject* level = s.Definition(0x2604, "ParameterDefinitions", kAafClassParameterDefinition,
                                    kAafParameterDefLevel, "Level");
    // The parameter's type, a record of two integers: a weak vector names
    // one type twice.
    AafObject* int32 = s.Type(AafAuidText("0d010101-0204-0000-060e-2b3402060101"),
                              AafAuidText("01010700-0000-0000-060e-2b3401040101"), "aafInt32");
    AafSetUInt8(int32, 0x000f, 4);
    AafSetBoolean(int32, 0x0010, true);
    AafObject* record = s.Type(AafAuidText("0d010101-020d-0000-060e-2b3402060101"),
                               kAafTypeRational, "Rational");
    ASSERT_EQ(AafCreateWeakVector(record, 0x001c, "MemberTypes", kAafTargetTypeDefinitions, 16), AafStatus::Ok);
    auto int32Key = AafAuidText("01010700-0000-0000-060e-2b3401040101").Bytes();
    ASSERT_EQ(AafAppendToWeakVector(record, 0x001c, int32Key.data(), 16), AafStatus::Ok);
    ASSERT_EQ(AafAppendToWeakVector(record, 0x001c, int32Key.data(), 16), AafStatus::Ok);
    const std::vector<uint8_t> memberNames = Utf16Bytes(std::string("Numerator\0Denominator\0", 22));
    AafSetData(record, 0x001d, memberNames.data(), memberNames.size());
    auto rational = kAafTypeRational.Bytes();
    ASSERT_EQ(AafSetWeakRef(level, 0x1f01, kAafTargetTypeDefinitions, rational.data(), 16), AafStatus::Ok);
    AafObject* dissolve = s.Definition(0x2603, "OperationDefinitions", kAafClassOperationDefinition,
                                       kAafOperationDefMonoAudioDissolve, "Mono Audio Dissolve");
    auto soundKey = kAafDataDefSound.Bytes();
    ASSERT_EQ(AafSetWeakRef(dissolve, 0x1e01, kAafTargetDataDefinitions, soundKey.data(), 16), AafStatus::Ok);
    AafSetBoolean(dissolve, 0x1e02, false);
    AafSetInt32(dissolve, 0x1e07, 2);
    ASSERT_EQ(AafCreateWeakSet(dissolve, 0x1e09, "ParametersDefined", kAafTargetParameterDefinitions, 16),
              AafStatus::Ok);
    auto levelKey = kAafParameterDefLevel.Bytes();
    ASSERT_EQ(AafAddToWeakSet(dissolve, 0x1e09, levelKey.data(), 16), AafStatus::Ok);
    // "InterpolationDefinitions-2609" leaves no room for " index": the name is cut.
    s.Definition(0x2609, "InterpolationDefinitions", kAafClassInterpolationDefinition, kAafInterpolationDefLinear,
                 "LinearInterp");

    const std::string text = "Tr\xC3\xA4" "ck \xF0\x9D\x84\x9E clef \xFF end";  // U+1D11E and a stray byte
    AafObject* mob = s.Mob(kAafClassCompositionMob, 1, text);
    AafSetAuid(mob, 0x4408, kAafUsageTopLevel);
    AafObject* slot = AafNewObject(s.store, kAafClassTimelineMobSlot);
    AafSetUInt32(slot, 0x4801, 7);
    AafSetString(slot, 0x4802, "Audio");
    AafSetRational(slot, 0x4b01, AafRational{48000, 1});
    AafSetInt64(slot, 0x4b02, 0);
    ASSERT_EQ(AafAppendToVector(mob, 0x4403, slot), AafStatus::Ok);
    AafObject* sequence = AafNewObject(s.store, kAafClassSequence);
    AafSetWeakRef(sequence, 0x0201, kAafTargetDataDefinitions, soundKey.data(), 16);
    AafSetInt64(sequence, 0x0202, 300);
    ASSERT_EQ(AafSetStrongRef(slot, 0x4803, "Segment", sequence), AafStatus::Ok);
    AafCreateVector(sequence, 0x1001, "Components", AafEmpty::Write);
    for (int i = 0; i < 3; ++i) {
        AafObject* filler = AafNewObject(s.store, kAafClassFiller);
        AafSetWeakRef(filler, 0x0201, kAafTargetDataDefinitions, soundKey.data(), 16);
        AafSetInt64(filler, 0x0202, 100);
        ASSERT_EQ(AafAppendToVector(sequence, 0x1001, filler), AafStatus::Ok);
    }
    // An optional collection that stays empty is left out.
    ASSERT_EQ(AafCreateVector(dissolve, 0x1e03, "DegradeTo"), AafStatus::Ok);
    // A mob without slots still carries its required (empty) Slots vector.
    s.Mob(kAafClassMasterMob, 2, "Empty");

    TempDir dir;
    const std::string path = dir.File("every form.aaf");
    std::string detail;
    ASSERT_EQ(AafSaveStore(s.store, path, &detail), AafStatus::Ok) << detail;
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

    // Compound-file header: 512-byte sectors, major version 3, the file kind.
    std::vector<uint8_t> bytes = FileBytes(path);
    ASSERT_GE(bytes.size(), 512u);
    EXPECT_EQ(HexOf(bytes.data() + 8, 16), "414146420d004f4d060e2b34010101ff");
    EXPECT_EQ(bytes[26] | bytes[27] << 8, 3);
    EXPECT_EQ(bytes[30] | bytes[31] << 8, 9);
    EXPECT_EQ(bytes[32] | bytes[33] << 8, 6);

    AafReadBack stored = ReadStoredObjects(path);
    ASSERT_TRUE(stored.ok) << stored.message;
    const JsonValue& root = JsonGetMember(stored.tree, "root");
    int compared = 0;
    ExpectSameObject(s.root, root, &compared);
    size_t total = 0;
    for (const auto& object : s.store.objects) total += object->properties.size();
    EXPECT_EQ(static_cast<size_t>(compared), total - 1);  // all but the empty optional vector
    EXPECT_EQ(JsonGetInt(JsonGetMember(stored.tree, "objects"), 0), static_cast<int>(s.store.objects.size()));

    // Weak references resolve to the elements they name, types included.
    const JsonValue& dict = StoredChild(StoredChild(root, 0x0002), 0x3b04);
    const JsonValue& dissolveStored = JsonGetElement(StoredElements(dict, 0x2603), 0);
    EXPECT_EQ(FirstTarget(dissolveStored, 0x1e01), "/Header-2/Dictionary-3b04/DataDefinitions-2605{0}");
    EXPECT_EQ(FirstTarget(dissolveStored, 0x1e09), "/Header-2/Dictionary-3b04/ParameterDefinitions-2604{0}");
    EXPECT_EQ(FindStoredProperty(dissolveStored, 0x1e03), nullptr);
    EXPECT_EQ(FirstTarget(JsonGetElement(StoredElements(dict, 0x2604), 0), 0x1f01),
              "/MetaDictionary-1/TypeDefinitions-4{1}");
    const JsonValue& members =
        *FindStoredProperty(JsonGetElement(StoredElements(StoredChild(root, 0x0001), 0x0004), 1), 0x001c);
    EXPECT_EQ(JsonGetInt(JsonGetMember(members, "form"), -1), 0x12);
    EXPECT_EQ(JsonArraySize(JsonGetMember(members, "targets")), 2);
    EXPECT_EQ(JsonGetElement(JsonGetMember(members, "targets"), 1).text, "/MetaDictionary-1/TypeDefinitions-4{0}");
    EXPECT_EQ(JsonGetMember(*FindStoredProperty(dict, 0x2609), "name").text, "InterpolationDefinit-2609");

    // The referenced-properties table holds the paths the references use.
    std::vector<std::string> paths;
    for (const JsonValue& p : JsonGetMember(stored.tree, "paths").elements) {
        std::string t;
        for (const JsonValue& pid : p.elements) t += std::to_string(JsonGetInt(pid, 0)) + " ";
        paths.push_back(t);
    }
    EXPECT_EQ(paths.size(), 3u);
    EXPECT_NE(std::find(paths.begin(), paths.end(), "2 15108 9733 "), paths.end());  // 0002 3b04 2605
    EXPECT_NE(std::find(paths.begin(), paths.end(), "1 4 "), paths.end());

    // pyaaf2 reads every object and property, text beyond U+FFFF included.
    AafReadBack oracle = ReadWithOracle(path);
    ASSERT_TRUE(oracle.ok) << oracle.message;
    EXPECT_EQ(JsonGetInt(JsonGetMember(oracle.tree, "objects"), 0), static_cast<int>(s.store.objects.size()));
    EXPECT_EQ(JsonGetInt(JsonGetMember(oracle.tree, "weakReferences"), 0), 9);
    const JsonValue& mobs = StoredElements(StoredChild(StoredChild(JsonGetMember(oracle.tree, "root"), 0x0002), 0x3b03), 0x1901);
    ASSERT_EQ(JsonArraySize(mobs), 2);
    std::vector<std::string> names;
    for (const JsonValue& m : mobs.elements) names.push_back(JsonGetMember(*FindStoredProperty(m, 0x4402), "value").text);
    EXPECT_NE(std::find(names.begin(), names.end(), "Tr\xC3\xA4" "ck \xF0\x9D\x84\x9E clef \xEF\xBF\xBD end"), names.end());

    // gsf lists the file and copies out its streams byte for byte.
    CommandResult list = RunCommand({"gsf", "list", path});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("Header-2"), std::string::npos);
    EXPECT_NE(list.out.find("InterpolationDefinit"), std::string::npos);
    CommandResult cat = RunCommand({"gsf", "cat", path, "Header-2/Content-3b03/Mobs-1901 index"});
    ASSERT_EQ(cat.exitCode, 0) << cat.err;
    ASSERT_EQ(cat.out.size(), 12u + 3 + 2 * (8 + 32));
    EXPECT_EQ(HexOf(reinterpret_cast<const uint8_t*>(cat.out.data()), 15), "02000000" "02000000" "ffffffff" "0144" "20");
    CommandResult dump = RunCommand({"gsf", "dump", path, "MetaDictionary-1/TypeDefinitions-4 index"});
    ASSERT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_FALSE(dump.out.empty());
    CommandResult slots = RunCommand({"gsf", "cat", path, "Header-2/Content-3b03/Mobs-1901{1}/Slots-4403 index"});
    ASSERT_EQ(slots.exitCode, 0) << slots.err;
    EXPECT_EQ(HexOf(reinterpret_cast<const uint8_t*>(slots.out.data()), slots.out.size()), "00000000" "00000000" "ffffffff");
}

// 20,000 small objects: a set of 10,000 definitions (its index far past the
// mini stream) and a vector of 10,000 fillers.
TEST(AafStorage, LargeCollectionsReadBack) {
    Skeleton s;
    AafCreateSet(s.dictionary, 0x2605, "DataDefinitions", 0x1b01, 16);
    for (uint32_t i = 0; i < 10000; ++i) {
        AafObject* def = AafNewObject(s.store, kAafClassDataDefinition);
        AafAuid id = kAafDataDefSound;
        id.data1 = 0x70000000 + i;
        AafSetAuid(def, 0x1b01, id);
        AafSetString(def, 0x1b02, "D" + std::to_string(i));
        ASSERT_EQ(AafAddToSet(s.dictionary, 0x2605, def), AafStatus::Ok);
    }
    AafObject* def0 = AafNewObject(s.store, kAafClassDataDefinition);
    AafSetAuid(def0, 0x1b01, kAafDataDefSound);
    AafSetString(def0, 0x1b02, "Sound");
    AafAddToSet(s.dictionary, 0x2605, def0);
    AafObject* mob = s.Mob(kAafClassCompositionMob, 1, "Long");
    AafObject* slot = AafNewObject(s.store, kAafClassTimelineMobSlot);
    AafSetUInt32(slot, 0x4801, 1);
    AafSetRational(slot, 0x4b01, AafRational{48000, 1});
    AafSetInt64(slot, 0x4b02, 0);
    AafAppendToVector(mob, 0x4403, slot);
    AafObject* sequence = AafNewObject(s.store, kAafClassSequence);
    auto sound = kAafDataDefSound.Bytes();
    AafSetWeakRef(sequence, 0x0201, kAafTargetDataDefinitions, sound.data(), 16);
    AafSetStrongRef(slot, 0x4803, "Segment", sequence);
    AafCreateVector(sequence, 0x1001, "Components", AafEmpty::Write);
    for (int i = 0; i < 10000; ++i) {
        AafObject* filler = AafNewObject(s.store, kAafClassFiller);
        AafSetWeakRef(filler, 0x0201, kAafTargetDataDefinitions, sound.data(), 16);
        AafSetInt64(filler, 0x0202, i);
        ASSERT_EQ(AafAppendToVector(sequence, 0x1001, filler), AafStatus::Ok);
    }

    TempDir dir;
    const std::string path = dir.File("large.aaf");
    std::string detail;
    ASSERT_EQ(AafSaveStore(s.store, path, &detail), AafStatus::Ok) << detail;

    AafReadBack stored = ReadStoredObjects(path);
    ASSERT_TRUE(stored.ok) << stored.message;
    EXPECT_EQ(JsonGetInt(JsonGetMember(stored.tree, "objects"), 0), static_cast<int>(s.store.objects.size()));
    const JsonValue& root = JsonGetMember(stored.tree, "root");
    const JsonValue& defs = StoredElements(StoredChild(StoredChild(root, 0x0002), 0x3b04), 0x2605);
    ASSERT_EQ(JsonArraySize(defs), 10001);
    EXPECT_EQ(JsonGetMember(defs.elements[9999], "path").text, "/Header-2/Dictionary-3b04/DataDefinitions-2605{270f}");
    const JsonValue& mobStored = JsonGetElement(StoredElements(StoredChild(StoredChild(root, 0x0002), 0x3b03), 0x1901), 0);
    const JsonValue& components = StoredElements(StoredChild(JsonGetElement(StoredElements(mobStored, 0x4403), 0), 0x4803), 0x1001);
    ASSERT_EQ(JsonArraySize(components), 10000);
    int64_t lengthSum = 0;
    for (const JsonValue& c : components.elements) {
        std::string hex = JsonGetMember(*FindStoredProperty(c, 0x0202), "value").text;
        lengthSum += std::stoll(hex.substr(2, 2) + hex.substr(0, 2), nullptr, 16);  // the low two bytes
        EXPECT_EQ(FirstTarget(c, 0x0201), "/Header-2/Dictionary-3b04/DataDefinitions-2605{2710}");
    }
    EXPECT_EQ(lengthSum, 9999LL * 10000 / 2);

    AafReadBack oracle = ReadWithOracle(path);
    ASSERT_TRUE(oracle.ok) << oracle.message;
    EXPECT_EQ(JsonGetInt(JsonGetMember(oracle.tree, "objects"), 0), static_cast<int>(s.store.objects.size()));
    EXPECT_EQ(JsonGetInt(JsonGetMember(oracle.tree, "weakReferences"), 0), 10001);

    // gsf lists every entry; the set's index lies past the mini stream's 4096 bytes.
    CommandResult list = RunCommand({"gsf", "list", path});
    ASSERT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("Components-1001{270f}"), std::string::npos);
    CommandResult index = RunCommand({"gsf", "cat", path, "Header-2/Dictionary-3b04/DataDefinitions-2605 index"});
    ASSERT_EQ(index.exitCode, 0) << index.err;
    EXPECT_EQ(index.out.size(), 15u + 10001 * 24);
}

// A failed save returns an error, leaves the previous file as it was and no
// ".tmp" behind.
TEST(AafStorage, FailedSavesKeepThePreviousFile) {
    TempDir dir;
    const std::string path = dir.File("session.aaf");
    ASSERT_TRUE(WriteWholeFile(path, "previous contents"));
    auto expectUntouched = [&](const char* what) {
        EXPECT_EQ(ReadWholeFile(path), "previous contents") << what;
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << what;
    };
    std::string detail;

    {  // a weak reference to a definition the file lacks
        Skeleton s;
        s.Definition(0x2605, "DataDefinitions", kAafClassDataDefinition, kAafDataDefSound, "Sound");
        s.FillerReferringTo(kAafDataDefTimecode);
        EXPECT_EQ(AafSaveStore(s.store, path, &detail), AafStatus::DanglingWeakRef);
        EXPECT_NE(detail.find("0002 3b04 2605"), std::string::npos) << detail;
        expectUntouched("dangling");
    }
    {  // set elements without their key, or sharing one
        Skeleton s;
        s.Definition(0x2605, "DataDefinitions", kAafClassDataDefinition, kAafDataDefSound, "A");
        AafObject* keyless = AafNewObject(s.store, kAafClassDataDefinition);
        AafAddToSet(s.dictionary, 0x2605, keyless);
        EXPECT_EQ(AafSaveStore(s.store, path, &detail), AafStatus::BadKey);
        expectUntouched("keyless");
        AafSetAuid(keyless, 0x1b01, kAafDataDefSound);
        EXPECT_EQ(AafSaveStore(s.store, path, &detail), AafStatus::DuplicateKey);
        expectUntouched("duplicate");
    }
    Skeleton good;
    // A folder that does not exist.
    EXPECT_EQ(AafSaveStore(good.store, dir.File("missing/session.aaf"), &detail), AafStatus::WriteFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing")));

    // A file-size limit below the file's size: the write fails, the old file stays.
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    AafStatus limited = AafSaveStore(good.store, path, &detail);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(limited, AafStatus::WriteFailed);
    expectUntouched("size limit");

    // And with room to write, the same store replaces the file.
    ASSERT_EQ(AafSaveStore(good.store, path, &detail), AafStatus::Ok) << detail;
    EXPECT_NE(ReadWholeFile(path), "previous contents");
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

// The independent reader is no rubber stamp: it refuses a dangling weak
// reference, a name used twice in one storage and an unknown stored form.
TEST(AafStorage, StoredReaderRefusesBrokenFiles) {
    TempDir dir;
    auto build = [&](const std::string& name, const std::function<void(Skeleton&)>& add) {
        Skeleton s;
        s.Definition(0x2605, "DataDefinitions", kAafClassDataDefinition, kAafDataDefSound, "Sound");
        add(s);
        std::string path = dir.File(name), detail;
        EXPECT_EQ(AafSaveStore(s.store, path, &detail), AafStatus::Ok) << detail;
        return path;
    };
    auto expectFault = [](const std::string& path, const char* words) {
        AafReadBack back = ReadStoredObjects(path);
        EXPECT_FALSE(back.ok);
        EXPECT_NE(back.message.find(words), std::string::npos) << back.message;
    };

    // A weak reference whose key was changed after the save (its key pid and
    // size before it make it the only such run of bytes in the file).
    std::string dangling = build("dangling.aaf", [](Skeleton& s) { s.FillerReferringTo(kAafDataDefSound); });
    ASSERT_TRUE(ReadStoredObjects(dangling).ok);
    std::vector<uint8_t> from = {0x01, 0x1b, 0x10}, to = from;
    const auto sound = kAafDataDefSound.Bytes(), timecode = kAafDataDefTimecode.Bytes();
    from.insert(from.end(), sound.begin(), sound.end());
    to.insert(to.end(), timecode.begin(), timecode.end());
    ASSERT_TRUE(PatchOnce(dangling, from, to));
    expectFault(dangling, "dangling weak reference");

    // Two elements of one vector renamed alike in the directory.
    std::string duplicate = build("duplicate.aaf", [](Skeleton& s) {
        AafObject* mob = s.Mob(kAafClassMasterMob, 1, "M");
        AafAppendToVector(mob, 0x4403, AafNewObject(s.store, kAafClassTimelineMobSlot));
        AafAppendToVector(mob, 0x4403, AafNewObject(s.store, kAafClassTimelineMobSlot));
    });
    ASSERT_TRUE(ReadStoredObjects(duplicate).ok);
    ASSERT_TRUE(PatchOnce(duplicate, Utf16Bytes("Slots-4403{1}"), Utf16Bytes("Slots-4403{0}")));
    expectFault(duplicate, "duplicate name");

    // A property entry whose form is none of the six.
    std::string unknown = build("unknown.aaf", [](Skeleton& s) { AafSetUInt32(s.header, 0x7f3d, 1); });
    ASSERT_TRUE(ReadStoredObjects(unknown).ok);
    ASSERT_TRUE(PatchOnce(unknown, {0x3d, 0x7f, 0x82, 0x00, 0x04, 0x00}, {0x3d, 0x7f, 0x99, 0x00, 0x04, 0x00}));
    expectFault(unknown, "unknown form");
}
