// aaf_storage.h — the stored-object layer of our AAF writer: a tree of AAF
// objects and their properties, built in memory and written whole as a
// compound file with 512-byte sectors (the 512-byte binary file kind).
//
// Index
//   AafAuid, AafAuidText, AafMobId, AafRational, AafTimeStamp   values and their byte layout
//   AafForm, AafStatus, AafStatusText                           stored forms and results
//   AafObject, AafProperty, AafStore                            the in-memory tree
//   AafNewObject / AafSetRoot                                   objects owned by the store
//   AafSetData and the typed setters                            data properties, each set once
//   AafReplaceData                                              a value that is updated on purpose
//   AafSetStrongRef, AafCreateVector, AafAppendToVector,
//   AafCreateSet, AafAddToSet                                   strong references and collections
//   AafWeakTarget, AafSetWeakRef, AafCreateWeakSet,
//   AafAddToWeakSet, AafCreateWeakVector, AafAppendToWeakVector  weak references by key
//   AafFindProperty, AafDataBytes                               reading the tree back
//   AafSaveStore                                                validate, write "<path>.tmp", rename
//   AafLoadStore                                                a written file read back (aaf_storage_read.cpp)
//   (compound_file_writer.h: the compound file the save streams into)
//
// How the object model uses it:
//   AafStore store;
//   AafObject* root = AafNewObject(store, kAafClassRoot);
//   AafSetRoot(store, root);
//   AafObject* header = AafNewObject(store, headerClass);
//   AafSetStrongRef(root, 0x0002, "Header", header);         // storage "Header-2"
//   AafSetInt16(header, 0x3b01, 0x4949);
//   AafCreateSet(content, 0x1901, "Mobs", 0x4401, 32, AafEmpty::Write);
//   AafAddToSet(content, 0x1901, mob);                       // keyed by the mob's 4401 value
//   AafSetWeakRef(clip, 0x0201, dataDefTarget, soundId.Bytes());
//   AafSaveStore(store, path, &detail);
// Objects are created detached and may be filled before or after they are
// attached; each object has at most one parent. Everything the store owns is
// freed with the store; objects never attached are simply not written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct WriteFault;

// --- Values -----------------------------------------------------------------

// A 16-byte identifier. Stored in GUID layout: data1, data2, data3
// little-endian, then data4 as it is.
struct AafAuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    std::array<uint8_t, 16> Bytes() const;
    static AafAuid FromBytes(const uint8_t* bytes);
    bool IsNull() const;
    friend bool operator==(const AafAuid&, const AafAuid&) = default;
};

namespace aaf_detail {
constexpr uint32_t HexDigit(char c) {
    return (c >= '0' && c <= '9')   ? uint32_t(c - '0')
           : (c >= 'a' && c <= 'f') ? uint32_t(c - 'a' + 10)
           : (c >= 'A' && c <= 'F') ? uint32_t(c - 'A' + 10)
                                    : 0;
}
constexpr uint32_t HexRun(const char* s, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 4) | HexDigit(s[i]);
    return v;
}
}  // namespace aaf_detail

// "0d010101-0101-2f00-060e-2b3402060101" (the registry's text form, no braces)
// -> the identifier; usable for constants.
constexpr AafAuid AafAuidText(const char (&t)[37]) {
    AafAuid a;
    a.data1 = aaf_detail::HexRun(t, 8);
    a.data2 = uint16_t(aaf_detail::HexRun(t + 9, 4));
    a.data3 = uint16_t(aaf_detail::HexRun(t + 14, 4));
    a.data4[0] = uint8_t(aaf_detail::HexRun(t + 19, 2));
    a.data4[1] = uint8_t(aaf_detail::HexRun(t + 21, 2));
    for (int i = 0; i < 6; ++i) a.data4[2 + i] = uint8_t(aaf_detail::HexRun(t + 24 + 2 * i, 2));
    return a;
}

// "{0d010101-0101-2f00-060e-2b3402060101}" in lower case.
std::string FormatAafAuid(const AafAuid& id);

// A material identifier (SMPTE UMID): 12-byte label, length, 3 instance
// bytes, material number. 32 bytes stored, the material in GUID layout.
struct AafMobId {
    std::array<uint8_t, 12> label{};
    uint8_t length = 0;
    std::array<uint8_t, 3> instance{};
    AafAuid material;

    std::array<uint8_t, 32> Bytes() const;
    bool IsNull() const;
    friend bool operator==(const AafMobId&, const AafMobId&) = default;
};

struct AafRational {
    int32_t numerator = 0;
    int32_t denominator = 1;
};

