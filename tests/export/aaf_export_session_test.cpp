// End to end: projects rendered from generated sounds and the demo, exported
// as AAF sessions through the export job, read back by the stored-format
// reader, by pyaaf2 and by LibAAF's aaftool. Every clip resolves through
// master mob, file source mob, WAVE descriptor and locator to a WAV whose
// ffprobe facts agree with the clip and the descriptor's summary; positions,
// lengths, source offsets, fades, gains and markers are the clip list's in
// both readers, and the clip list is the project's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "demo_content/demo_generator.h"
#include "document/event.h"
#include "document/text_util.h"
#include "export/aaf_export.h"
#include "export/aaf_session_fixtures.h"
#include "export/aaf_test_tools.h"
#include "export/bwf_readback.h"
#include "library/sound_analysis.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/export_job.h"
#include "operations/render_job.h"
#include "persistence/project_load.h"
#include "playback/audio_engine.h"
#include "support/document_records.h"
#include "support/generated_demo.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr double kStartSeconds = 3599.5;  // the project starts at 00:59:59:12 (at 25 fps)

struct RenderedProject : DocumentRecords {
    TempDir dir;

    const int rate;

    // Mono and stereo sounds, one of them at another rate than the project;
    // every shape, a Clip and a Bed of pinned files; rendered at `projectRate`
    // with voices as the render job leaves them. `variety` names the sounds in
    // Unicode and makes the Clip's a 6-channel file.
    explicit RenderedProject(int projectRate = 48000, bool variety = false) : rate(projectRate) {
        std::vector<BurstSound> sounds;
        for (int i = 0; i < 8; ++i) {
            BurstSound s;
            s.name = (variety ? "Bruit d'été ☂ " : "sound") + std::to_string(i);
            s.seconds = 1.5 + 0.4 * i;
            s.channels = variety && i == 3 ? 6 : 1 + i % 2;
            s.sampleRate = i == 3 ? (rate == 44100 ? 48000 : 44100) : rate;
            for (int b = 0; b < 3; ++b)
                s.bursts.push_back(Burst{0.05 + 0.45 * b, 0.4, 0.6, i % 3 ? 220.0 * (i + 1) : 0.0, 0.005, 0.05});
            sounds.push_back(s);
        }
        library->libraries.push_back(MakeBurstLibrary(dir.path(), "Generated", sounds));
        const std::vector<LibraryEntry>& entries = library->libraries[0].entries;

        project->totalDuration = 30.0f;
        project->startTC = float(kStartSeconds);
        app->projectSampleRate = rate;
        engine->sampleRate = rate;
        const int shapes[] = {kShapeSpot, kShapeBloom, kShapeContour, kShapeFill, kShapeScatter};
        for (int k = 0; k < 5; ++k) AddEvent(*project, 1.0f + 4.5f * float(k), shapes[k], 0.15f + 0.17f * float(k));
        CopyTextField(project->events[0].keywords, variety ? "porte claquée 🚪" : "door slam");
        project->events[3].duration = 5.0f;
        const int clip = AddEvent(*project, 24.0f, kShapeClip, 0.5f);
        CopyTextField(project->events[size_t(clip)].pinnedFile, entries[3].path);  // the 44.1 kHz sound
        project->events[size_t(clip)].clipSourceOffset = 0.3f;
        project->events[size_t(clip)].clipSourceDuration = 1.0f;
        const int bed = AddEvent(*project, 26.0f, kShapeBed, 0.5f);
        project->events[size_t(bed)].duration = 3.0f;
        for (int i : {4, 5}) {
            project->events[size_t(bed)].pinnedFiles.push_back(entries[size_t(i)].path);
            project->events[size_t(bed)].pinnedFileIds.push_back("");
            project->events[size_t(bed)].bedLayerLoop.push_back(1);
            project->events[size_t(bed)].bedLayerWeight.push_back(-1);
        }
        project->events[size_t(bed)].hasPinnedFiles = true;

        RenderAllEvents(MakeDocumentContext(*project, *library, *engine, *app), -1, -1);
        engine->reverb.enabled = 1;
        app->exportSettings.exportFormatAAF = true;
        app->exportSettings.exportFormatWAV = false;
        app->exportSettings.exportAAFMarkers = true;
        app->exportSettings.exportAAFVolAuto = true;
        app->exportSettings.exportReverbStem = true;
    }
};

