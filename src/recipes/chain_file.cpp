// chain_file.cpp — writing and reading chain files.
//
// Index
//   ChainFromEvents
//   ChainFileText       top-level members, then one object per event
//   SaveChainFile (folder) / SaveChainFile (user's folder)
//   ReadChainFile
#include "recipes/chain_file.h"

#include <algorithm>
#include <cstdio>

#include "document/text_util.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "platform/file_names.h"
#include "platform/user_folders.h"

namespace {

constexpr const char kLogTag[] = "[Chains]";

void WriteChainEvent(JsonWriter& w, const ChainEvent& event) {
    const EventPreset& p = event.preset;
    JsonBeginObject(w);
    JsonWriteNumber(w, "relTime", event.relTime);
    JsonWriteNumber(w, "syncOffset", event.syncOffset);
    WriteSoughtMembers(w, p);
    WriteShapingMembers(w, p);
    JsonWriteNumber(w, "gain", p.gain);
    JsonWriteInt(w, "fillLayers", p.fillLayers);
    JsonWriteInt(w, "groupOverride", p.groupOverride);
    JsonWriteBool(w, "stereo", p.stereo);
    JsonWriteBool(w, "hero", event.hero);
    JsonWriteBool(w, "alloy", event.alloy);
    WriteClipMembers(w, p, false);
    if (p.shape == kShapeBed) WritePinnedFileLists(w, p, true);
    if (p.libFilter[0] != '\0') JsonWriteStringMember(w, "libFilter", p.libFilter);
    JsonWriteCurve(w, "weight", p.weight);
    JsonWriteCurve(w, "intensity", p.intensity);
    JsonEndObject(w);
}

}  // namespace

Chain ChainFromEvents(std::string_view name, const std::vector<Event>& events,
                      const std::vector<int>& indices) {
    Chain chain;
    CopyTextField(chain.name, name);
    std::vector<const Event*> listed;
    for (int index : indices)
        if (index >= 0 && static_cast<size_t>(index) < events.size()) listed.push_back(&events[static_cast<size_t>(index)]);
    if (listed.empty()) return chain;
    float base = listed.front()->time;
    for (const Event* event : listed) base = std::min(base, event->time);
    for (const Event* event : listed) {
        ChainEvent out;
        out.preset = PresetFromEvent(*event);
        out.preset.gain = event->gain;
        out.preset.syncOffset = 0;
        out.preset.clipWeight = -1;
        out.relTime = event->time - base;
        out.syncOffset = event->syncOffset;
        out.hero = event->hero;
        out.alloy = event->alloy;
        chain.events.push_back(std::move(out));
    }
    return chain;
}

std::string ChainFileText(const Chain& chain) {
    JsonWriter w;
    BeginPresetFileText(w, "TessaloomChain", chain.name);
    // "[" stays on the key's line; each event opens on a line of its own.
    JsonWriteKey(w, "events");
    w.out += "[";
    w.level = 2;
    for (const ChainEvent& event : chain.events) WriteChainEvent(w, event);
    w.level = 1;
    w.out += "\n  ]\n}";
    return w.out;
}

std::string ChainFileName(std::string_view name) {
    char kept[sizeof(Chain::name)];
    CopyTextField(kept, name);
    return PresetFileStem(kept, "group") + kChainExtension;
}

PresetSaveResult SaveChainFile(const std::string& folder, std::string_view name,
                               const std::vector<Event>& events, const std::vector<int>& indices,
                               bool replaceOtherName) {
    if (NameRefusedForFile(name, kLogTag)) return kPresetNameRefused;
    Chain chain = ChainFromEvents(name, events, indices);
    if (chain.events.empty()) {
        std::printf("%s no event to save in chain \"%s\"\n", kLogTag, chain.name);
        return kPresetNothingToSave;
    }
    return SavePresetJsonFile(folder, ChainFileName(chain.name), chain.name, ChainFileText(chain), replaceOtherName,
                              kLogTag);
}

PresetSaveResult SaveChainFile(std::string_view name, const std::vector<Event>& events,
                               const std::vector<int>& indices, bool replaceOtherName) {
    return SaveChainFile(ChainsDir(), name, events, indices, replaceOtherName);
}

Chain ReadChainFile(const std::string& path) {
    Chain chain;
    JsonValue root;
    if (!ReadPresetFileOpening(path, "Chain", kLogTag, chain, root)) return chain;
    const JsonValue& events = JsonGetMember(root, "events");
    if (events.type != kJsonArray) return chain;
    // An element that is not an object reads every member as missing: one
    // event with the reader's defaults.
    for (const JsonValue& element : events.elements) {
        ChainEvent event;
        event.relTime = JsonGetFloat(JsonGetMember(element, "relTime"), 0.0f);
        event.syncOffset = JsonGetFloat(JsonGetMember(element, "syncOffset"), 0.0f);
        event.hero = JsonGetBool(JsonGetMember(element, "hero"), false);
        event.alloy = JsonGetBool(JsonGetMember(element, "alloy"), false);
        ReadPresetSettings(element, event.preset);
        if (event.preset.shape == kShapeBed) ReadPinnedFileLists(element, event.preset, false);
        if (event.preset.shape == kShapeClip) ReadClipMembers(element, event.preset, false, kLogTag);
        chain.events.push_back(std::move(event));
    }
    return chain;
}
