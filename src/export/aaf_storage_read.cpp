// aaf_storage_read.cpp — the stored-object layer read back: a compound file
// of AAF objects into an AafStore that saves to the same file again.
//
// Index
//   Cursor               bounded little-endian reads of a stream
//   LoadState            the referenced-properties table, the store, the first failure
//   ReadObject           a storage and its properties, recursively
//   AafLoadStore
//
// The forms read are the six this layer writes and the weak-reference vector;
// a property of any other stored form makes the file unreadable here.
#include <cstdio>

#include "document/text_util.h"
#include "export/aaf_storage.h"
#include "export/compound_file_reader.h"

namespace {

// --- Cursor ----------------------------------------------------------------------------

struct Cursor {
    const std::vector<uint8_t>& bytes;
    size_t at = 0;
    bool ok = true;

    bool Has(size_t n) {
        ok = ok && at + n <= bytes.size();
        return ok;
    }
    uint8_t U8() { return Has(1) ? bytes[at++] : 0; }
    uint16_t U16() {
        if (!Has(2)) return 0;
        const uint16_t v = uint16_t(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return v;
    }
    uint32_t U32() {
        if (!Has(4)) return 0;
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | bytes[at + size_t(i)];
        at += 4;
        return v;
    }
    std::vector<uint8_t> Take(size_t n) {
        if (!Has(n)) return {};
        std::vector<uint8_t> out(bytes.begin() + long(at), bytes.begin() + long(at + n));
        at += n;
        return out;
    }
};

// A stored name: UTF-16 with its terminating 0.
std::string NameOf(const std::vector<uint8_t>& value) {
    std::u16string wide;
    for (size_t i = 0; i + 1 < value.size(); i += 2) {
        const char16_t c = char16_t(value[i] | value[i + 1] << 8);
        if (c == 0) break;
        wide.push_back(c);
    }
    return WideToUtf8(wide);
}

// "<property name>-<pid in hex>" -> the property name the writer made it of.
std::string PropertyNameOf(const std::string& stored, uint16_t pid) {
    char tail[8];
    const int n = std::snprintf(tail, sizeof tail, "-%x", pid);
    const std::string suffix(tail, size_t(n));
    if (stored.size() > suffix.size() && stored.compare(stored.size() - suffix.size(), suffix.size(), suffix) == 0)
        return stored.substr(0, stored.size() - suffix.size());
    return stored;
}

std::string Hex(uint32_t v) {
    char text[12];
    std::snprintf(text, sizeof text, "%x", v);
    return text;
}

// --- LoadState --------------------------------------------------------------------------

struct LoadState {
    AafStore& store;
    std::vector<std::vector<uint16_t>> paths;
    AafStatus status = AafStatus::Ok;
    std::string detail;

