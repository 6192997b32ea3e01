// aaf_composition.cpp — the session's composition: the timecode track, one
// mono sound track per clip-list track, and the marker track.
//
// Index
//   Clip-list access     optional entries and their defaults
//   Definitions          dissolve and gain definitions, looked up or registered on first use
//   Gain values          the constant amplitude and the curve's control points
//   TrackBuilder         one track's sequence: fillers, fades, crossfades, clips and gains
//   Slot ids             unique ids around the timecode slot's 100
//   BuildAafComposition
//   AddAafMarkerSlot
//
// A track's sequence keeps the timeline of the clip list: every clip lies at
// its position, and the sequence ends where the track's last clip ends. A
// clip that starts before the end of what the track holds is crossfaded
// with the clip before it when it starts inside that clip (the crossfade
// covers the overlap, as far as the clip before has room for it), is cut at
// its head where it reaches back further, and is left out when it lies
// wholly inside what is there. No transition is longer than the part of a
// clip it covers, so transitions never overlap each other.
#include <algorithm>
#include <climits>
#include <cmath>
#include <map>

#include "export/aaf_object_checks.h"
#include "export/aaf_session.h"

namespace {

// --- Clip-list access -------------------------------------------------------------------

template <typename T>
T Entry(const std::vector<T>& values, size_t i, T missing) {
    return i < values.size() ? values[i] : missing;
}

// --- Definitions --------------------------------------------------------------------------

struct Definitions {
    AafObject* level = nullptr;
    AafObject* dissolve = nullptr;
    AafObject* linear = nullptr;
    AafObject* amplitude = nullptr;
    AafObject* gain = nullptr;
};

AafStatus LookupOr(AafFile& file, AafDefinitionKind kind, const AafAuid& id, AafObject** out,
                   AafStatus (*registerIt)(AafFile&, AafObject**)) {
    AafStatus s = AafLookupDefinition(file, kind, id, out);
    return s == AafStatus::NotFound ? registerIt(file, out) : s;
}

// Fades, crossfades and gain curves interpolate linearly.
AafStatus EnsureLinear(AafFile& f, Definitions& defs) {
    if (defs.linear) return AafStatus::Ok;
    return LookupOr(f, AafDefinitionKind::Interpolation, kAafInterpolationDefLinear, &defs.linear,
                    [](AafFile& file, AafObject** out) {
                        return AafRegisterInterpolationDef(file, kAafInterpolationDefLinear, "LinearInterp",
                                                           "Linear interpolation", out);
                    });
}

// An operation of one rational parameter whose values interpolate linearly.
struct ParameterOperation {
    const AafAuid& parameterId;
    const char* parameterName;
    const char* parameterDescription;
    const AafAuid& operationId;
    const char* operationName;
    const char* operationDescription;
    int32_t inputs;
};

// The operation's definitions, each found in the file or registered once:
// linear interpolation, the parameter, then the operation.
AafStatus EnsureOperation(AafSession& session, Definitions& defs, const ParameterOperation& op,
                          AafObject*& parameter, AafObject*& operation) {
    if (operation) return AafStatus::Ok;
    AafFile& f = *session.file;
    AafStatus s = EnsureLinear(f, defs);
    if (s != AafStatus::Ok) return s;
    s = AafLookupDefinition(f, AafDefinitionKind::Parameter, op.parameterId, &parameter);
    if (s == AafStatus::NotFound)
        s = AafRegisterParameterDef(f, op.parameterId, op.parameterName, op.parameterDescription, kAafTypeRational,
                                    &parameter);
    if (s != AafStatus::Ok) return s;
    s = AafLookupDefinition(f, AafDefinitionKind::Operation, op.operationId, &operation);
    if (s != AafStatus::NotFound) return s;
    return AafRegisterOperationDef(f, {op.operationId, op.operationName, op.operationDescription, session.sound, false,
                                       op.inputs, {parameter}},
                                   &operation);
}

// A crossfade or fade needs the dissolve, its level and linear interpolation.
AafStatus EnsureDissolve(AafSession& session, Definitions& defs) {
    return EnsureOperation(session, defs,
                           {kAafParameterDefLevel, "Level", "Dissolve level parameter", kAafOperationDefMonoAudioDissolve,
                            "Mono Audio Dissolve", "A mono audio dissolve", 2},
                           defs.level, defs.dissolve);
}

// Clip gain and gain curves need the gain, its amplitude and linear interpolation.
AafStatus EnsureGain(AafSession& session, Definitions& defs) {
    return EnsureOperation(session, defs,
                           {kAafParameterDefAmplitude, "Amplitude", "Gain amplitude parameter",
                            kAafOperationDefMonoAudioGain, "Mono Audio Gain", "A mono audio gain adjustment", 1},
                           defs.amplitude, defs.gain);
}

// --- Gain values ----------------------------------------------------------------------------

constexpr int32_t kAmplitudeDenominator = 85899345;  // 25 x this still fits 32 bits
constexpr float kMaxClipGain = 25.0f;

int32_t RoundedNumerator(double value, double denominator) {
    double n = std::trunc(value * denominator + 0.5);
    return n >= double(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n);
}

// A clip's static gain: unset, NaN or negative count as 1; at most 25.
float ClipGain(const std::vector<float>& gains, size_t i) {
    float g = Entry(gains, i, 1.0f);
    if (!(g >= 0.0f)) g = 1.0f;
    return std::min(g, kMaxClipGain);
}

// A curve point: a gain below 0 is silence, one that is not finite counts as 1.
AafRational CurvePointValue(float point) {
    double p = std::isfinite(point) ? std::max(0.0, double(point)) : 1.0;
    return AafRational{RoundedNumerator(p, 1000.0), 1000};
}

// --- TrackBuilder -----------------------------------------------------------------------------

struct ClipInputs {
    const std::vector<AafMobId>& masterIds;
    const std::vector<int64_t>& positions;
    const std::vector<int64_t>& lengths;
    const std::vector<int64_t>& sourceOffsets;
    const std::vector<int32_t>& fadeIns;
    const std::vector<int32_t>& fadeOuts;
    const std::vector<AafGainCurve>& gainCurves;
    const std::vector<float>& gains;
};

class TrackBuilder {
public:
    TrackBuilder(AafSession& session, Definitions& defs, const ClipInputs& in, AafObject* sequence)
        : session_(session), file_(*session.file), defs_(defs), in_(in), sequence_(sequence) {}