// A calendar time; fraction counts 1/250 s.
struct AafTimeStamp {
    int16_t year = 0;
    uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
};

// The file kind we write (512-byte sectors): the compound-file header's class id.
inline constexpr AafAuid kAafFileKindAaf512Binary = AafAuidText("42464141-000d-4d4f-060e-2b34010101ff");
// The class of the root object, which is the compound file's root storage.
inline constexpr AafAuid kAafClassRoot = AafAuidText("b3b398a5-1c90-11d4-8053-080036210804");

// --- Forms and results -------------------------------------------------------

enum class AafForm : uint16_t {
    Data = 0x82,
    StrongRef = 0x22,
    StrongVector = 0x32,
    StrongSet = 0x3A,
    WeakRef = 0x02,
    WeakSet = 0x1A,
    WeakVector = 0x12,
};

enum class AafStatus : uint32_t {
    Ok = 0,
    NullArgument,      // an object, value or name that the call needs is missing
    AlreadySet,        // the object already has a property with this pid
    ValueTooLarge,     // a value over 65,535 bytes, or more than 65,535 properties
    InvalidName,       // a property name that no storage name can be made of
    NotFound,          // no such property, collection or definition
    WrongForm,         // the property exists with another stored form
    WrongClass,        // the object is not of the class the call needs
    AlreadyAttached,   // the object already has a parent (or is the root)
    ForeignObject,     // the object belongs to another store
    BadKey,            // a set element without its key, or a key of the wrong size
    DuplicateKey,      // two elements of one set, or two definitions, with one key
    DanglingWeakRef,   // a weak reference whose target the file lacks
    NoRoot,            // the store has no root object
    WriteFailed,       // the file could not be written or renamed into place
    FileClosed,        // the file was closed already
    InvalidValue,      // a value outside its range (negative length, rate not above zero)
    OutOfOrder,        // a control point earlier than the one before it
    ReadOnly,          // the file was opened for reading
    Transient,         // the file lives in memory only and is never saved
    Unreadable,        // the file is not a compound file of AAF objects we read
};

const char* AafStatusText(AafStatus status);

// --- The tree ----------------------------------------------------------------

struct AafObject;
struct AafStore;

// What a collection keeps of itself when it has no elements: optional
// collections are left out, required ones are written with an empty index.
enum class AafEmpty { Omit, Write };

// Where weak references point: the pids from the root object down to the
// target collection (a data definition: 0002 3b04 2605), and the pid of the
// key property of its elements.
struct AafWeakTarget {
    std::vector<uint16_t> path;
    uint16_t keyPid = 0;
};

struct AafProperty {
    uint16_t pid = 0;
    AafForm form = AafForm::Data;
    std::string name;                  // property name: strong references and collections
    std::vector<uint8_t> data;         // data value; weak reference, set and vector: the keys
    std::vector<AafObject*> children;  // strong reference (one), vector or set elements
    AafEmpty empty = AafEmpty::Omit;
    uint16_t keyPid = 0;               // set and weak references: key property
    uint8_t keySize = 0;               // set and weak references: key bytes (16 or 32)
    std::vector<uint16_t> targetPath;  // weak references
};

struct AafObject {
    AafAuid classId;
    std::vector<AafProperty> properties;
    const AafStore* owner = nullptr;
    bool attached = false;
};

// Objects know their store by address: a store stays where it was made.
struct AafStore {
    AafStore() = default;
    AafStore(const AafStore&) = delete;
    AafStore& operator=(const AafStore&) = delete;

    std::vector<std::unique_ptr<AafObject>> objects;
    AafObject* root = nullptr;
};

// A new detached object of `classId`, owned by the store.
AafObject* AafNewObject(AafStore& store, const AafAuid& classId);
// Makes `object` the root (the compound file's root storage). Once.
AafStatus AafSetRoot(AafStore& store, AafObject* object);

// --- Data properties -----------------------------------------------------------

AafStatus AafSetData(AafObject* object, uint16_t pid, const void* bytes, size_t size);
// Replaces the value of an existing data property (lengths that grow as
// components are appended); sets it when it is missing.
AafStatus AafReplaceData(AafObject* object, uint16_t pid, const void* bytes, size_t size);