// Entries of one AAF track sorted by position, with whether each overlaps
// the next (a crossfade) or is overlapped by the one before.
struct TrackOrder {
    std::vector<size_t> entries;
    std::vector<bool> overlapsNext, overlappedByPrevious;
};

TrackOrder OrderOfTrack(const AafClipList& l, int32_t track) {
    TrackOrder o;
    for (size_t i = 0; i < l.tracks.size(); ++i)
        if (l.tracks[i] == track) o.entries.push_back(i);
    std::stable_sort(o.entries.begin(), o.entries.end(),
                     [&l](size_t a, size_t b) { return l.positions[a] < l.positions[b]; });
    const size_t n = o.entries.size();
    o.overlapsNext.assign(n, false);
    o.overlappedByPrevious.assign(n, false);
    for (size_t k = 0; k + 1 < n; ++k) {
        const size_t a = o.entries[k], b = o.entries[k + 1];
        if (l.positions[b] > l.positions[a] && l.positions[b] < l.positions[a] + l.lengths[a])
            o.overlapsNext[k] = o.overlappedByPrevious[k + 1] = true;
    }
    return o;
}

double RationalValue(const std::string& text) {
    long long n = 0, d = 1;
    if (std::sscanf(text.c_str(), "%lld/%lld", &n, &d) != 2 || d == 0) return NAN;
    return double(n) / double(d);
}

// How much of the session the comparison saw.
struct SessionChecks {
    int fadeIns = 0, crossfades = 0, fadeOuts = 0, curves = 0, gains = 0, cutHeads = 0;
};

// What ffprobe and libsndfile read of a clip's essence file, probed once
// per file: the descriptor's summary, the rate, and the time reference where
// the clip's first source sample lies.
void ExpectEssenceFile(std::map<std::string, ProbeReadBack>& probes, const std::string& path,
                       const WaveSummaryFacts& summary, const AafClipList& l, size_t i, int rate) {
    auto probed = probes.find(path);
    if (probed == probes.end()) {
        probed = probes.emplace(path, ProbeWav(path)).first;
        EXPECT_EQ(ReadBwfFile(path).frames, l.fileLengths[i]);
    }
    const ProbeReadBack& probe = probed->second;
    ASSERT_TRUE(probe.ok) << probe.message;
    EXPECT_EQ(probe.sampleRate, rate);
    EXPECT_EQ(uint32_t(probe.sampleRate), summary.sampleRate);
    EXPECT_EQ(probe.channels, 1);
    EXPECT_EQ(probe.channels, summary.channels);
    EXPECT_EQ(probe.bits, 24);
    EXPECT_EQ(probe.bits, summary.bits);
    if (l.essenceNames[i].find("_src_") == std::string::npos) {
        EXPECT_EQ(probe.timeReference, l.positions[i] - l.sourceOffsets[i]);
    }
}