    AafObject* Fail(AafStatus s, const std::string& text) {
        if (status == AafStatus::Ok) {
            status = s;
            detail = text;
        }
        return nullptr;
    }
    bool Broken(const std::string& text) {
        Fail(AafStatus::Unreadable, text);
        return false;
    }
    bool Failed() const { return status != AafStatus::Ok; }
};

bool ReadPaths(LoadState& st, const CompoundEntry& root) {
    const CompoundEntry* table = CompoundChild(root, "referenced properties");
    if (!table) return true;  // a file without weak references
    Cursor c{table->bytes};
    const uint8_t order = c.U8();
    const uint16_t count = c.U16();
    const uint32_t pids = c.U32();
    std::vector<uint16_t> path;
    for (uint32_t i = 0; i < pids && c.ok; ++i) {
        const uint16_t pid = c.U16();
        if (pid != 0) {
            path.push_back(pid);
        } else {
            st.paths.push_back(path);
            path.clear();
        }
    }
    if (order != 0x4C || !c.ok || !path.empty() || st.paths.size() != count)
        return st.Broken("the referenced-properties table is damaged");
    return true;
}

AafObject* ReadObject(LoadState& st, const CompoundEntry& entry, const std::string& where, int depth);

// The element storages of a collection, by the local keys of its index.
bool ReadElements(LoadState& st, const CompoundEntry& entry, const std::string& name, AafProperty& p,
                  const std::string& at, int depth) {
    const CompoundEntry* index = CompoundChild(entry, name + " index");
    if (!index || index->storage) return st.Broken(at + ": no index");
    Cursor c{index->bytes};
    const uint32_t count = c.U32();
    c.U32();  // next free key
    c.U32();  // last free key
    const bool set = p.form == AafForm::StrongSet;
    if (set) {
        p.keyPid = c.U16();
        p.keySize = c.U8();
    }
    for (uint32_t i = 0; i < count && c.ok && !st.Failed(); ++i) {
        const uint32_t local = c.U32();
        if (set) {
            c.U32();  // reference count
            c.Take(p.keySize);
        }
        const CompoundEntry* element = CompoundChild(entry, name + "{" + Hex(local) + "}");
        if (!element || !element->storage) return st.Broken(at + ": missing element");
        AafObject* child = ReadObject(st, *element, at + "{" + Hex(local) + "}", depth + 1);
        if (!child) return false;
        child->attached = true;
        p.children.push_back(child);
    }
    return c.ok || st.Broken(at + ": damaged index");
}

bool ReadWeakKeys(LoadState& st, Cursor& c, size_t count, AafProperty& p, const std::string& at) {
    const uint16_t tag = c.U16();
    p.keyPid = c.U16();
    p.keySize = c.U8();
    if (!c.ok || tag >= st.paths.size() || (p.keySize != 16 && p.keySize != 32))
        return st.Broken(at + ": damaged weak reference");
    p.targetPath = st.paths[tag];
    p.data = c.Take(count * p.keySize);
    return c.ok || st.Broken(at + ": damaged weak reference");
}

AafObject* ReadObject(LoadState& st, const CompoundEntry& entry, const std::string& where, int depth) {
    if (depth > 1000) return st.Fail(AafStatus::Unreadable, where + ": nested too deep");
    AafObject* object = AafNewObject(st.store, AafAuid::FromBytes(entry.classId.data()));
    const CompoundEntry* stream = CompoundChild(entry, "properties");
    if (!stream || stream->storage) return st.Fail(AafStatus::Unreadable, where + ": no properties stream");
    Cursor c{stream->bytes};
    const uint8_t order = c.U8();
    c.U8();  // format version
    const uint16_t count = c.U16();
    struct Head {
        uint16_t pid, form, size;
    };
    std::vector<Head> heads;
    for (uint16_t i = 0; i < count && c.ok; ++i) heads.push_back({c.U16(), c.U16(), c.U16()});
    if (order != 0x4C || !c.ok) return st.Fail(AafStatus::Unreadable, where + ": damaged properties stream");

    for (const Head& h : heads) {
        const std::vector<uint8_t> value = c.Take(h.size);
        const std::string at = where + "/" + Hex(h.pid);
        if (!c.ok) return st.Fail(AafStatus::Unreadable, at + ": value beyond the stream");
        AafProperty p;
        p.pid = h.pid;
        p.form = AafForm(h.form);
        switch (p.form) {
            case AafForm::Data: p.data = value; break;
            case AafForm::StrongRef: {
                const std::string name = NameOf(value);
                p.name = PropertyNameOf(name, h.pid);
                const CompoundEntry* child = CompoundChild(entry, name);
                if (!child || !child->storage) return st.Fail(AafStatus::Unreadable, at + ": no storage " + name);
                AafObject* o = ReadObject(st, *child, at, depth + 1);
                if (!o) return nullptr;
                o->attached = true;
                p.children.push_back(o);
                break;
            }
            case AafForm::StrongVector:
            case AafForm::StrongSet: {
                const std::string name = NameOf(value);
                p.name = PropertyNameOf(name, h.pid);
                p.empty = AafEmpty::Write;  // it was there: it stays there
                if (!ReadElements(st, entry, name, p, at, depth)) return nullptr;
                break;
            }
            case AafForm::WeakRef: {
                Cursor w{value};
                if (!ReadWeakKeys(st, w, 1, p, at)) return nullptr;
                break;
            }
            case AafForm::WeakSet:
            case AafForm::WeakVector: {
                const std::string name = NameOf(value);
                p.name = PropertyNameOf(name, h.pid);
                p.empty = AafEmpty::Write;
                const CompoundEntry* index = CompoundChild(entry, name + " index");
                if (!index || index->storage) return st.Fail(AafStatus::Unreadable, at + ": no index");
                Cursor w{index->bytes};
                const uint32_t n = w.U32();
                if (!ReadWeakKeys(st, w, n, p, at)) return nullptr;
                break;
            }
            default: return st.Fail(AafStatus::WrongForm, at + ": stored form " + Hex(h.form) + " is not read here");
        }
        object->properties.push_back(std::move(p));
    }
    return object;
}

}  // namespace

// --- AafLoadStore ---------------------------------------------------------------------------

AafStatus AafLoadStore(const std::string& path, AafStore& store, std::string* detail) {
    auto finish = [&](AafStatus s, const std::string& text) {
        if (detail) *detail = text;
        return s;
    };
    if (store.root) return finish(AafStatus::AlreadyAttached, "the store has a root already");
    CompoundFile file;
    std::string error;
    if (!CompoundFileRead(path, file, &error)) return finish(AafStatus::Unreadable, error);
    if (!(AafAuid::FromBytes(file.root.classId.data()) == kAafClassRoot))
        return finish(AafStatus::Unreadable, "the root storage is not an AAF root object");
    LoadState st{store, {}, AafStatus::Ok, ""};
    if (!ReadPaths(st, file.root)) return finish(st.status, st.detail);
    AafObject* root = ReadObject(st, file.root, "", 0);
    if (!root) return finish(st.status, st.detail);
    AafSetRoot(store, root);
    return finish(AafStatus::Ok, "");
}