AafStatus AafSetBoolean(AafObject* object, uint16_t pid, bool value);
AafStatus AafSetUInt8(AafObject* object, uint16_t pid, uint8_t value);
AafStatus AafSetInt8(AafObject* object, uint16_t pid, int8_t value);
AafStatus AafSetUInt16(AafObject* object, uint16_t pid, uint16_t value);
AafStatus AafSetInt16(AafObject* object, uint16_t pid, int16_t value);
AafStatus AafSetUInt32(AafObject* object, uint16_t pid, uint32_t value);
AafStatus AafSetInt32(AafObject* object, uint16_t pid, int32_t value);
AafStatus AafSetInt64(AafObject* object, uint16_t pid, int64_t value);  // Position, Length
AafStatus AafSetRational(AafObject* object, uint16_t pid, AafRational value);
AafStatus AafSetAuid(AafObject* object, uint16_t pid, const AafAuid& value);
AafStatus AafSetMobId(AafObject* object, uint16_t pid, const AafMobId& value);
// UTF-8 in; stored UTF-16 (pairs beyond U+FFFF, U+FFFD for invalid bytes) with its 0.
AafStatus AafSetString(AafObject* object, uint16_t pid, std::string_view utf8);
AafStatus AafSetTimeStamp(AafObject* object, uint16_t pid, const AafTimeStamp& value);
// Indirect: byte order 'L', the value's type, the value's bytes.
AafStatus AafSetIndirect(AafObject* object, uint16_t pid, const AafAuid& type, const void* bytes,
                         size_t size);

// Little-endian encodings shared with the object model.
void AafAppendUInt16(std::vector<uint8_t>& out, uint16_t value);
void AafAppendUInt32(std::vector<uint8_t>& out, uint32_t value);
void AafAppendInt64(std::vector<uint8_t>& out, int64_t value);
std::vector<uint8_t> AafRationalBytes(AafRational value);

// --- Strong references and collections --------------------------------------------

// Strong references and collections take the property's name (printable
// ASCII, as the object model's names are): storages are named after it and
// the pid ("Header-2", "Slots-4403{0}"), cut to fit 31 characters.
AafStatus AafSetStrongRef(AafObject* parent, uint16_t pid, std::string_view name, AafObject* child);
AafStatus AafCreateVector(AafObject* parent, uint16_t pid, std::string_view name,
                          AafEmpty empty = AafEmpty::Omit);
AafStatus AafAppendToVector(AafObject* parent, uint16_t pid, AafObject* child);
// Elements are keyed by their data property `keyPid` of `keySize` bytes
// (16 or 32); the key must be set before the file is saved.
AafStatus AafCreateSet(AafObject* parent, uint16_t pid, std::string_view name, uint16_t keyPid,
                       uint8_t keySize, AafEmpty empty = AafEmpty::Omit);
AafStatus AafAddToSet(AafObject* parent, uint16_t pid, AafObject* child);

// --- Weak references ---------------------------------------------------------------

// A reference by key (16 or 32 bytes) into the target collection, which the
// file must hold when it is saved.
AafStatus AafSetWeakRef(AafObject* object, uint16_t pid, const AafWeakTarget& target,
                        const uint8_t* key, size_t keySize);
AafStatus AafCreateWeakSet(AafObject* object, uint16_t pid, std::string_view name,
                           const AafWeakTarget& target, uint8_t keySize);
AafStatus AafAddToWeakSet(AafObject* object, uint16_t pid, const uint8_t* key, size_t keySize);
// An ordered list of weak references, which may name one target twice (the
// member types of a record).
AafStatus AafCreateWeakVector(AafObject* object, uint16_t pid, std::string_view name,
                              const AafWeakTarget& target, uint8_t keySize);
AafStatus AafAppendToWeakVector(AafObject* object, uint16_t pid, const uint8_t* key, size_t keySize);

// --- Reading back ---------------------------------------------------------------------

AafProperty* AafFindProperty(AafObject* object, uint16_t pid);
const AafProperty* AafFindProperty(const AafObject* object, uint16_t pid);
// The bytes of a data property, or nullptr (size 0) when it is missing.
const uint8_t* AafDataBytes(const AafObject* object, uint16_t pid, size_t* size);

// --- Saving ----------------------------------------------------------------------------

// Writes the tree under the root to "<path>.tmp" and renames it over `path`.
// Fails, leaving any previous file intact and no ".tmp", when a weak reference
// dangles, a set element lacks its key or shares it, or the file cannot be
// written; `detail` (optional) then says what and where.
// `fault`, a test's full disk (write_fault.h), meets every write; null in the program.
AafStatus AafSaveStore(const AafStore& store, const std::string& path, std::string* detail = nullptr,
                       WriteFault* fault = nullptr);

// Reads the file at `path` (a compound file of AAF objects in the forms this
// layer writes) into the empty `store`, whose root it sets; saved again, the
// store gives the same objects. Unreadable (with `detail`) for a file that is
// no such file or is damaged, WrongForm for a stored form this layer does not
// write.
AafStatus AafLoadStore(const std::string& path, AafStore& store, std::string* detail = nullptr);
