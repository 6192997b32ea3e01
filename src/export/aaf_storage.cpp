// aaf_storage.cpp — the in-memory half of the stored-object layer: values,
// objects, properties, collections and weak references. Saving is in
// aaf_storage_write.cpp.
//
// Index
//   AafAuid / AafMobId bytes, FormatAafAuid
//   AafStatusText
//   Little-endian appenders
//   AafNewObject / AafSetRoot
//   Property helpers      find, add, name check
//   Data setters
//   Strong references and collections
//   Weak references
#include "export/aaf_storage.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "document/text_util.h"

// --- Values -------------------------------------------------------------------

std::array<uint8_t, 16> AafAuid::Bytes() const {
    std::array<uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i) b[i] = uint8_t(data1 >> (8 * i));
    b[4] = uint8_t(data2);
    b[5] = uint8_t(data2 >> 8);
    b[6] = uint8_t(data3);
    b[7] = uint8_t(data3 >> 8);
    std::memcpy(b.data() + 8, data4.data(), 8);
    return b;
}

AafAuid AafAuid::FromBytes(const uint8_t* b) {
    AafAuid a;
    a.data1 = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    a.data2 = uint16_t(b[4] | b[5] << 8);
    a.data3 = uint16_t(b[6] | b[7] << 8);
    std::memcpy(a.data4.data(), b + 8, 8);
    return a;
}

bool AafAuid::IsNull() const { return *this == AafAuid{}; }

std::string FormatAafAuid(const AafAuid& id) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", id.data1,
                  id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2], id.data4[3],
                  id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
    return text;
}

std::array<uint8_t, 32> AafMobId::Bytes() const {
    std::array<uint8_t, 32> b{};
    std::memcpy(b.data(), label.data(), 12);
    b[12] = length;
    std::memcpy(b.data() + 13, instance.data(), 3);
    auto m = material.Bytes();
    std::memcpy(b.data() + 16, m.data(), 16);
    return b;
}

bool AafMobId::IsNull() const { return *this == AafMobId{}; }

const char* AafStatusText(AafStatus status) {
    switch (status) {
        case AafStatus::Ok: return "ok";
        case AafStatus::NullArgument: return "missing argument";
        case AafStatus::AlreadySet: return "property already set";
        case AafStatus::ValueTooLarge: return "value too large";
        case AafStatus::InvalidName: return "invalid property name";
        case AafStatus::NotFound: return "not found";
        case AafStatus::WrongForm: return "property has another stored form";
        case AafStatus::WrongClass: return "object of the wrong class";
        case AafStatus::AlreadyAttached: return "object already attached";
        case AafStatus::ForeignObject: return "object of another file";
        case AafStatus::BadKey: return "set element without a valid key";
        case AafStatus::DuplicateKey: return "duplicate key";
        case AafStatus::DanglingWeakRef: return "weak reference to a missing object";
        case AafStatus::NoRoot: return "no root object";
        case AafStatus::WriteFailed: return "write failed";
        case AafStatus::FileClosed: return "file closed";
        case AafStatus::InvalidValue: return "value out of range";
        case AafStatus::OutOfOrder: return "control point out of time order";
        case AafStatus::ReadOnly: return "file opened for reading";
        case AafStatus::Transient: return "transient file: never saved";
        case AafStatus::Unreadable: return "not a readable AAF file";
    }
    return "unknown";
}

