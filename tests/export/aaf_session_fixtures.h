// aaf_session_fixtures.h — clip lists for the session writer's tests, and
// sessions read back through pyaaf2 as an editing system sees them.
//
// Index
//   ClipSpec / MakeClipList     a clip list from a few fields per clip
//   WriteExtended / WritePlain  the two writers on a whole clip list
//   Read*                       what aaf_session_dump.py printed, as records
//   ReadSessions                run the dump over files
//   SequenceText                a track's components as "Clip(0,48000) Filler(48000) ..."
//   FindSoundSlots              the composition's sound tracks in stored order
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "export/aaf_clip_list.h"

struct ClipSpec {
    int64_t position = 0;
    int64_t length = 48000;
    int32_t track = 0;
    int64_t sourceOffset = 0;
    int32_t fadeIn = 0;
    int32_t fadeOut = 0;
    float gain = 1.0f;
    std::string essence = "";  // file name in "<folder>/Audio Files"; "" gives "clip<i>.wav"
    int64_t fileLength = 0;  // 0: sourceOffset + length
    AafGainCurve curve = {};
};

AafClipList MakeClipList(const std::string& folder, const std::vector<ClipSpec>& clips);

bool WriteExtended(const std::string& aafPath, const AafClipList& list, int32_t sampleRate = 48000);
bool WritePlain(const std::string& aafPath, const AafClipList& list, int32_t sampleRate = 48000);

struct ReadGain {
    std::string operation;
    std::string value;                                      // a constant, "n/d"
    std::vector<std::pair<std::string, std::string>> points;  // a curve: time, value
};

struct ReadEssence {
    std::string masterId, masterName, sourceId, sourceName, descriptor, sampleRate, summary, editRate, path;
    std::vector<std::string> urls;
    int64_t length = -1, masterSlotLength = -1, masterClipStart = -1, sourceSlotLength = -1;
    int masterPhysicalTrack = -1;
    bool exists = false;
};

struct ReadComponent {
    std::string kind;  // Filler, Transition, Clip
    int64_t position = 0, length = 0;
    int64_t cutPoint = -1, groupLength = -1;  // Transition
    std::string operation, level;             // Transition
    int64_t start = -1, clipLength = -1;      // Clip
    std::vector<ReadGain> gains;              // Clip, outermost first
    ReadEssence essence;                      // Clip
};

struct ReadMarker {
    int64_t position = 0, length = -1;
    std::string comment;
};

struct ReadSlot {
    std::string kind;  // TimelineMobSlot, EventMobSlot
    int id = -1;
    std::string name;
    int physicalTrack = -1;  // -1: none
    std::string editRate;
    bool isTimecode = false;
    int64_t timecodeLength = -1, timecodeStart = -1;
    int fps = -1;
    bool drop = true;
    std::vector<ReadComponent> components;
    int64_t end = 0, length = 0;  // the walked end and the sequence's stored length
    std::vector<ReadMarker> markers;
};

struct ReadSession {
    std::map<std::string, int> mobCounts;
    std::vector<std::string> topLevel;
    std::vector<ReadSlot> slots;
    std::map<std::string, std::string> masterSources;  // master mob id -> source mob id
};

// Empty with `why` filled when an oracle is missing or a file does not read:
// pyaaf2 reads the sessions, and aaftool must open each without an error line.
std::vector<ReadSession> ReadSessions(const std::vector<std::string>& paths, std::string* why);

std::string SequenceText(const ReadSlot& slot);
std::vector<const ReadSlot*> FindSoundSlots(const ReadSession& session);
