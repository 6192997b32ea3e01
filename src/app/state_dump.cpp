// state_dump.cpp — the line-based state dump a test script writes, and the
// functions each part of the program registers to add its fields.
//
// Index
//   StateDump              fields as "key=value" lines
//   Registry               RegisterStateDump, RegisterDocumentStateDump
//   Dumping                KeepDocumentDumpFields, DumpRegisteredFields
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/test_driver.h"

// ---------------------------------------------------------------------------
// StateDump
// ---------------------------------------------------------------------------

void StateDump::Field(const std::string& key, const std::string& value) {
    text += key;
    text += '=';
    for (char c : value) {
        if (c == '\n') text += "\\n";
        else text += c;
    }
    text += '\n';
}

void StateDump::Field(const std::string& key, int value) { Field(key, std::to_string(value)); }

void StateDump::Field(const std::string& key, int64_t value) { Field(key, std::to_string(value)); }

void StateDump::Field(const std::string& key, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.2f", value);
    Field(key, std::string(buffer));
}

void StateDump::Field(const std::string& key, bool value) { Field(key, std::string(value ? "1" : "0")); }

void StateDump::RectField(const std::string& key, float x, float y, float width, float height) {
    char text[96];
    std::snprintf(text, sizeof text, "%.1f,%.1f,%.1f,%.1f", static_cast<double>(x), static_cast<double>(y),
                  static_cast<double>(width), static_cast<double>(height));
    Field(key, std::string(text));
}

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------

namespace {

struct RegisteredDump {
    StateDumpFn fn = nullptr;
    bool readsDocument = false;
    bool kept = false;     // lastText holds the fields of a worker's start
    std::string lastText;  // a document reader's fields when the last writing worker started
};

std::vector<RegisteredDump>& DumpRegistry() {
    static std::vector<RegisteredDump> registry;
    return registry;
}

void Register(StateDumpFn fn, bool readsDocument) {
    auto& registry = DumpRegistry();
    if (!fn) return;
    for (const RegisteredDump& d : registry)
        if (d.fn == fn) return;
    registry.push_back(RegisteredDump{fn, readsDocument, false, {}});
}

}  // namespace

void RegisterStateDump(StateDumpFn fn) { Register(fn, false); }
void RegisterDocumentStateDump(StateDumpFn fn) { Register(fn, true); }

// ---------------------------------------------------------------------------
// Dumping
// ---------------------------------------------------------------------------

// Just before a worker that writes the document starts: what the document
// readers dump while it runs is what they saw then.
void KeepDocumentDumpFields() {
    for (RegisteredDump& r : DumpRegistry()) {
        if (!r.readsDocument) continue;
        StateDump own;
        r.fn(own);
        r.lastText = std::move(own.text);
        r.kept = true;
    }
}

void DumpRegisteredFields(StateDump& dump, bool workerWritesDocument) {
    for (RegisteredDump& r : DumpRegistry()) {
        if (!r.readsDocument || !workerWritesDocument)
            r.fn(dump);
        else if (r.kept)
            dump.text += r.lastText;
    }
}