// The clip list against the session as pyaaf2 reads it. With `probeFiles`, each
// file is probed once, however many clips it holds.
void ExpectSessionIsTheList(const AafClipList& l, const ReadSession& s, int rate, bool probeFiles, SessionChecks& seen) {
    std::map<std::string, ProbeReadBack> probes;
    EXPECT_EQ(s.topLevel, std::vector<std::string>{"Tessaloom Timeline"});
    std::map<std::string, int> paths;
    for (const std::string& p : l.essencePaths) ++paths[p];
    EXPECT_EQ(s.mobCounts.at("MasterMob"), int(paths.size()));
    EXPECT_EQ(s.mobCounts.at("SourceMob"), int(paths.size()));

    std::vector<int32_t> trackValues(l.tracks.begin(), l.tracks.end());
    std::sort(trackValues.begin(), trackValues.end());
    trackValues.erase(std::unique(trackValues.begin(), trackValues.end()), trackValues.end());
    const std::vector<const ReadSlot*> slots = FindSoundSlots(s);
    ASSERT_EQ(slots.size(), trackValues.size());

    size_t matched = 0;
    for (size_t t = 0; t < slots.size(); ++t) {
        const int32_t track = trackValues[t];
        SCOPED_TRACE("track " + std::to_string(track));
        EXPECT_EQ(slots[t]->name, l.trackNames.at(size_t(track)));
        const TrackOrder order = OrderOfTrack(l, track);
        const std::vector<ReadComponent>& c = slots[t]->components;
        size_t k = 0;  // the next entry of the track in position order
        for (size_t at = 0; at < c.size(); ++at) {
            if (c[at].kind != "Clip") continue;
            ASSERT_LT(k, order.entries.size()) << "more clips than entries";
            const size_t i = order.entries[k];
            const ReadEssence& e = c[at].essence;
            SCOPED_TRACE(l.essenceNames[i]);
            EXPECT_EQ(e.masterName, l.essenceNames[i]);
            EXPECT_EQ(e.path, l.essencePaths[i]);
            // A clip lies where its entry says. Only a clip that reaches back
            // further into the one before than that one has room to crossfade
            // is cut at its head; it still plays each source sample at the
            // entry's instant and ends where the entry ends.
            const int64_t end = l.positions[i] + l.lengths[i];
            EXPECT_EQ(c[at].position + c[at].length, end);
            EXPECT_EQ(c[at].position - c[at].start, l.positions[i] - l.sourceOffsets[i]);
            if (c[at].position != l.positions[i]) {
                EXPECT_TRUE(order.overlappedByPrevious[k]);
                ++seen.cutHeads;
            }

            // Master mob -> file source mob -> WAVE descriptor -> locator -> the WAV.
            EXPECT_EQ(s.masterSources.at(e.masterId), e.sourceId);
            EXPECT_EQ(e.sourceName, e.masterName);
            EXPECT_EQ(e.descriptor, "WAVEDescriptor");
            EXPECT_EQ(e.sampleRate, std::to_string(rate) + "/1");
            EXPECT_EQ(e.length, l.fileLengths[i]);
            ASSERT_TRUE(e.exists) << e.path;
            const WaveSummaryFacts summary = ParseWaveSummary(e.summary);
            ASSERT_TRUE(summary.ok);
            EXPECT_EQ(summary.dataSize, uint32_t(e.length * 3));
            if (probeFiles) ExpectEssenceFile(probes, e.path, summary, l, i, rate);

            // Fades and crossfades as dissolves around the clip. No
            // transition covers more of a clip than the one before it left.
            const int64_t half = c[at].length / 2;
            const int64_t head = at >= 1 && c[at - 1].kind == "Transition" ? c[at - 1].length : 0;
            if (!order.overlappedByPrevious[k] && l.fadeIns[i] > 0) {
                ASSERT_GE(at, 1u);
                EXPECT_EQ(c[at - 1].kind, "Transition");
                EXPECT_EQ(c[at - 1].length, std::min<int64_t>(l.fadeIns[i], half));
                EXPECT_EQ(c[at - 1].cutPoint, 0);
                ++seen.fadeIns;
            }
            if (order.overlapsNext[k]) {
                const int64_t overlap = end - l.positions[order.entries[k + 1]];
                ASSERT_LT(at + 1, c.size());
                EXPECT_EQ(c[at + 1].kind, "Transition");
                EXPECT_EQ(c[at + 1].length, std::min(overlap, c[at].length - head));
                EXPECT_EQ(c[at + 1].cutPoint, c[at + 1].length / 2);
                ++seen.crossfades;
            } else if (std::min<int64_t>({l.fadeOuts[i], half, c[at].length - head}) > 0) {
                ASSERT_LT(at + 2, c.size());
                EXPECT_EQ(c[at + 1].kind, "Transition");
                EXPECT_EQ(c[at + 1].length, std::min<int64_t>({l.fadeOuts[i], half, c[at].length - head}));
                EXPECT_EQ(c[at + 1].cutPoint, c[at + 1].length);
                EXPECT_EQ(c[at + 2].kind, "Filler");
                ++seen.fadeOuts;
            }

            // The curve wraps the constant gain: outermost first.
            size_t g = 0;
            if (l.gainCurves[i].present) {
                ASSERT_GT(c[at].gains.size(), g);
                const ReadGain& curve = c[at].gains[g++];
                ASSERT_EQ(curve.points.size(), size_t(kAafGainCurvePoints));
                for (int p = 0; p < kAafGainCurvePoints; ++p)
                    EXPECT_NEAR(RationalValue(curve.points[size_t(p)].second), l.gainCurves[i].points[size_t(p)],
                                0.0006);
                ++seen.curves;
            }
            if (std::fabs(l.gains[i] - 1.0f) > 0.001f) {
                ASSERT_GT(c[at].gains.size(), g);
                EXPECT_NEAR(RationalValue(c[at].gains[g++].value), std::min(l.gains[i], 25.0f), 1e-6);
                ++seen.gains;
            }
            EXPECT_EQ(c[at].gains.size(), g);
            ++k;
            ++matched;
        }
        EXPECT_EQ(k, order.entries.size()) << "entries without a clip";
    }
    EXPECT_EQ(matched, l.essencePaths.size());

    const ReadSlot& markerSlot = s.slots.back();
    ASSERT_EQ(markerSlot.kind, "EventMobSlot");
    std::vector<std::pair<int64_t, std::string>> want, got;
    for (const AafMarker& m : l.markers) want.emplace_back(m.position, m.label);
    for (const ReadMarker& m : markerSlot.markers) got.emplace_back(m.position, m.comment);
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
}