    // Places entry `e` after the entries placed before it (in position order).
    void Place(size_t e) {
        int64_t start = in_.positions[e], len = in_.lengths[e], src = Entry(in_.sourceOffsets, e, int64_t{0});
        if (len <= 0) return;
        if (start < 0) {  // what lies before the timeline's start is cut off
            len += start;
            src -= start;
            start = 0;
            if (len <= 0) return;
        }
        int64_t crossfade = 0;
        if (start < cursor_) {
            if (start + len <= cursor_) return;  // wholly inside what the track holds
            int64_t reach = cursor_ - start;
            if (open_ && start > openStart_) crossfade = std::min(reach, openRoom_);
            int64_t cut = reach - crossfade;
            start += cut;
            src += cut;
            len -= cut;
        }
        int64_t fi = std::clamp<int64_t>(Entry(in_.fadeIns, e, 0), 0, len / 2);
        int64_t fo = std::clamp<int64_t>(Entry(in_.fadeOuts, e, 0), 0, len / 2);

        int64_t head = 0;
        if (crossfade > 0) {
            open_ = false;  // the crossfade is the open clip's tail
            AppendDissolve(crossfade, crossfade / 2);
            head = crossfade;
        } else {
            CloseOpenClip();
            int64_t filler = start - cursor_ + fi;  // the fade-in overlaps the filler's end
            if (filler > 0) AppendFiller(filler);
            if (fi > 0) AppendDissolve(fi, 0);
            head = fi;
        }
        AppendClip(e, len, src);
        open_ = true;
        openStart_ = start;
        openRoom_ = len - head;
        openFadeOut_ = fo;
        cursor_ = start + len;
    }

    // Ends the track: the last clip's fade-out.
    AafStatus Finish() {
        CloseOpenClip();
        return fail_.status;
    }

private:
    // The open clip's fade-out, over the part of it no other transition covers,
    // then a filler that brings the sequence back to the clip's end.
    void CloseOpenClip() {
        if (!open_) return;
        open_ = false;
        int64_t fo = std::min(openFadeOut_, openRoom_);
        if (fo <= 0) return;
        AppendDissolve(fo, fo);
        AppendFiller(fo);
    }

    void AppendFiller(int64_t length) {
        AafObject* filler = nullptr;
        fail_ += AafCreateFiller(file_, session_.sound, length, &filler);
        fail_ += AafAppendComponent(sequence_, filler);
    }

