// aaf_meta_dictionary.cpp — the MetaDictionary of a new file: one class
// definition per class of the meta model with its property definitions, and
// one type definition per type, each of the type-definition class its kind
// asks for.
//
// Index
//   Meta classes and pids      the dictionary's own classes and local ids
//   Value encodings            string, AUID and Int64 arrays
//   ClassDefinition            identification, name, parent, properties, concreteness
//   TypeDefinition             identification, name and the properties of its kind
//   AafFillMetaDictionary
#include "document/text_util.h"
#include "export/aaf_meta_model.h"

namespace {

// --- Meta classes and pids ----------------------------------------------------------

constexpr AafAuid kClassDefinition = AafAuidText("0d010101-0201-0000-060e-2b3402060101");
constexpr AafAuid kPropertyDefinition = AafAuidText("0d010101-0202-0000-060e-2b3402060101");

AafAuid TypeClass(AafMetaTypeKind kind) {
    switch (kind) {
        case AafMetaTypeKind::Integer: return AafAuidText("0d010101-0204-0000-060e-2b3402060101");
        case AafMetaTypeKind::StrongRef: return AafAuidText("0d010101-0205-0000-060e-2b3402060101");
        case AafMetaTypeKind::WeakRef: return AafAuidText("0d010101-0206-0000-060e-2b3402060101");
        case AafMetaTypeKind::Enumeration: return AafAuidText("0d010101-0207-0000-060e-2b3402060101");
        case AafMetaTypeKind::FixedArray: return AafAuidText("0d010101-0208-0000-060e-2b3402060101");
        case AafMetaTypeKind::VariableArray: return AafAuidText("0d010101-0209-0000-060e-2b3402060101");
        case AafMetaTypeKind::Set: return AafAuidText("0d010101-020a-0000-060e-2b3402060101");
        case AafMetaTypeKind::String: return AafAuidText("0d010101-020b-0000-060e-2b3402060101");
        case AafMetaTypeKind::Record: return AafAuidText("0d010101-020d-0000-060e-2b3402060101");
        case AafMetaTypeKind::Rename: return AafAuidText("0d010101-020e-0000-060e-2b3402060101");
        case AafMetaTypeKind::ExtEnumeration: return AafAuidText("0d010101-0220-0000-060e-2b3402060101");
        case AafMetaTypeKind::Indirect: return AafAuidText("0d010101-0221-0000-060e-2b3402060101");
        case AafMetaTypeKind::Stream: return AafAuidText("0d010101-020c-0000-060e-2b3402060101");
        case AafMetaTypeKind::Character: break;
    }
    return AafAuidText("0d010101-0223-0000-060e-2b3402060101");
}

enum MetaPid : uint16_t {
    kClassDefinitions = 0x0003,
    kTypeDefinitions = 0x0004,
    kIdentification = 0x0005,
    kName = 0x0006,
    kParentClass = 0x0008,
    kProperties = 0x0009,
    kIsConcrete = 0x000a,
    kPropertyType = 0x000b,
    kIsOptional = 0x000c,
    kLocalIdentification = 0x000d,
    kIsUniqueIdentifier = 0x000e,
    kIntegerSize = 0x000f,
    kIntegerIsSigned = 0x0010,
    kStrongReferencedType = 0x0011,
    kWeakReferencedType = 0x0012,
    kWeakTargetSet = 0x0013,
    kEnumElementType = 0x0014,
    kEnumElementNames = 0x0015,
    kEnumElementValues = 0x0016,
    kFixedArrayElementType = 0x0017,
    kFixedArrayElementCount = 0x0018,
    kVariableArrayElementType = 0x0019,
    kSetElementType = 0x001a,
    kStringElementType = 0x001b,
    kRecordMemberTypes = 0x001c,
    kRecordMemberNames = 0x001d,
    kRenamedType = 0x001e,
    kExtEnumElementNames = 0x001f,
    kExtEnumElementValues = 0x0020,
};

// Class and type definitions are found by their identification in the
// MetaDictionary's two sets.
const AafWeakTarget kClasses{{0x0001, kClassDefinitions}, kIdentification};
const AafWeakTarget kTypes{{0x0001, kTypeDefinitions}, kIdentification};

// --- Value encodings -------------------------------------------------------------------

// UTF-16 strings, each with its terminating 0, one after another.
class StringArray {
public:
    void Add(const char* text) {
        for (char16_t unit : Utf8ToWide(text)) AafAppendUInt16(bytes_, uint16_t(unit));
        AafAppendUInt16(bytes_, 0);
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

void AppendAuid(std::vector<uint8_t>& out, const AafAuid& id) {
    const auto bytes = id.Bytes();
    out.insert(out.end(), bytes.begin(), bytes.end());
}

AafStatus SetBytes(AafObject* object, uint16_t pid, const std::vector<uint8_t>& bytes) {
    return AafSetData(object, pid, bytes.data(), bytes.size());
}

AafStatus SetWeak(AafObject* object, uint16_t pid, const AafWeakTarget& target, const AafAuid& key) {
    const auto bytes = key.Bytes();
    return AafSetWeakRef(object, pid, target, bytes.data(), bytes.size());
}

struct Builder {
    AafStore& store;
    const AafMetaModel& model;
    AafStatus status = AafStatus::Ok;

    void operator+=(AafStatus s) {
        if (status == AafStatus::Ok) status = s;
    }

    AafObject* NewDefinition(const AafAuid& classId, const AafAuid& id, const char* name) {
        AafObject* o = AafNewObject(store, classId);
        *this += AafSetAuid(o, kIdentification, id);
        *this += AafSetString(o, kName, name);
        return o;
    }

    // --- ClassDefinition ------------------------------------------------------------

    AafObject* Class(const AafMetaClass& c) {
        AafObject* o = NewDefinition(kClassDefinition, c.id, c.name);
        *this += SetWeak(o, kParentClass, kClasses, c.parent);
        // Written even when empty: readers look the set up for every class.
        *this += AafCreateSet(o, kProperties, "Properties", kIdentification, 16, AafEmpty::Write);
        for (const AafMetaProperty& p : model.properties) {
            if (!(p.owner == c.id)) continue;
            AafObject* def = NewDefinition(kPropertyDefinition, p.id, p.name);
            *this += AafSetAuid(def, kPropertyType, p.type);
            *this += AafSetBoolean(def, kIsOptional, p.optional);
            *this += AafSetUInt16(def, kLocalIdentification, p.pid);
            *this += AafSetBoolean(def, kIsUniqueIdentifier, p.unique);
            *this += AafAddToSet(o, kProperties, def);
        }
        *this += AafSetBoolean(o, kIsConcrete, c.concrete);
        return o;
    }

    // --- TypeDefinition ---------------------------------------------------------------

    // An enumeration's element names and values, in the model's order.
    template <class Elements, class AppendValue>
    void SetElements(AafObject* o, const AafMetaType& t, const Elements& elements, uint16_t namesPid,
                     uint16_t valuesPid, AppendValue&& appendValue) {
        StringArray names;
        std::vector<uint8_t> values;
        for (const auto& e : elements)
            if (e.type == t.id) {
                names.Add(e.name);
                appendValue(values, e.value);
            }
        *this += SetBytes(o, namesPid, names.Bytes());
        *this += SetBytes(o, valuesPid, values);
    }

    AafObject* Type(const AafMetaType& t) {
        AafObject* o = NewDefinition(TypeClass(t.kind), t.id, t.name);
        switch (t.kind) {
            case AafMetaTypeKind::Integer:
                *this += AafSetUInt8(o, kIntegerSize, uint8_t(t.number));
                *this += AafSetBoolean(o, kIntegerIsSigned, t.isSigned);
                break;
            case AafMetaTypeKind::StrongRef: *this += SetWeak(o, kStrongReferencedType, kClasses, t.target); break;
            case AafMetaTypeKind::WeakRef: {
                *this += SetWeak(o, kWeakReferencedType, kClasses, t.target);
                std::vector<uint8_t> path;
                for (const AafMetaTargetStep& step : model.targetSteps)
                    if (step.type == t.id) AppendAuid(path, step.property);
                *this += SetBytes(o, kWeakTargetSet, path);
                break;
            }
            case AafMetaTypeKind::Enumeration:
                *this += SetWeak(o, kEnumElementType, kTypes, t.target);
                SetElements(o, t, model.enumerators, kEnumElementNames, kEnumElementValues,
                            [](std::vector<uint8_t>& values, int64_t value) { AafAppendInt64(values, value); });
                break;
            case AafMetaTypeKind::ExtEnumeration:
                SetElements(o, t, model.extEnumerators, kExtEnumElementNames, kExtEnumElementValues,
                            [](std::vector<uint8_t>& values, const AafAuid& value) { AppendAuid(values, value); });
                break;
            case AafMetaTypeKind::Record: {
                *this += AafCreateWeakVector(o, kRecordMemberTypes, "MemberTypes", kTypes, 16);
                StringArray names;
                for (const AafMetaMember& m : model.members)
                    if (m.record == t.id) {
                        const auto key = m.type.Bytes();
                        *this += AafAppendToWeakVector(o, kRecordMemberTypes, key.data(), key.size());
                        names.Add(m.name);
                    }
                *this += SetBytes(o, kRecordMemberNames, names.Bytes());
                break;
            }
            case AafMetaTypeKind::FixedArray:
                *this += SetWeak(o, kFixedArrayElementType, kTypes, t.target);
                *this += AafSetUInt32(o, kFixedArrayElementCount, t.number);
                break;
            case AafMetaTypeKind::VariableArray: *this += SetWeak(o, kVariableArrayElementType, kTypes, t.target); break;
            case AafMetaTypeKind::Set: *this += SetWeak(o, kSetElementType, kTypes, t.target); break;
            case AafMetaTypeKind::String: *this += SetWeak(o, kStringElementType, kTypes, t.target); break;
            case AafMetaTypeKind::Rename: *this += SetWeak(o, kRenamedType, kTypes, t.target); break;
            case AafMetaTypeKind::Character:
            case AafMetaTypeKind::Indirect:
            case AafMetaTypeKind::Stream: break;
        }
        return o;
    }
};

}  // namespace

// --- AafFillMetaDictionary --------------------------------------------------------------

AafStatus AafFillMetaDictionary(AafStore& store, AafObject* metaDictionary, const AafMetaModel& model) {
    if (!metaDictionary) return AafStatus::NullArgument;
    Builder b{store, model};
    b += AafCreateSet(metaDictionary, kClassDefinitions, "ClassDefinitions", kIdentification, 16, AafEmpty::Write);
    b += AafCreateSet(metaDictionary, kTypeDefinitions, "TypeDefinitions", kIdentification, 16, AafEmpty::Write);
    for (const AafMetaClass& c : model.classes) b += AafAddToSet(metaDictionary, kClassDefinitions, b.Class(c));
    for (const AafMetaType& t : model.types) b += AafAddToSet(metaDictionary, kTypeDefinitions, b.Type(t));
    return b.status;
}
