// aaf_storage_write.cpp — saving a store: the names of storages, the checks a
// file must pass before it is written (set keys, weak-reference targets), and
// the objects streamed into a compound file that replaces the target.
//
// Index
//   StorageBaseName      property name cut so that every name derived from it fits
//   SaveState            reference tags, target key indexes, the first failure
//   CheckObject          set keys, weak-reference targets and their tags
//   Encoders             properties stream, index streams, referenced properties
//   WriteObject          one storage and everything under it
//   AafSaveStore         check, then write "<path>.tmp" and rename it
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_set>

#include "export/aaf_storage.h"
#include "export/compound_file_writer.h"

namespace {

// A compound-file name holds at most 31 UTF-16 units (32 with its 0).
constexpr size_t kMaxNameUnits = 31;
constexpr uint32_t kNoFreeKey = 0xFFFFFFFF;

size_t HexDigits(uint32_t v) {
    size_t n = 1;
    while (v >>= 4) ++n;
    return n;
}

std::string Hex(uint32_t v) {
    char text[12];
    std::snprintf(text, sizeof text, "%x", v);
    return text;
}

// "<property name>-<pid in hex>", the property-name part cut so that the name
// plus the longest suffix it will carry (" index", "{<key>}") fits. Readers
// take names from the stored values, so a cut name needs no rule of its own;
// the pid keeps names of one storage apart.
std::string StorageBaseName(const std::string& propertyName, uint16_t pid, size_t suffixUnits) {
    char tail[8];
    int tailSize = std::snprintf(tail, sizeof tail, "-%x", pid);
    size_t room = kMaxNameUnits - suffixUnits - static_cast<size_t>(tailSize);
    std::string name = propertyName.substr(0, room);  // names are ASCII: one unit per byte
    name.append(tail, static_cast<size_t>(tailSize));
    return name;
}

size_t CollectionSuffixUnits(const AafProperty& p) {
    size_t elementSuffix = p.children.empty() ? 0 : 2 + HexDigits(uint32_t(p.children.size() - 1));
    return std::max<size_t>(6 /* " index" */, elementSuffix);
}

std::string KeyText(const uint8_t* bytes, size_t size) {
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

std::string HexBytes(const uint8_t* bytes, size_t size) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text;
}

std::string PathText(const std::vector<uint16_t>& path) {
    std::string text;
    char four[8];
    for (uint16_t pid : path) {
        std::snprintf(four, sizeof four, "%04x ", pid);
        text += four;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

bool Written(const AafProperty& p) {
    const bool weak = p.form == AafForm::WeakSet || p.form == AafForm::WeakVector;
    bool collection = p.form == AafForm::StrongVector || p.form == AafForm::StrongSet || weak;
    if (!collection) return true;
    bool empty = weak ? p.data.empty() : p.children.empty();
    return !empty || p.empty == AafEmpty::Write;
}

// --- SaveState ---------------------------------------------------------------

struct TargetIndex {
    bool found = false;
    std::unordered_set<std::string> keys;
};

struct SaveState {
    const AafObject* root = nullptr;
    std::vector<std::vector<uint16_t>> paths;  // the referenced-properties table
    std::map<std::vector<uint16_t>, uint16_t> tags;
    std::map<std::pair<std::vector<uint16_t>, uint16_t>, TargetIndex> targets;
    AafStatus status = AafStatus::Ok;
    std::string detail;

    bool Fail(AafStatus s, std::string text) {
        if (status == AafStatus::Ok) {
            status = s;
            detail = std::move(text);
        }
        return false;
    }
};

// The keys (values of `keyPid`) of the elements of the collection the path
// leads to from the root, walking strong references.
const TargetIndex& TargetKeys(SaveState& st, const std::vector<uint16_t>& path, uint16_t keyPid) {
    auto key = std::make_pair(path, keyPid);
    auto it = st.targets.find(key);
    if (it != st.targets.end()) return it->second;
    TargetIndex& index = st.targets[key];
    const AafObject* at = st.root;
    for (size_t i = 0; at && i + 1 < path.size(); ++i) {
        const AafProperty* p = AafFindProperty(at, path[i]);
        at = p && p->form == AafForm::StrongRef && !p->children.empty() ? p->children[0] : nullptr;
    }
    const AafProperty* collection = at ? AafFindProperty(at, path.back()) : nullptr;
    if (collection &&
        (collection->form == AafForm::StrongSet || collection->form == AafForm::StrongVector)) {
        index.found = true;
        for (const AafObject* element : collection->children) {
            size_t size = 0;
            const uint8_t* bytes = AafDataBytes(element, keyPid, &size);
            if (bytes) index.keys.insert(KeyText(bytes, size));
        }
    }
    return index;
}

uint16_t TagFor(SaveState& st, const std::vector<uint16_t>& path) {
    auto it = st.tags.find(path);
    if (it != st.tags.end()) return it->second;
    uint16_t tag = static_cast<uint16_t>(st.paths.size());
    st.paths.push_back(path);
    st.tags.emplace(path, tag);
    return tag;
}

// --- CheckObject -----------------------------------------------------------------

bool CheckObject(SaveState& st, const AafObject* object, const std::string& where) {
    for (const AafProperty& p : object->properties) {
        if (!Written(p)) continue;
        std::string at = where + "/" + Hex(p.pid);
        switch (p.form) {
            case AafForm::Data: break;
            case AafForm::StrongSet: {
                std::unordered_set<std::string> seen;
                for (const AafObject* child : p.children) {
                    size_t size = 0;
                    const uint8_t* key = AafDataBytes(child, p.keyPid, &size);
                    if (!key || size != p.keySize)
                        return st.Fail(AafStatus::BadKey, "set element without key " + Hex(p.keyPid) + " at " + at);
                    if (!seen.insert(KeyText(key, size)).second)
                        return st.Fail(AafStatus::DuplicateKey, "key " + HexBytes(key, size) + " twice in set " + at);
                }
                [[fallthrough]];
            }
            case AafForm::StrongRef:
            case AafForm::StrongVector:
                for (size_t i = 0; i < p.children.size(); ++i)
                    if (!CheckObject(st, p.children[i], at + "{" + Hex(uint32_t(i)) + "}")) return false;
                break;
            case AafForm::WeakRef:
            case AafForm::WeakSet:
            case AafForm::WeakVector: {
                const TargetIndex& target = TargetKeys(st, p.targetPath, p.keyPid);
                for (size_t k = 0; k * p.keySize < p.data.size(); ++k) {
                    const uint8_t* key = p.data.data() + k * p.keySize;
                    if (!target.keys.count(KeyText(key, p.keySize)))
                        return st.Fail(AafStatus::DanglingWeakRef,
                                       "weak reference " + at + " to " + HexBytes(key, p.keySize) +
                                           " in " + PathText(p.targetPath) +
                                           (target.found ? "" : " (no such collection)"));
                }
                if (st.paths.size() >= 0xFFFF && !st.tags.count(p.targetPath))
                    return st.Fail(AafStatus::ValueTooLarge, "too many weak-reference targets");
                TagFor(st, p.targetPath);
                break;
            }
        }
    }
    return true;
}

// --- Encoders ------------------------------------------------------------------------

void AppendName(std::vector<uint8_t>& out, const std::string& name) {
    for (char c : name) AafAppendUInt16(out, static_cast<uint8_t>(c));
    AafAppendUInt16(out, 0);
}

std::string BaseNameOf(const AafProperty& p) {
    size_t suffix = p.form == AafForm::StrongRef ? 0
                    : p.form == AafForm::WeakSet || p.form == AafForm::WeakVector ? 6
                                                 : CollectionSuffixUnits(p);
    return StorageBaseName(p.name, p.pid, suffix);
}

// The stored value of one property.
std::vector<uint8_t> PropertyValue(SaveState& st, const AafProperty& p) {
    std::vector<uint8_t> v;
    switch (p.form) {
        case AafForm::Data: v = p.data; break;
        case AafForm::StrongRef:
        case AafForm::StrongVector:
        case AafForm::StrongSet:
        case AafForm::WeakSet:
        case AafForm::WeakVector: AppendName(v, BaseNameOf(p)); break;
        case AafForm::WeakRef:
            AafAppendUInt16(v, st.tags.at(p.targetPath));
            AafAppendUInt16(v, p.keyPid);
            v.push_back(p.keySize);
            v.insert(v.end(), p.data.begin(), p.data.end());
            break;
    }
    return v;
}

// The "properties" stream: byte order 'L', version 0x20, count, the
// {pid, form, size} entries, then the values in that order.
bool EncodeProperties(SaveState& st, const AafObject* object, std::vector<uint8_t>& out) {
    std::vector<std::vector<uint8_t>> values;
    std::vector<const AafProperty*> written;
    for (const AafProperty& p : object->properties) {
        if (!Written(p)) continue;
        values.push_back(PropertyValue(st, p));
        written.push_back(&p);
        if (values.back().size() > 0xFFFF)
            return st.Fail(AafStatus::ValueTooLarge, "value of property " + Hex(p.pid) + " too large");
    }
    out.clear();
    out.push_back(0x4C);
    out.push_back(0x20);
    AafAppendUInt16(out, static_cast<uint16_t>(written.size()));
    for (size_t i = 0; i < written.size(); ++i) {
        AafAppendUInt16(out, written[i]->pid);
        AafAppendUInt16(out, static_cast<uint16_t>(written[i]->form));
        AafAppendUInt16(out, static_cast<uint16_t>(values[i].size()));
    }
    for (const auto& v : values) out.insert(out.end(), v.begin(), v.end());
    return true;
}

// Vector and set indexes: count, next free local key, last free key (none),
// [set: key pid, key size], then per element its local key [set: reference
// count 1 and key]. Local keys are the element positions.
std::vector<uint8_t> EncodeCollectionIndex(const AafProperty& p) {
    std::vector<uint8_t> out;
    uint32_t count = static_cast<uint32_t>(p.children.size());
    bool set = p.form == AafForm::StrongSet;
    out.reserve(12 + 3 + count * (set ? 8 + p.keySize : 4));
    AafAppendUInt32(out, count);
    AafAppendUInt32(out, count);
    AafAppendUInt32(out, kNoFreeKey);
    if (set) {
        AafAppendUInt16(out, p.keyPid);
        out.push_back(p.keySize);
    }
    for (uint32_t i = 0; i < count; ++i) {
        AafAppendUInt32(out, i);
        if (set) {
            AafAppendUInt32(out, 1);
            size_t size = 0;
            const uint8_t* key = AafDataBytes(p.children[i], p.keyPid, &size);
            out.insert(out.end(), key, key + size);
        }
    }
    return out;
}

// Weak set and weak vector index: count, tag, key pid, key size, the keys.
std::vector<uint8_t> EncodeWeakSetIndex(SaveState& st, const AafProperty& p) {
    std::vector<uint8_t> out;
    AafAppendUInt32(out, static_cast<uint32_t>(p.data.size() / p.keySize));
    AafAppendUInt16(out, st.tags.at(p.targetPath));
    AafAppendUInt16(out, p.keyPid);
    out.push_back(p.keySize);
    out.insert(out.end(), p.data.begin(), p.data.end());
    return out;
}

// Root stream "referenced properties": 'L', path count, pid count (with the
// terminating zeros), then each path's pids ending in 0.
std::vector<uint8_t> EncodeReferencedProperties(const SaveState& st) {
    std::vector<uint8_t> out;
    uint32_t pidCount = 0;
    for (const auto& path : st.paths) pidCount += static_cast<uint32_t>(path.size() + 1);
    out.push_back(0x4C);
    AafAppendUInt16(out, static_cast<uint16_t>(st.paths.size()));
    AafAppendUInt32(out, pidCount);
    for (const auto& path : st.paths) {
        for (uint16_t pid : path) AafAppendUInt16(out, pid);
        AafAppendUInt16(out, 0);
    }
    return out;
}

// --- WriteObject -------------------------------------------------------------------

bool WriteStream(SaveState& st, CompoundFileWriter& w, const std::string& name, const std::vector<uint8_t>& bytes) {
    return CompoundFileWriteStream(w, name, bytes.data(), bytes.size()) || st.Fail(AafStatus::WriteFailed, w.error);
}

bool WriteObject(SaveState& st, const AafObject* object, CompoundFileWriter& w);

bool WriteChildStorage(SaveState& st, CompoundFileWriter& w, const std::string& name, const AafObject* child) {
    if (!CompoundFileBeginStorage(w, name, child->classId.Bytes())) return st.Fail(AafStatus::WriteFailed, w.error);
    if (!WriteObject(st, child, w)) return false;
    return CompoundFileEndStorage(w) || st.Fail(AafStatus::WriteFailed, w.error);
}

// The storage of `object` is open: its properties stream, then per collection
// its index, and every referenced object in its own storage. The writer puts
// the entries in directory order itself.
bool WriteObject(SaveState& st, const AafObject* object, CompoundFileWriter& w) {
    std::vector<uint8_t> bytes;
    if (!EncodeProperties(st, object, bytes) || !WriteStream(st, w, "properties", bytes)) return false;
    for (const AafProperty& p : object->properties) {
        if (!Written(p) || p.form == AafForm::Data || p.form == AafForm::WeakRef) continue;
        std::string base = BaseNameOf(p);
        switch (p.form) {
            case AafForm::StrongRef:
                if (!WriteChildStorage(st, w, base, p.children[0])) return false;
                break;
            case AafForm::StrongVector:
            case AafForm::StrongSet:
                if (!WriteStream(st, w, base + " index", EncodeCollectionIndex(p))) return false;
                for (size_t i = 0; i < p.children.size(); ++i)
                    if (!WriteChildStorage(st, w, base + "{" + Hex(uint32_t(i)) + "}", p.children[i])) return false;
                break;
            case AafForm::WeakSet:
            case AafForm::WeakVector:
                if (!WriteStream(st, w, base + " index", EncodeWeakSetIndex(st, p))) return false;
                break;
            case AafForm::Data:
            case AafForm::WeakRef: break;
        }
    }
    return true;
}

}  // namespace

// --- AafSaveStore ------------------------------------------------------------------------

AafStatus AafSaveStore(const AafStore& store, const std::string& path, std::string* detail, WriteFault* fault) {
    auto finish = [&](AafStatus s, const std::string& text) {
        if (detail) *detail = text;
        return s;
    };
    if (!store.root) return finish(AafStatus::NoRoot, "no root object");
    if (path.empty()) return finish(AafStatus::NullArgument, "no path");

    SaveState st;
    st.root = store.root;
    if (!CheckObject(st, store.root, "")) return finish(st.status, st.detail);

    // Stream data goes to "<path>.tmp" as it is encoded; the writer renames
    // it over the path when the file is complete and removes it otherwise.
    CompoundFileWriter w;
    w.fault = fault;
    bool ok = CompoundFileOpen(w, path, kAafFileKindAaf512Binary.Bytes(), store.root->classId.Bytes()) &&
              WriteObject(st, store.root, w) &&
              WriteStream(st, w, "referenced properties", EncodeReferencedProperties(st)) &&
              CompoundFileCommit(w);
    if (!ok) {
        CompoundFileAbandon(w);
        if (st.status == AafStatus::Ok) st.Fail(AafStatus::WriteFailed, w.error);
        return finish(st.status, st.detail);
    }
    return finish(AafStatus::Ok, "");
}