    void AppendDissolve(int64_t length, int64_t cutPoint) {
        fail_ += EnsureDissolve(session_, defs_);
        AafObject *group = nullptr, *level = nullptr, *transition = nullptr;
        fail_ += AafCreateOperationGroup(file_, session_.sound, length, defs_.dissolve, &group);
        // The incoming side's level rises from 0 to 1 across the transition:
        // a constant level of 1 would be a cut, not a fade.
        fail_ += AafCreateVaryingValue(file_, defs_.level, defs_.linear, &level);
        fail_ += AafAddControlPoint(file_, level, AafRational{0, 1}, AafRational{0, 1});
        fail_ += AafAddControlPoint(file_, level, AafRational{1, 1}, AafRational{1, 1});
        fail_ += AafAddParameter(group, level);
        fail_ += AafCreateTransition(file_, session_.sound, length, cutPoint, group, &transition);
        fail_ += AafAppendComponent(sequence_, transition);
    }

    // The clip, wrapped in a gain effect for its static gain and in a second
    // one for its gain curve.
    void AppendClip(size_t e, int64_t len, int64_t src) {
        AafObject* segment = nullptr;
        fail_ += AafCreateSourceClip(file_, session_.sound, len, AafSourceRef{in_.masterIds[e], 1, src}, &segment);
        float g = ClipGain(in_.gains, e);
        if (std::fabs(double(g) - 1.0) > 0.001) {
            AafObject* amplitude = nullptr;
            segment = WrapInGain(segment, len);
            fail_ += AafCreateConstantValue(
                file_, defs_.amplitude,
                AafRational{RoundedNumerator(g, kAmplitudeDenominator), kAmplitudeDenominator}, &amplitude);
            fail_ += AafAddParameter(segment, amplitude);
        }
        if (e < in_.gainCurves.size() && in_.gainCurves[e].present) {
            AafObject* curve = nullptr;
            segment = WrapInGain(segment, len);
            fail_ += AafCreateVaryingValue(file_, defs_.amplitude, defs_.linear, &curve);
            const auto& points = in_.gainCurves[e].points;
            for (int k = 0; k < kAafGainCurvePoints; ++k)
                fail_ += AafAddControlPoint(file_, curve, AafRational{k, kAafGainCurvePoints - 1},
                                            CurvePointValue(points[size_t(k)]));
            fail_ += AafAddParameter(segment, curve);
        }
        fail_ += AafAppendComponent(sequence_, segment);
    }

    AafObject* WrapInGain(AafObject* input, int64_t len) {
        fail_ += EnsureGain(session_, defs_);
        AafObject* group = nullptr;
        fail_ += AafCreateOperationGroup(file_, session_.sound, len, defs_.gain, &group);
        fail_ += AafAppendInputSegment(group, input);
        return group;
    }

    AafSession& session_;
    AafFile& file_;
    Definitions& defs_;
    const ClipInputs& in_;
    AafObject* sequence_;
    AafFirstFailure fail_;

    int64_t cursor_ = 0;       // where the last clip ends: the sequence's length so far
    bool open_ = false;        // the last clip's tail is not written yet
    int64_t openStart_ = 0;    // the last clip's start
    int64_t openRoom_ = 0;     // the part of the last clip's tail a transition may cover
    int64_t openFadeOut_ = 0;
};

// --- Slot ids --------------------------------------------------------------------------------

constexpr uint32_t kTimecodeSlotId = 100;

uint32_t HighestSlotId(const AafObject* mob) {
    uint32_t highest = 0;
    if (const AafProperty* slots = AafFindProperty(mob, kAafPropMobSlots.pid))
        for (const AafObject* slot : slots->children) {
            size_t size = 0;
            const uint8_t* b = AafDataBytes(slot, kAafPropSlotId.pid, &size);
            if (b && size == 4)
                highest = std::max(highest, uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                                                uint32_t(b[3]) << 24);
        }
    return highest;
}

}  // namespace

// --- BuildAafComposition -----------------------------------------------------------------------