void AafAppendUInt16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void AafAppendUInt32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void AafAppendInt64(std::vector<uint8_t>& out, int64_t value) {
    uint64_t v = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// --- Objects ------------------------------------------------------------------

AafObject* AafNewObject(AafStore& store, const AafAuid& classId) {
    auto object = std::make_unique<AafObject>();
    object->classId = classId;
    object->owner = &store;
    store.objects.push_back(std::move(object));
    return store.objects.back().get();
}

AafStatus AafSetRoot(AafStore& store, AafObject* object) {
    if (!object) return AafStatus::NullArgument;
    if (object->owner != &store) return AafStatus::ForeignObject;
    if (store.root || object->attached) return AafStatus::AlreadyAttached;
    object->attached = true;  // the root can never become somebody's child
    store.root = object;
    return AafStatus::Ok;
}

// --- Property helpers ------------------------------------------------------------

AafProperty* AafFindProperty(AafObject* object, uint16_t pid) {
    if (!object) return nullptr;
    for (auto& p : object->properties)
        if (p.pid == pid) return &p;
    return nullptr;
}

const AafProperty* AafFindProperty(const AafObject* object, uint16_t pid) {
    return AafFindProperty(const_cast<AafObject*>(object), pid);
}

const uint8_t* AafDataBytes(const AafObject* object, uint16_t pid, size_t* size) {
    const AafProperty* p = AafFindProperty(object, pid);
    if (!p || p->form != AafForm::Data) {
        if (size) *size = 0;
        return nullptr;
    }
    if (size) *size = p->data.size();
    return p->data.data();
}

namespace {

constexpr size_t kMaxValueSize = 65535;

// A property name becomes part of storage names: printable ASCII (as the
// object model's names are), without the characters compound-file names refuse
// or that the collection suffixes use.
bool ValidPropertyName(std::string_view name) {
    if (name.empty() || name.size() > 256) return false;
    for (unsigned char c : name)
        if (c < 0x20 || c > 0x7E || c == '/' || c == '\\' || c == ':' || c == '!' || c == '{' || c == '}')
            return false;
    return true;
}

AafStatus AddProperty(AafObject* object, uint16_t pid, AafForm form, AafProperty** out) {
    if (!object) return AafStatus::NullArgument;
    if (AafFindProperty(object, pid)) return AafStatus::AlreadySet;
    if (object->properties.size() >= 0xFFFF) return AafStatus::ValueTooLarge;
    object->properties.emplace_back();
    AafProperty& p = object->properties.back();
    p.pid = pid;
    p.form = form;
    *out = &p;
    return AafStatus::Ok;
}

// Takes `child` as a new strong reference of a property: it must be a
// detached object of the same store.
AafStatus AdoptChild(const AafObject* parent, AafObject* child) {
    if (!child) return AafStatus::NullArgument;
    if (child->owner != parent->owner) return AafStatus::ForeignObject;
    if (child->attached || child == parent) return AafStatus::AlreadyAttached;
    return AafStatus::Ok;
}

AafStatus FindCollection(AafObject* parent, uint16_t pid, AafForm form, AafProperty** out) {
    if (!parent) return AafStatus::NullArgument;
    AafProperty* p = AafFindProperty(parent, pid);
    if (!p) return AafStatus::NotFound;
    if (p->form != form) return AafStatus::WrongForm;
    *out = p;
    return AafStatus::Ok;
}

bool ValidKey(const uint8_t* key, size_t size) { return key && (size == 16 || size == 32); }

template <typename T>
AafStatus SetLittleEndian(AafObject* object, uint16_t pid, T value) {
    auto v = static_cast<std::make_unsigned_t<T>>(value);
    uint8_t bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(v >> (8 * i));
    return AafSetData(object, pid, bytes, sizeof bytes);
}

}  // namespace

// --- Data --------------------------------------------------------------------------

AafStatus AafSetData(AafObject* object, uint16_t pid, const void* bytes, size_t size) {
    if (size > kMaxValueSize) return AafStatus::ValueTooLarge;
    if (size > 0 && !bytes) return AafStatus::NullArgument;
    AafProperty* p = nullptr;
    AafStatus s = AddProperty(object, pid, AafForm::Data, &p);
    if (s != AafStatus::Ok) return s;
    const auto* b = static_cast<const uint8_t*>(bytes);
    p->data.assign(b, b + size);
    return AafStatus::Ok;
}

AafStatus AafReplaceData(AafObject* object, uint16_t pid, const void* bytes, size_t size) {
    AafProperty* p = AafFindProperty(object, pid);
    if (!p) return AafSetData(object, pid, bytes, size);
    if (p->form != AafForm::Data) return AafStatus::WrongForm;
    if (size > kMaxValueSize) return AafStatus::ValueTooLarge;
    if (size > 0 && !bytes) return AafStatus::NullArgument;
    const auto* b = static_cast<const uint8_t*>(bytes);
    p->data.assign(b, b + size);
    return AafStatus::Ok;
}

AafStatus AafSetBoolean(AafObject* object, uint16_t pid, bool value) {
    uint8_t b = value ? 1 : 0;
    return AafSetData(object, pid, &b, 1);
}

AafStatus AafSetUInt8(AafObject* object, uint16_t pid, uint8_t value) {
    return AafSetData(object, pid, &value, 1);
}

AafStatus AafSetInt8(AafObject* object, uint16_t pid, int8_t value) {
    return AafSetData(object, pid, &value, 1);
}

AafStatus AafSetUInt16(AafObject* object, uint16_t pid, uint16_t value) {
    return SetLittleEndian(object, pid, value);
}

AafStatus AafSetInt16(AafObject* object, uint16_t pid, int16_t value) {
    return SetLittleEndian(object, pid, value);
}

AafStatus AafSetUInt32(AafObject* object, uint16_t pid, uint32_t value) {
    return SetLittleEndian(object, pid, value);
}

AafStatus AafSetInt32(AafObject* object, uint16_t pid, int32_t value) {
    return SetLittleEndian(object, pid, value);
}

AafStatus AafSetInt64(AafObject* object, uint16_t pid, int64_t value) {
    return SetLittleEndian(object, pid, value);
}

std::vector<uint8_t> AafRationalBytes(AafRational value) {
    std::vector<uint8_t> b;
    AafAppendUInt32(b, static_cast<uint32_t>(value.numerator));
    AafAppendUInt32(b, static_cast<uint32_t>(value.denominator));
    return b;
}

AafStatus AafSetRational(AafObject* object, uint16_t pid, AafRational value) {
    std::vector<uint8_t> b = AafRationalBytes(value);
    return AafSetData(object, pid, b.data(), b.size());
}

AafStatus AafSetAuid(AafObject* object, uint16_t pid, const AafAuid& value) {
    auto b = value.Bytes();
    return AafSetData(object, pid, b.data(), b.size());
}

AafStatus AafSetMobId(AafObject* object, uint16_t pid, const AafMobId& value) {
    auto b = value.Bytes();
    return AafSetData(object, pid, b.data(), b.size());
}

AafStatus AafSetString(AafObject* object, uint16_t pid, std::string_view utf8) {
    std::u16string wide = Utf8ToWide(std::string(utf8));
    std::vector<uint8_t> b;
    b.reserve(wide.size() * 2 + 2);
    for (char16_t c : wide) AafAppendUInt16(b, static_cast<uint16_t>(c));
    AafAppendUInt16(b, 0);
    return AafSetData(object, pid, b.data(), b.size());
}

AafStatus AafSetTimeStamp(AafObject* object, uint16_t pid, const AafTimeStamp& t) {
    std::vector<uint8_t> b;
    AafAppendUInt16(b, static_cast<uint16_t>(t.year));
    for (uint8_t v : {t.month, t.day, t.hour, t.minute, t.second, t.fraction}) b.push_back(v);
    return AafSetData(object, pid, b.data(), b.size());
}

AafStatus AafSetIndirect(AafObject* object, uint16_t pid, const AafAuid& type, const void* bytes,
                         size_t size) {
    if (size > 0 && !bytes) return AafStatus::NullArgument;
    if (size > kMaxValueSize - 17) return AafStatus::ValueTooLarge;
    std::vector<uint8_t> b;
    b.reserve(17 + size);
    b.push_back(0x4C);
    auto t = type.Bytes();
    b.insert(b.end(), t.begin(), t.end());
    const auto* v = static_cast<const uint8_t*>(bytes);
    b.insert(b.end(), v, v + size);
    return AafSetData(object, pid, b.data(), b.size());
}

// --- Strong references and collections ----------------------------------------------

AafStatus AafSetStrongRef(AafObject* parent, uint16_t pid, std::string_view name, AafObject* child) {
    if (!parent) return AafStatus::NullArgument;
    if (!ValidPropertyName(name)) return AafStatus::InvalidName;
    AafStatus s = AdoptChild(parent, child);
    if (s != AafStatus::Ok) return s;
    AafProperty* p = nullptr;
    s = AddProperty(parent, pid, AafForm::StrongRef, &p);
    if (s != AafStatus::Ok) return s;
    p->name = name;
    p->children.push_back(child);
    child->attached = true;
    return AafStatus::Ok;
}

namespace {

// A vector or set property, named, still without children.
AafStatus CreateCollection(AafObject* parent, uint16_t pid, AafForm form, std::string_view name, AafEmpty empty,
                           AafProperty** out) {
    if (!ValidPropertyName(name)) return AafStatus::InvalidName;
    AafStatus s = AddProperty(parent, pid, form, out);
    if (s != AafStatus::Ok) return s;
    (*out)->name = name;
    (*out)->empty = empty;
    return AafStatus::Ok;
}

// The child, adopted, as the last of the parent's vector or set `pid`.
AafStatus AddToCollection(AafObject* parent, uint16_t pid, AafForm form, AafObject* child) {
    AafProperty* p = nullptr;
    AafStatus s = FindCollection(parent, pid, form, &p);
    if (s == AafStatus::Ok) s = AdoptChild(parent, child);
    if (s != AafStatus::Ok) return s;
    p->children.push_back(child);
    child->attached = true;
    return AafStatus::Ok;
}

}  // namespace

AafStatus AafCreateVector(AafObject* parent, uint16_t pid, std::string_view name, AafEmpty empty) {
    AafProperty* p = nullptr;
    return CreateCollection(parent, pid, AafForm::StrongVector, name, empty, &p);
}

AafStatus AafAppendToVector(AafObject* parent, uint16_t pid, AafObject* child) {
    return AddToCollection(parent, pid, AafForm::StrongVector, child);
}

AafStatus AafCreateSet(AafObject* parent, uint16_t pid, std::string_view name, uint16_t keyPid,
                       uint8_t keySize, AafEmpty empty) {
    if (!ValidPropertyName(name)) return AafStatus::InvalidName;
    if (keySize != 16 && keySize != 32) return AafStatus::BadKey;
    AafProperty* p = nullptr;
    AafStatus s = CreateCollection(parent, pid, AafForm::StrongSet, name, empty, &p);
    if (s != AafStatus::Ok) return s;
    p->keyPid = keyPid;
    p->keySize = keySize;
    return AafStatus::Ok;
}

AafStatus AafAddToSet(AafObject* parent, uint16_t pid, AafObject* child) {
    return AddToCollection(parent, pid, AafForm::StrongSet, child);
}

// --- Weak references ---------------------------------------------------------------

AafStatus AafSetWeakRef(AafObject* object, uint16_t pid, const AafWeakTarget& target,
                        const uint8_t* key, size_t keySize) {
    if (!ValidKey(key, keySize)) return AafStatus::BadKey;
    if (target.path.empty()) return AafStatus::NullArgument;
    AafProperty* p = nullptr;
    AafStatus s = AddProperty(object, pid, AafForm::WeakRef, &p);
    if (s != AafStatus::Ok) return s;
    p->keyPid = target.keyPid;
    p->keySize = static_cast<uint8_t>(keySize);
    p->targetPath = target.path;
    p->data.assign(key, key + keySize);
    return AafStatus::Ok;
}

namespace {

AafStatus CreateWeakCollection(AafObject* object, uint16_t pid, AafForm form, std::string_view name,
                               const AafWeakTarget& target, uint8_t keySize) {
    if (!ValidPropertyName(name)) return AafStatus::InvalidName;
    if (keySize != 16 && keySize != 32) return AafStatus::BadKey;
    if (target.path.empty()) return AafStatus::NullArgument;
    AafProperty* p = nullptr;
    AafStatus s = AddProperty(object, pid, form, &p);
    if (s != AafStatus::Ok) return s;
    p->name = name;
    p->keyPid = target.keyPid;
    p->keySize = keySize;
    p->targetPath = target.path;
    return AafStatus::Ok;
}

}  // namespace

AafStatus AafCreateWeakSet(AafObject* object, uint16_t pid, std::string_view name,
                           const AafWeakTarget& target, uint8_t keySize) {
    return CreateWeakCollection(object, pid, AafForm::WeakSet, name, target, keySize);
}

AafStatus AafCreateWeakVector(AafObject* object, uint16_t pid, std::string_view name,
                              const AafWeakTarget& target, uint8_t keySize) {
    return CreateWeakCollection(object, pid, AafForm::WeakVector, name, target, keySize);
}

AafStatus AafAppendToWeakVector(AafObject* object, uint16_t pid, const uint8_t* key, size_t keySize) {
    AafProperty* p = nullptr;
    AafStatus s = FindCollection(object, pid, AafForm::WeakVector, &p);
    if (s != AafStatus::Ok) return s;
    if (!ValidKey(key, keySize) || keySize != p->keySize) return AafStatus::BadKey;
    p->data.insert(p->data.end(), key, key + keySize);
    return AafStatus::Ok;
}

AafStatus AafAddToWeakSet(AafObject* object, uint16_t pid, const uint8_t* key, size_t keySize) {
    AafProperty* p = nullptr;
    AafStatus s = FindCollection(object, pid, AafForm::WeakSet, &p);
    if (s != AafStatus::Ok) return s;
    if (!ValidKey(key, keySize) || keySize != p->keySize) return AafStatus::BadKey;
    // A set holds each key once.
    for (size_t at = 0; at < p->data.size(); at += keySize)
        if (std::memcmp(p->data.data() + at, key, keySize) == 0) return AafStatus::DuplicateKey;
    p->data.insert(p->data.end(), key, key + keySize);
    return AafStatus::Ok;
}
