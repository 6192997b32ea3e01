// recording_check.cpp — a sink's recording against the mix it should hold.
//
// Index
//   Frames           Frame, SameFrame, Holds, FadesIn, RunLength, Audible, Silent
//   Summary
//   Edits' stretches  CrossEdit: the walk through a stretch where an edit worked
//   CheckRecording / CheckRecordingAcrossEdits
//                    the walk along the mix: agreement, the server's stretches,
//                    the program's silent blocks, the edits' stretches, the share compared
#include "support/recording_check.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

constexpr int64_t kMatchFrames = 2048;
constexpr float kSameSample = 1e-4f;
constexpr float kAudible = 1e-3f;
// The mixer fades a block in over 5 ms after one it left silent (240 frames
// at 48 kHz); a little more for other rates.
constexpr int64_t kFadeInFrames = 256;
// After a gap the server may drop some of what was waiting: never more than
// a second beyond the gap's own length (its buffers hold a few blocks of
// tens of milliseconds).
constexpr int64_t kMostDropped = 48000;
// Where the recording holds the mix at several places after a gap (a
// constant or repeated stretch of the mix), the place whose agreement runs
// longest, looked at this far: past the longest such stretch a test mix
// holds (0.3 s).
constexpr int64_t kRunLook = 24000;
// Fewer frames than this between two of the server's stretches cannot place
// the recording in the mix: the two are left out as one.
constexpr int64_t kLeastAlign = 256;

float Frame(const std::vector<float>& v, int64_t frame, int side) { return v[size_t(2 * frame + side)]; }

bool SameFrame(const std::vector<float>& heard, int64_t h, const std::vector<float>& mix, int64_t m) {
    return std::fabs(Frame(heard, h, 0) - Frame(mix, m, 0)) <= kSameSample &&
           std::fabs(Frame(heard, h, 1) - Frame(mix, m, 1)) <= kSameSample;
}

// Whether heard[h ..] holds mix[m ..] for `most` frames (or to the end of either).
bool Holds(const std::vector<float>& heard, const std::vector<float>& mix, int64_t h, int64_t m,
           int64_t most = kMatchFrames) {
    const int64_t n = std::min<int64_t>({most, int64_t(heard.size() / 2) - h, int64_t(mix.size() / 2) - m});
    if (h < 0 || m < 0 || n < 1) return false;
    for (int64_t k = 0; k < n; ++k)
        if (!SameFrame(heard, h + k, mix, m + k)) return false;
    return true;
}

// Whether heard[h ..] rises to mix[m ..] over kFadeInFrames frames: never
// louder than the mix, as a gain from 0 to 1 leaves it.
bool FadesIn(const std::vector<float>& heard, const std::vector<float>& mix, int64_t h, int64_t m) {
    if (h < 0 || m < 0 || h + kFadeInFrames > int64_t(heard.size() / 2) || m + kFadeInFrames > int64_t(mix.size() / 2))
        return false;
    for (int64_t k = 0; k < kFadeInFrames; ++k)
        for (int side = 0; side < 2; ++side)
            if (std::fabs(Frame(heard, h + k, side)) > std::fabs(Frame(mix, m + k, side)) + kSameSample) return false;
    return true;
}

// How many frames from (h, m) on agree, at most `most`.
int64_t RunLength(const std::vector<float>& heard, const std::vector<float>& mix, int64_t h, int64_t m, int64_t most) {
    const int64_t n = std::min<int64_t>({most, int64_t(heard.size() / 2) - h, int64_t(mix.size() / 2) - m});
    int64_t k = 0;
    while (k < n && SameFrame(heard, h + k, mix, m + k)) ++k;
    return k;
}

bool Audible(const std::vector<float>& v, int64_t frame) {
    return std::fabs(Frame(v, frame, 0)) > kAudible || std::fabs(Frame(v, frame, 1)) > kAudible;
}

// Exact zeros in both channels.
bool Silent(const std::vector<float>& v, int64_t frame) { return Frame(v, frame, 0) == 0.0f && Frame(v, frame, 1) == 0.0f; }

// Whether the mix has sound anywhere in [from, to): an audible frame, or one
// no export covers (NaN), or a frame past its end.
bool MixSounds(const std::vector<float>& mix, int64_t from, int64_t to) {
    const int64_t total = int64_t(mix.size() / 2);
    if (from < 0 || to > total) return true;
    for (int64_t m = from; m < to; ++m)
        for (int side = 0; side < 2; ++side) {
            const float x = Frame(mix, m, side);
            if (std::isnan(x) || std::fabs(x) > kAudible) return true;
        }
    return false;
}