// --- The second reader -----------------------------------------------------------

// pyaaf2's components of a track in order, and what aaftool lists of the same
// track: every clip at the same place with the same source offset, fades,
// crossfades, gain and gain curve.
void ExpectTrackReadAlike(const ReadSlot& slot, const AaftoolReadBack& tool, int track) {
    std::vector<const AaftoolClip*> clips;
    for (const AaftoolClip& c : tool.clips)
        if (c.track == track) clips.push_back(&c);
    std::vector<const AaftoolCrossfade*> crossfades;
    for (const AaftoolCrossfade& x : tool.crossfades)
        if (x.track == track) crossfades.push_back(&x);
    const std::vector<ReadComponent>& c = slot.components;
    size_t k = 0, x = 0;
    for (size_t at = 0; at < c.size(); ++at) {
        if (c[at].kind == "Transition") {
            const bool between = at > 0 && at + 1 < c.size() && c[at - 1].kind == "Clip" && c[at + 1].kind == "Clip";
            if (!between) continue;
            ASSERT_LT(x, crossfades.size()) << "aaftool lists fewer crossfades";
            EXPECT_EQ(crossfades[x]->length, c[at].length);
            EXPECT_EQ(crossfades[x]->cutPoint, c[at].cutPoint);
            ++x;
            continue;
        }
        if (c[at].kind != "Clip") continue;
        ASSERT_LT(k, clips.size()) << "aaftool lists fewer clips";
        const AaftoolClip& t = *clips[k++];
        SCOPED_TRACE(c[at].essence.masterName);
        EXPECT_EQ(t.start, c[at].position);
        EXPECT_EQ(t.length, c[at].length);
        EXPECT_EQ(t.sourceOffset, c[at].start);
        EXPECT_EQ(t.file, c[at].essence.masterName);
        const bool fadeIn = at > 0 && c[at - 1].kind == "Transition" && (at < 2 || c[at - 2].kind != "Clip");
        const bool fadeOut = at + 1 < c.size() && c[at + 1].kind == "Transition" &&
                             (at + 2 >= c.size() || c[at + 2].kind != "Clip");
        EXPECT_EQ(t.fadeIn, fadeIn ? c[at - 1].length : 0);
        EXPECT_EQ(t.fadeOut, fadeOut ? c[at + 1].length : 0);
        const ReadGain* constant = nullptr;
        const ReadGain* curve = nullptr;
        for (const ReadGain& g : c[at].gains) (g.points.empty() ? constant : curve) = &g;
        EXPECT_EQ(t.hasGain, constant != nullptr);
        if (constant) {
            EXPECT_NEAR(t.gainDb, 20.0 * std::log10(RationalValue(constant->value)), 0.051);
        }
        EXPECT_EQ(t.automation, curve != nullptr);
        if (curve) {
            ASSERT_EQ(t.points.size(), curve->points.size());
            for (size_t p = 0; p < t.points.size(); ++p) {
                EXPECT_NEAR(t.points[p].first, RationalValue(curve->points[p].first), 1e-6);
                EXPECT_NEAR(t.points[p].second, RationalValue(curve->points[p].second), 1e-6);
            }
        }
    }
    EXPECT_EQ(k, clips.size()) << "aaftool lists more clips";
    EXPECT_EQ(x, crossfades.size()) << "aaftool lists more crossfades";
}

