// aaf_session_fixtures.cpp — clip lists by hand, the writers on them, and
// sessions read back through aaf_session_dump.py (pyaaf2).
#include "export/aaf_session_fixtures.h"

#include "export/aaf_session.h"
#include "export/aaf_test_tools.h"
#include "persistence/json_value.h"
#include "support/run_command.h"

AafClipList MakeClipList(const std::string& folder, const std::vector<ClipSpec>& clips) {
    AafClipList list;
    for (size_t i = 0; i < clips.size(); ++i) {
        const ClipSpec& c = clips[i];
        std::string name = c.essence.empty() ? "clip" + std::to_string(i) + ".wav" : c.essence;
        list.essencePaths.push_back(folder + "/Audio Files/" + name);
        list.essenceNames.push_back(name);
        list.positions.push_back(c.position);
        list.lengths.push_back(c.length);
        list.sourceOffsets.push_back(c.sourceOffset);
        list.fileLengths.push_back(c.fileLength > 0 ? c.fileLength : c.sourceOffset + std::max<int64_t>(c.length, 1));
        list.tracks.push_back(c.track);
        list.fadeIns.push_back(c.fadeIn);
        list.fadeOuts.push_back(c.fadeOut);
        list.gainCurves.push_back(c.curve);
        list.gains.push_back(c.gain);
    }
    return list;
}

bool WriteExtended(const std::string& aafPath, const AafClipList& l, int32_t sampleRate) {
    return ExportAafSessionExtended(aafPath, l.essencePaths, l.essenceNames, l.positions, l.lengths, l.sourceOffsets,
                                    l.fileLengths, l.tracks, l.trackNames, sampleRate, l.fadeIns, l.fadeOuts,
                                    l.markers, l.gainCurves, l.gains);
}

bool WritePlain(const std::string& aafPath, const AafClipList& l, int32_t sampleRate) {
    return ExportAafSession(aafPath, l.essencePaths, l.essenceNames, l.positions, l.lengths, l.fileLengths, l.tracks,
                            l.trackNames, sampleRate, l.markers, l.gainCurves, l.gains);
}

namespace {

int64_t Int(const JsonValue& object, const char* key, int64_t missing = -1) {
    const JsonValue& v = JsonGetMember(object, key);
    return v.type == kJsonNumber ? static_cast<int64_t>(v.number) : missing;
}

std::string Text(const JsonValue& object, const char* key) { return JsonGetMember(object, key).text; }

ReadGain GainOf(const JsonValue& g) {
    ReadGain gain;
    gain.operation = Text(g, "operation");
    gain.value = Text(g, "value");
    for (const JsonValue& p : JsonGetMember(g, "points").elements)
        gain.points.emplace_back(JsonGetElement(p, 0).text, JsonGetElement(p, 1).text);
    return gain;
}

ReadEssence EssenceOf(const JsonValue& e) {
    ReadEssence r;
    r.masterId = Text(e, "masterId");
    r.masterName = Text(e, "masterName");
    r.sourceId = Text(e, "sourceId");
    r.sourceName = Text(e, "sourceName");
    r.descriptor = Text(e, "descriptor");
    r.sampleRate = Text(e, "sampleRate");
    r.summary = Text(e, "summary");
    r.editRate = Text(e, "editRate");
    r.path = Text(e, "path");
    for (const JsonValue& u : JsonGetMember(e, "urls").elements) r.urls.push_back(u.text);
    r.length = Int(e, "length");
    r.masterSlotLength = Int(e, "masterSlotLength");
    r.masterClipStart = Int(e, "masterClipStart");
    r.sourceSlotLength = Int(e, "sourceSlotLength");
    r.masterPhysicalTrack = static_cast<int>(Int(e, "masterPhysicalTrack"));
    r.exists = JsonGetBool(JsonGetMember(e, "exists"), false);
    return r;
}

ReadSlot SlotOf(const JsonValue& s) {
    ReadSlot slot;
    slot.kind = Text(s, "class");
    slot.id = static_cast<int>(Int(s, "id"));
    slot.name = Text(s, "name");
    slot.physicalTrack = static_cast<int>(Int(s, "physicalTrack"));
    slot.editRate = Text(s, "editRate");
    if (JsonHasMember(s, "timecode")) {
        const JsonValue& tc = JsonGetMember(s, "timecode");
        slot.isTimecode = true;
        slot.timecodeLength = Int(tc, "length");
        slot.timecodeStart = Int(tc, "start");
        slot.fps = static_cast<int>(Int(tc, "fps"));
        slot.drop = JsonGetBool(JsonGetMember(tc, "drop"), true);
    }
    for (const JsonValue& c : JsonGetMember(s, "components").elements) {
        ReadComponent rc;
        rc.kind = Text(c, "kind");
        rc.position = Int(c, "position");
        rc.length = Int(c, "length");
        rc.cutPoint = Int(c, "cutPoint");
        rc.groupLength = Int(c, "groupLength");
        rc.operation = Text(c, "operation");
        rc.level = Text(c, "level");
        rc.start = Int(c, "start");
        rc.clipLength = Int(c, "clipLength");
        for (const JsonValue& g : JsonGetMember(c, "gains").elements) rc.gains.push_back(GainOf(g));
        if (JsonHasMember(c, "essence")) rc.essence = EssenceOf(JsonGetMember(c, "essence"));
        slot.components.push_back(std::move(rc));
    }
    slot.end = Int(s, "end", 0);
    slot.length = Int(s, "length", 0);
    for (const JsonValue& m : JsonGetMember(s, "markers").elements)
        slot.markers.push_back({Int(m, "position"), Int(m, "length"), Text(m, "comment")});
    return slot;
}

}  // namespace