AafStatus BuildAafComposition(AafSession& session, const std::vector<AafMobId>& masterIds,
                              const std::vector<int64_t>& positions, const std::vector<int64_t>& lengths,
                              const std::vector<int64_t>& sourceOffsets, const std::vector<int32_t>& tracks,
                              const std::vector<std::string>& trackNames, int32_t sampleRate,
                              const std::vector<int32_t>& fadeIns, const std::vector<int32_t>& fadeOuts,
                              const std::vector<AafGainCurve>& gainCurves, const std::vector<float>& gains,
                              AafObject** composition) {
    if (!session.file || !composition) return AafStatus::NullArgument;
    *composition = nullptr;
    const size_t n = positions.size();
    if (masterIds.size() != n || lengths.size() != n || tracks.size() != n) return AafStatus::InvalidValue;
    AafFile& f = *session.file;
    const AafRational rate{sampleRate, 1};
    AafFirstFailure fail;

    AafObject* comp = nullptr;
    fail += AafCreateMob(f, AafMobKind::Composition, "Tessaloom Timeline", &comp);

    // The timecode track spans the session: up to the end of its last clip,
    // or a minute when there is none.
    int64_t sessionLength = 0;
    for (size_t i = 0; i < n; ++i)
        if (lengths[i] > 0) sessionLength = std::max(sessionLength, positions[i] + lengths[i]);
    if (sessionLength <= 0) sessionLength = int64_t(sampleRate) * 60;
    AafObject *timecode = nullptr, *slot = nullptr;
    fail += AafCreateTimecode(f, sessionLength, 0, 25, false, &timecode);
    fail += AafAppendTimelineSlot(f, comp, rate, timecode, kTimecodeSlotId, "TC", 0, &slot);
    fail += AafSetPhysicalTrackNumber(slot, 1);  // the primary timecode
    if (fail.status != AafStatus::Ok) return fail.status;

    // Entries by track, in ascending track order, each track in position order.
    std::map<int32_t, std::vector<size_t>> byTrack;
    for (size_t i = 0; i < n; ++i) byTrack[tracks[i]].push_back(i);
    Definitions defs;
    const ClipInputs in{masterIds, positions, lengths, sourceOffsets, fadeIns, fadeOuts, gainCurves, gains};
    uint32_t nextSlotId = 1, physicalTrack = 1;
    for (auto& [track, entries] : byTrack) {
        std::stable_sort(entries.begin(), entries.end(),
                         [&](size_t a, size_t b) { return positions[a] < positions[b]; });
        AafObject* sequence = nullptr;
        fail += AafCreateSequence(f, session.sound, &sequence);
        if (fail.status != AafStatus::Ok) return fail.status;
        TrackBuilder builder(session, defs, in, sequence);
        for (size_t e : entries) builder.Place(e);
        fail += builder.Finish();

        if (nextSlotId == kTimecodeSlotId) ++nextSlotId;
        const bool named = track >= 0 && size_t(track) < trackNames.size() && !trackNames[size_t(track)].empty();
        std::string name = named ? trackNames[size_t(track)] : "Track " + std::to_string(int64_t(track) + 1);
        fail += AafAppendTimelineSlot(f, comp, rate, sequence, nextSlotId++, name, 0, &slot);
        fail += AafSetPhysicalTrackNumber(slot, physicalTrack++);
        if (fail.status != AafStatus::Ok) return fail.status;
    }

    fail += AafAddMob(f, comp);
    if (fail.status == AafStatus::Ok) *composition = comp;
    return fail.status;
}

// --- AddAafMarkerSlot ---------------------------------------------------------------------------

AafStatus AddAafMarkerSlot(AafSession& session, AafObject* composition, const std::vector<AafMarker>& markers,
                           int32_t sampleRate) {
    if (!session.file || !composition) return AafStatus::NullArgument;
    AafFile& f = *session.file;
    std::vector<size_t> order(markers.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return markers[a].position < markers[b].position; });
    AafFirstFailure fail;
    AafObject* sequence = nullptr;
    fail += AafCreateSequence(f, session.sound, &sequence);
    for (size_t i : order) {
        if (markers[i].position < 0) continue;
        AafObject* marker = nullptr;
        fail += AafCreateDescriptiveMarker(f, session.sound, markers[i].position, markers[i].label, &marker);
        fail += AafAppendComponent(sequence, marker);
    }
    if (fail.status != AafStatus::Ok) return fail.status;
    // After the highest slot id, so that it can clash with neither the
    // timecode slot nor a track.
    return AafAppendEventSlot(f, composition, AafRational{sampleRate, 1}, sequence, HighestSlotId(composition) + 1,
                              nullptr);
}