// Both readers open the session without a complaint and agree with each other
// and with the clip list on every track, clip and marker.
// `deep` adds our stored-format reader, pyaaf2's walk of every object and
// property, and a probe of every essence file.
void ExpectBothReadersAgree(const AafClipList& list, const std::string& aafPath, int rate, bool deep,
                            SessionChecks* saw = nullptr) {
    if (deep) {
        const AafReadBack stored = ReadStoredObjects(aafPath);
        ASSERT_TRUE(stored.ok) << stored.message;
        const AafReadBack oracle = ReadWithOracle(aafPath);
        ASSERT_TRUE(oracle.ok) << oracle.message;
    }
    std::string why;
    const std::vector<ReadSession> read = ReadSessions({aafPath}, &why);
    ASSERT_EQ(read.size(), 1u) << why;
    SessionChecks seen;
    ExpectSessionIsTheList(list, read[0], rate, deep, seen);
    EXPECT_GT(seen.fadeIns + seen.fadeOuts, 0);
    if (saw) *saw = seen;

    const AaftoolReadBack tool = ReadWithAaftool(aafPath);
    ASSERT_TRUE(tool.ok) << tool.message;
    EXPECT_EQ(tool.errors, std::vector<std::string>{});
    const std::vector<const ReadSlot*> slots = FindSoundSlots(read[0]);
    ASSERT_EQ(tool.trackNames.size(), slots.size());
    size_t clips = 0;
    for (size_t t = 0; t < slots.size(); ++t) {
        SCOPED_TRACE("track " + slots[t]->name);
        EXPECT_EQ(tool.trackNames[t], slots[t]->name);
        ExpectTrackReadAlike(*slots[t], tool, int(t) + 1);
        for (const ReadComponent& c : slots[t]->components) clips += c.kind == "Clip";
    }
    EXPECT_EQ(clips, list.essencePaths.size());
    EXPECT_EQ(tool.clips.size(), list.essencePaths.size());

    std::vector<std::pair<int64_t, std::string>> want, got;
    for (const AafMarker& m : list.markers) want.emplace_back(m.position, m.label);
    for (const AaftoolMarker& m : tool.markers) {
        got.emplace_back(m.start, m.comment);
        EXPECT_EQ(m.length, 0);
    }
    std::sort(want.begin(), want.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, want);
}