std::vector<ReadSession> ReadSessions(const std::vector<std::string>& paths, std::string* why) {
    std::vector<ReadSession> sessions;
    std::string oracle = SharedMaterialDir("oracles/pyaaf2/src", why);
    if (oracle.empty()) return sessions;
    std::vector<std::string> args = {TL_TEST_PYTHON, std::string(TL_SOURCE_DIR) + "/tests/export/aaf_session_dump.py"};
    args.insert(args.end(), paths.begin(), paths.end());
    CommandResult run = RunCommand(args, {"PYTHONPATH=" + oracle});
    if (run.exitCode != 0) {
        *why = run.err.empty() ? "session dump exited with " + std::to_string(run.exitCode) : run.err;
        return sessions;
    }
    // The second reader opens every session too, without a complaint.
    for (const std::string& path : paths) {
        const AaftoolReadBack tool = ReadWithAaftool(path);
        if (!tool.ok || !tool.errors.empty()) {
            *why = path + ": " + (tool.ok ? tool.errors.front() : tool.message);
            return sessions;
        }
    }
    JsonValue all = ParseJsonText(run.out.c_str());
    if (all.type != kJsonArray || JsonArraySize(all) != static_cast<int>(paths.size())) {
        *why = "session dump printed no array of " + std::to_string(paths.size());
        return sessions;
    }
    for (const JsonValue& f : all.elements) {
        ReadSession s;
        for (const JsonMember& m : JsonGetMember(f, "mobCounts").members)
            s.mobCounts[m.key] = JsonGetInt(m.value, 0);
        for (const JsonValue& t : JsonGetMember(f, "topLevel").elements) s.topLevel.push_back(t.text);
        for (const JsonValue& slot : JsonGetMember(f, "slots").elements) s.slots.push_back(SlotOf(slot));
        for (const JsonValue& m : JsonGetMember(f, "masters").elements)
            s.masterSources[Text(m, "id")] = Text(m, "source");
        sessions.push_back(std::move(s));
    }
    return sessions;
}

std::string SequenceText(const ReadSlot& slot) {
    std::string text;
    for (const ReadComponent& c : slot.components) {
        if (!text.empty()) text += ' ';
        if (c.kind == "Clip")
            text += "Clip(" + std::to_string(c.position) + "," + std::to_string(c.length) + ")";
        else if (c.kind == "Transition")
            text += "Transition(" + std::to_string(c.length) + ",cut " + std::to_string(c.cutPoint) + ")";
        else
            text += c.kind + "(" + std::to_string(c.length) + ")";
    }
    return text;
}

std::vector<const ReadSlot*> FindSoundSlots(const ReadSession& session) {
    std::vector<const ReadSlot*> sound;
    for (const ReadSlot& s : session.slots)
        if (s.kind == "TimelineMobSlot" && !s.isTimecode) sound.push_back(&s);
    return sound;
}