std::string Seconds(int64_t frames, int rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", double(frames) / rate);
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Summary
// ---------------------------------------------------------------------------

std::string RecordingCheck::Summary() const {
    char text[256];
    std::snprintf(text, sizeof text,
                  "compared %.2f of %.2f s of the span (%.0f %%); left out %d stretches where the server logged "
                  "underruns; came back from %d silent blocks of the program",
                  double(comparedFrames) / rate, double(spanFrames) / rate, 100.0 * ComparedShare(), skippedStretches,
                  jumps);
    return text;
}

// ---------------------------------------------------------------------------
// CheckRecording / CheckRecordingAcrossEdits
// ---------------------------------------------------------------------------

namespace {

// Where the walk may take the recording up again after an edit's stretch:
// this many points, kRealignStep frames apart, from the stretch's end, where
// the recording holds kRealignFrames frames of the mix with sound in them
// (short, so that a silent block just after the stretch is met by the walk
// that follows, which counts it).
constexpr int kRealignPoints = 16;
constexpr int64_t kRealignStep = 256;
constexpr int64_t kRealignFrames = 256;
// Frames of a silent block's run that may belong to the fade-in after it
// (its first frames are exact zeros too).
constexpr int64_t kRunSlack = 8;

RecordingCheck Walk(const std::vector<float>& heard, const std::vector<float>& mix, int64_t mixFrom, int64_t frames,
                    int64_t start, const std::vector<HeardStretch>& serverStretches, int silentBlocks,
                    const std::vector<MixStretch>& edits, int blockFrames, int rate) {
    RecordingCheck check;
    check.rate = rate;
    const int64_t heardFrames = int64_t(heard.size() / 2), mixEnd = std::min(int64_t(mix.size() / 2), mixFrom + frames);
    check.spanFrames = std::max<int64_t>(0, mixEnd - mixFrom);
    for (const MixStretch& e : edits)
        check.editFrames += std::max<int64_t>(0, std::min(e.to, mixEnd) - std::max(e.from, mixFrom));
    check.spanFrames -= check.editFrames;
    blockFrames = std::max(blockFrames, 1);
    // `start` is found by the first audible frame: a frame or two off at most.
    for (int64_t d = 0; d <= 64; ++d) {
        if (Holds(heard, mix, start + d, mixFrom)) {
            start += d;
            break;
        }
        if (Holds(heard, mix, start - d, mixFrom)) {
            start -= d;
            break;
        }
    }
    int64_t offset = start - mixFrom;  // heard frame = mix frame + offset
    std::string stretchList;
    for (const HeardStretch& s : serverStretches)
        stretchList += (stretchList.empty() ? "" : ", ") + Seconds(s.from, rate) + " to " + Seconds(s.to, rate);
    auto fail = [&](const std::string& what, int64_t m) {
        check.problem = what + " at mix frame " + std::to_string(m) + " (" + Seconds(m, rate) + "; recording frame " +
                        std::to_string(m + offset) + "); the server's underruns: " +
                        (stretchList.empty() ? std::string("none") : stretchList + " of the recording");
        return check;
    };
    size_t next = 0;  // the first of the server's stretches not yet behind the walk
    size_t nextEdit = 0;  // the first of the edits' stretches not yet behind the walk

    // Through the edit's stretch that m lies in: its silences counted, then
    // the recording taken up again after it. False when it failed.
    std::string crossProblem;
    int64_t crossAt = 0;
    auto crossEdit = [&](const MixStretch& e, int64_t& m) {
        const int64_t to = std::min(e.to, mixEnd);
        const int64_t m0 = m;
        int64_t h = m + offset, hEnd = to + offset;
        int64_t silence = 0, serverFrames = 0;
        auto problem = [&](const std::string& what, int64_t at) {
            crossProblem = what + " (an edit's stretch, mix frames " + std::to_string(e.from) + " to " +
                           std::to_string(e.to) + ")";
            crossAt = at;
            return false;
        };
        while (h < hEnd) {
            if (h < 0 || h >= heardFrames) {
                check.shortRecording = h >= heardFrames;
                return problem("the recording ends", h - offset);
            }
            while (next < serverStretches.size() && serverStretches[next].to <= h) ++next;
            if (next < serverStretches.size() && serverStretches[next].from <= h) {
                const int64_t length = serverStretches[next].to - h;
                serverFrames += length;
                hEnd += length;
                h = serverStretches[next].to;
                ++check.skippedStretches;
                continue;
            }
            if (!Silent(heard, h)) {
                ++h;
                continue;
            }
            int64_t z = h;
            while (z < heardFrames && Silent(heard, z)) ++z;
            // Silence that runs into the server's stretch is that stretch's.
            if (next < serverStretches.size() && z > serverStretches[next].from) z = serverStretches[next].from;
            const int64_t run = z - h;
            // Where the mix was meanwhile: the recording's silences so far held it back.
            const int64_t mixAt = std::max(m0, h - offset - silence);
            // Silence where the mix has none is the mix's own.
            if (MixSounds(mix, mixAt, std::min(mixAt + run, int64_t(mix.size() / 2)))) {
                if (run > blockFrames) {
                    const int blocks = int((run - kRunSlack + blockFrames - 1) / blockFrames);
                    if (check.jumps + blocks > silentBlocks)
                        return problem("a silence of " + Seconds(run, rate) +
                                           " where the mix has sound, more than the program's silent blocks "
                                           "account for",
                                       mixAt);
                    check.jumps += blocks;
                }
                silence += run;
                hEnd += run;
            }
            h = z;
        }
        if (to >= mixEnd) {
            m = to;
            return true;
        }
        // Taken up again at the stretch's end or a little after it (a fade-in
        // may follow a silent block): held back by no more than the silences
        // and the server's stretches met, and ahead only by what the server
        // may have dropped.
        const int64_t lowest = offset - (serverFrames > 0 ? kMostDropped : 0);
        const int64_t highest = offset + silence + serverFrames + 64;
        for (int k = 0; k < kRealignPoints; ++k) {
            const int64_t p = to + k * kRealignStep;
            if (p + kRealignFrames > mixEnd) break;
            if (!MixSounds(mix, p, p + kRealignFrames)) continue;
            for (int64_t o = offset; o <= highest; ++o)
                if (Holds(heard, mix, p + o, p, kRealignFrames)) {
                    offset = o;
                    m = p;
                    return true;
                }
            for (int64_t o = offset - 1; o >= lowest; --o)
                if (Holds(heard, mix, p + o, p, kRealignFrames)) {
                    offset = o;
                    m = p;
                    return true;
                }
        }
        // Where it does hold the mix again, for the message.
        for (int64_t d = 1; d <= int64_t(rate); ++d) {
            if (Holds(heard, mix, to + highest + d, to))
                return problem("the recording holds the mix again " + Seconds(d, rate) +
                                   " later than its silences allow (a stretch heard twice)",
                               to);
            if (to + d < int64_t(mix.size() / 2) && Holds(heard, mix, to + lowest, to + d))
                return problem("the recording holds the mix again " + Seconds(d, rate) + " too soon (a stretch skipped)",
                               to);
        }
        return problem("the recording does not hold the mix again after the stretch", to);
    };

    for (int64_t m = mixFrom; m < mixEnd;) {
        while (nextEdit < edits.size() && edits[nextEdit].to <= m) ++nextEdit;
        if (nextEdit < edits.size() && edits[nextEdit].from <= m) {
            if (!crossEdit(edits[nextEdit++], m)) return fail(crossProblem, crossAt);
            continue;
        }
        const int64_t h = m + offset;
        while (next < serverStretches.size() && serverStretches[next].to <= h) ++next;
        if (h < 0 || h >= heardFrames) {
            check.shortRecording = h >= heardFrames;
            return fail("the recording ends", m);
        }
        const bool inStretch = next < serverStretches.size() && serverStretches[next].from <= h;
        if (!inStretch && SameFrame(heard, h, mix, m)) {
            for (int side = 0; side < 2; ++side)
                check.largest = std::max(check.largest, double(std::fabs(Frame(mix, m, side))));
            ++check.comparedFrames;
            ++m;
            continue;
        }
        // Exact silence where the mix is not, running into one of the
        // server's stretches, is the start of that stretch.
        int64_t zeros = h;
        while (zeros < heardFrames && Frame(heard, zeros, 0) == 0.0f && Frame(heard, zeros, 1) == 0.0f) ++zeros;
        if (inStretch || (next < serverStretches.size() && zeros > serverStretches[next].from)) {
            // Left out. Past it, through any silence (nothing to align by),
            // the recording must hold the mix again from where the walk left
            // it or later: as far as the stretch and the silence could have
            // played, and what the server may have dropped.
            const HeardStretch& s = serverStretches[next];
            ++check.skippedStretches;
            int64_t after = std::max(s.to, h), sound = after, room = 0;
            for (size_t last = next;; ++last) {
                if (after >= heardFrames) {
                    check.shortRecording = true;
                    return fail("the recording ends within the server's underrun", m);
                }
                sound = after;
                while (sound < heardFrames && !Audible(heard, sound)) ++sound;
                const bool more = last + 1 < serverStretches.size();
                room = (more ? serverStretches[last + 1].from : heardFrames) - sound;
                if (room >= kLeastAlign || !more) break;
                after = std::max(after, serverStretches[last + 1].to);
                ++check.skippedStretches;
            }
            const int64_t align = std::min(kMatchFrames, room);
            if (align < kLeastAlign) {
                check.shortRecording = true;
                return fail("the recording ends in silence after the server's underrun", m);
            }
            const int64_t mixTotal = int64_t(mix.size() / 2);
            const int64_t highest = std::min(mixTotal - 1, m + (sound - h) + kMostDropped);
            int64_t best = -1, bestRun = 0;
            for (int64_t later = m; later <= highest; ++later) {
                if (!Holds(heard, mix, sound, later, align)) continue;
                const int64_t run = RunLength(heard, mix, sound, later, kRunLook);
                if (run > bestRun) best = later, bestRun = run;
            }
            // The rest of the span went by within the stretch.
            if (best >= mixEnd) break;
            if (best < 0)
                return fail("the recording does not come back to the mix after the server's underrun (" +
                                Seconds(s.from, rate) + " to " + Seconds(s.to, rate) + " of the recording)",
                            m);
            offset = sound - best;
            m = std::max(m, after - offset);
            continue;
        }
        // Only exact silence may stand in for the mix: the program's own
        // silent block, followed by a fade-in no longer than its mixer's.
        if (zeros == h) return fail("the recording differs from the mix", m);
        if (check.jumps >= silentBlocks)
            return fail("a gap in the recording that neither the server's underruns nor the program's silent blocks "
                        "account for",
                        m);
        // Held briefly past the fade: another silent block may follow a
        // block later (the walk meets and counts it).
        int64_t resumed = -1;
        for (int64_t later = m; later <= m + (zeros - h) + kMostDropped && later < mixEnd && resumed < 0; ++later)
            if (Holds(heard, mix, zeros + kFadeInFrames, later + kFadeInFrames, kRealignFrames) &&
                FadesIn(heard, mix, zeros, later))
                resumed = later;
        if (resumed < 0) {
            check.shortRecording = zeros + kFadeInFrames + kMatchFrames > heardFrames;
            return fail("the recording does not come back to the mix after a gap", m);
        }
        ++check.jumps;
        offset = zeros - resumed;
        m = resumed + kFadeInFrames;
    }
    if (2 * check.comparedFrames < check.spanFrames) {
        check.problem = "compared only " + Seconds(check.comparedFrames, rate) + " of the " +
                        Seconds(check.spanFrames, rate) + " span: too little to pass; the server's underruns: " +
                        (stretchList.empty() ? std::string("none") : stretchList + " of the recording");
        return check;
    }
    check.ok = true;
    return check;
}

}  // namespace

RecordingCheck CheckRecording(const std::vector<float>& heard, const std::vector<float>& mix, int64_t mixFrom,
                              int64_t frames, int64_t start, const std::vector<HeardStretch>& serverStretches,
                              int silentBlocks, int rate) {
    return Walk(heard, mix, mixFrom, frames, start, serverStretches, silentBlocks, {}, 1, rate);
}

RecordingCheck CheckRecordingAcrossEdits(const std::vector<float>& heard, const std::vector<float>& mix,
                                         int64_t mixFrom, int64_t frames, int64_t start,
                                         const std::vector<HeardStretch>& serverStretches, int silentBlocks,
                                         const std::vector<MixStretch>& edits, int blockFrames, int rate) {
    return Walk(heard, mix, mixFrom, frames, start, serverStretches, silentBlocks, edits, blockFrames, rate);
}

std::vector<float> ReadStereoFile(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) return {};
    std::vector<float> samples;
    if (info.channels == 2) {
        samples.resize(size_t(info.frames) * 2);
        samples.resize(size_t(sf_readf_float(file, samples.data(), info.frames)) * 2);
    }
    sf_close(file);
    return samples;
}

int64_t FirstAudibleFrame(const std::vector<float>& interleaved, float threshold, int64_t from) {
    for (size_t i = size_t(2 * std::max<int64_t>(from, 0)); i < interleaved.size(); ++i)
        if (std::fabs(interleaved[i]) > threshold) return int64_t(i / 2);
    return -1;
}