// --- Exports ----------------------------------------------------------------------

struct Exported {
    ExportReport report;
    AafClipList list;
    std::string aafPath;
};

// The export job with the program's AAF step, the clip list captured on its
// way to the session writer.
Exported ExportThroughTheJob(Project& project, AudioEngine& engine, AppState& app, const std::string& chosen) {
    Exported out;
    ExportJob job = MakeExportJob(app, project, engine, chosen);
    ExportContext ctx;
    ctx.project = &project;
    ctx.engine = &engine;
    ctx.app = &app;
    ctx.aafStep = [&out](const ExportJob& j, const Project& p, const AudioEngine& e) {
        const AafSessionWriter program = ProgramAafSessionWriter();
        return WriteAafExport(j, p, e, [&](const std::string& path, const AafClipList& l, int32_t rate, bool ext) {
            out.list = l;
            out.aafPath = path;
            return program(path, l, rate, ext);
        });
    };
    out.report = RunExportJob(job, ctx);
    return out;
}

// The clip list is the project's: every result that sounds has its clips, at
// the result's timeline place; fills lay chunks from a whole source.
void ExpectListIsTheProject(const AafClipList& list, const Project& project, int rate) {
    const int64_t start = int64_t(kStartSeconds * rate);
    int fills = 0, regions = 0;
    for (size_t r = 0; r < project.results.size(); ++r) {
        const RenderResult& result = project.results[r];
        const bool muted = result.muted || (result.eventIdx >= 0 && project.events[size_t(result.eventIdx)].muted);
        if (result.filepath.empty() || muted) continue;
        char tag[16];
        std::snprintf(tag, sizeof tag, "_%03d_", int(r));
        std::vector<size_t> mine;
        for (size_t i = 0; i < list.essenceNames.size(); ++i)
            if (list.essenceNames[i].find(tag) != std::string::npos) mine.push_back(i);
        ASSERT_FALSE(mine.empty()) << result.name;
        for (size_t i : mine) {
            if (list.essenceNames[i].find("_src_") != std::string::npos) {
                ++fills;
                continue;
            }
            ++regions;
            // Where its voice starts: the float sum of start and shift, truncated.
            const auto at = int64_t(std::trunc(double(rate) * double(result.startTime + result.deconOffset)));
            EXPECT_EQ(list.positions[i], at + start) << list.essenceNames[i];
        }
    }
    EXPECT_GT(fills, 0) << "no fill laid chunks";
    EXPECT_GT(regions, 0);
    const auto reverb = std::find(list.essenceNames.begin(), list.essenceNames.end(), "Reverb.L.wav");
    ASSERT_NE(reverb, list.essenceNames.end());
    EXPECT_EQ(list.positions[size_t(reverb - list.essenceNames.begin())], start);
    EXPECT_EQ(list.markers.size(), project.events.size());
}

}  // namespace

TEST(AafExportSession, ARenderedProjectExportsAsASessionBothReadersRead) {
    RenderedProject rp;
    ASSERT_TRUE(rp.engine->cacheReady.load());
    for (bool sourceChannels : {false, true}) {
        SCOPED_TRACE(sourceChannels ? "a lane per source channel" : "rendered and source regions");
        rp.app->exportSettings.exportAAFSourceChannels = sourceChannels;
        const std::string base = sourceChannels ? "Channels" : "Regions";
        const Exported e = ExportThroughTheJob(*rp.project, *rp.engine, *rp.app, rp.dir.File("out/" + base + ".aaf"));
        EXPECT_TRUE(e.report.Succeeded());
        // The session and its audio files; the layers that matched no sound
        // went out silent and are told.
        const std::set<std::string> audio(e.list.essencePaths.begin(), e.list.essencePaths.end());
        EXPECT_EQ(e.report.filesWritten, int32_t(1 + audio.size()));
        EXPECT_EQ(e.report.finalText.rfind("Export complete — " + std::to_string(1 + audio.size()) + " files", 0), 0u)
            << e.report.finalText;
        EXPECT_EQ(e.aafPath, rp.dir.File("out/" + base + "/" + base + ".aaf"));
        ASSERT_FALSE(e.list.essencePaths.empty());
        ExpectListIsTheProject(e.list, *rp.project, rp.rate);
        // Every object, property and essence file is looked at once; the
        // channel lanes' files are the same kind of file.
        SessionChecks seen;
        ExpectBothReadersAgree(e.list, e.aafPath, rp.rate, !sourceChannels, &seen);
        EXPECT_GT(seen.fadeIns, 0);
        EXPECT_GT(seen.crossfades, 0) << "fill chunks crossfade";
        EXPECT_GT(seen.fadeOuts, 0);
        EXPECT_GT(seen.curves, 0);
        EXPECT_GT(seen.gains, 0);
    }
}

// Other project rates than the engine's default, a source at yet another
// rate, a 6-channel source, names and keywords beyond ASCII, handles of a
// second or of the whole source: the two readers still agree with the
// project and with each other.
TEST(AafExportSession, UnusualProjectsReadAlikeInBothReaders) {
    for (int rate : {44100, 96000}) {
        SCOPED_TRACE(rate);
        RenderedProject rp(rate, true);
        ASSERT_TRUE(rp.engine->cacheReady.load());
        rp.app->exportSettings.exportAAFSourceChannels = rate == 96000;
        rp.app->exportSettings.handleFullSource = rate == 44100;
        const Exported e = ExportThroughTheJob(*rp.project, *rp.engine, *rp.app, rp.dir.File("out/Réel ☂.aaf"));
        EXPECT_TRUE(e.report.Succeeded()) << e.report.finalText;
        ExpectListIsTheProject(e.list, *rp.project, rp.rate);
        ExpectBothReadersAgree(e.list, e.aafPath, rp.rate, false);
        if (rate == 96000) {
            int channelFiles = 0;
            for (const std::string& name : e.list.essenceNames) channelFiles += name.find(".LFE.wav") != std::string::npos;
            EXPECT_GT(channelFiles, 0) << "the 6-channel source has a lane per channel";
        }
    }
}

// The demo project as a new user first exports it.
TEST(AafExportSession, TheDemoReadsAlikeInBothReaders) {
    TempDir dir;
    GeneratedDemo demo;
    ASSERT_TRUE(GenerateDemo(dir.File("DemoContent"), demo));
    DocumentRecords doc;
    doc.library->libraries.push_back(demo.library);
    ASSERT_TRUE(LoadProjectFile(demo.projectFile, *doc.project).ok);
    RenderAllEvents(doc.Context(), -1, -1);
    ASSERT_TRUE(doc.engine->cacheReady.load());
    doc.app->exportSettings.exportFormatAAF = true;
    doc.app->exportSettings.exportFormatWAV = false;
    doc.app->exportSettings.exportAAFMarkers = true;
    for (bool sourceChannels : {false, true}) {
        SCOPED_TRACE(sourceChannels ? "a lane per source channel" : "rendered and source regions");
        doc.app->exportSettings.exportAAFSourceChannels = sourceChannels;
        const Exported e = ExportThroughTheJob(*doc.project, *doc.engine, *doc.app,
                                               dir.File(sourceChannels ? "out/Channels" : "out/Regions"));
        EXPECT_TRUE(e.report.Succeeded()) << e.report.finalText;
        ASSERT_GE(e.list.essencePaths.size(), 10u);
        EXPECT_EQ(e.list.markers.size(), doc.project->events.size());
        ExpectBothReadersAgree(e.list, e.aafPath, doc.app->projectSampleRate, false);
    }
}
