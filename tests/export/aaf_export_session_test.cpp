// End to end: a project rendered from generated sounds, exported as an AAF
// session through the export job, read back by the stored-format reader and
// by pyaaf2. Every clip resolves through master mob, file source mob, WAVE
// descriptor and locator to a WAV whose ffprobe facts agree with the clip and
// the descriptor's summary; positions, lengths, source offsets, fades, gains
// and markers are the clip list's, and the clip list is the project's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

#include "document/event.h"
#include "document/text_util.h"
#include "export/aaf_export.h"
#include "export/aaf_session_fixtures.h"
#include "export/aaf_test_tools.h"
#include "export/bwf_readback.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/export_job.h"
#include "operations/render_job.h"
#include "playback/audio_engine.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;
constexpr int64_t kStart = int64_t(3599.5 * kRate);  // the project starts at 00:59:59:12

struct RenderedProject {
    TempDir dir;
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();

    // Mono and stereo sounds, one of them at 44.1 kHz; every shape, a Clip
    // and a Bed of pinned files; rendered with voices as the render job leaves them.
    RenderedProject() {
        std::vector<BurstSound> sounds;
        for (int i = 0; i < 8; ++i) {
            BurstSound s;
            s.name = "sound" + std::to_string(i);
            s.seconds = 1.5 + 0.4 * i;
            s.channels = 1 + i % 2;
            s.sampleRate = i == 3 ? 44100 : kRate;
            for (int b = 0; b < 3; ++b)
                s.bursts.push_back(Burst{0.05 + 0.45 * b, 0.4, 0.6, i % 3 ? 220.0 * (i + 1) : 0.0, 0.005, 0.05});
            sounds.push_back(s);
        }
        library->libraries.push_back(MakeBurstLibrary(dir.path(), "Generated", sounds));
        const std::vector<LibraryEntry>& entries = library->libraries[0].entries;

        project->totalDuration = 30.0f;
        project->startTC = 3599.5f;
        const int shapes[] = {kShapeSpot, kShapeBloom, kShapeContour, kShapeFill, kShapeScatter};
        for (int k = 0; k < 5; ++k) AddEvent(*project, 1.0f + 4.5f * float(k), shapes[k], 0.15f + 0.17f * float(k));
        CopyTextField(project->events[0].keywords, "door slam");
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
        app->projectSampleRate = kRate;
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

// The clip list against the session as pyaaf2 reads it. Each file is
// probed once, however many clips it holds.
void ExpectSessionIsTheList(const AafClipList& l, const ReadSession& s, SessionChecks& seen) {
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
            EXPECT_EQ(e.sampleRate, "48000/1");
            EXPECT_EQ(e.length, l.fileLengths[i]);
            ASSERT_TRUE(e.exists) << e.path;
            const WaveSummaryFacts summary = ParseWaveSummary(e.summary);
            ASSERT_TRUE(summary.ok);
            EXPECT_EQ(summary.dataSize, uint32_t(e.length * 3));
            auto probed = probes.find(e.path);
            if (probed == probes.end()) {
                probed = probes.emplace(e.path, ProbeWav(e.path)).first;
                EXPECT_EQ(ReadBwfFile(e.path).frames, l.fileLengths[i]);
            }
            const ProbeReadBack& probe = probed->second;
            ASSERT_TRUE(probe.ok) << probe.message;
            EXPECT_EQ(probe.sampleRate, kRate);
            EXPECT_EQ(uint32_t(probe.sampleRate), summary.sampleRate);
            EXPECT_EQ(probe.channels, 1);
            EXPECT_EQ(probe.channels, summary.channels);
            EXPECT_EQ(probe.bits, 24);
            EXPECT_EQ(probe.bits, summary.bits);
            if (l.essenceNames[i].find("_src_") == std::string::npos) {
                EXPECT_EQ(probe.timeReference, l.positions[i] - l.sourceOffsets[i]);
            }

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

}  // namespace

TEST(AafExportSession, ARenderedProjectExportsAsASessionEveryReaderResolves) {
    RenderedProject rp;
    ASSERT_TRUE(rp.engine->cacheReady.load());
    const Project& project = *rp.project;
    for (bool sourceChannels : {false, true}) {
        SCOPED_TRACE(sourceChannels ? "a lane per source channel" : "rendered and source regions");
        rp.app->exportSettings.exportAAFSourceChannels = sourceChannels;
        const std::string base = sourceChannels ? "Channels" : "Regions";
        ExportJob job = MakeExportJob(*rp.app, project, *rp.engine, rp.dir.File("out/" + base + ".aaf"));
        EXPECT_EQ(job.baseName, base);

        AafClipList list;
        ExportContext ctx;
        ctx.project = rp.project.get();
        ctx.engine = rp.engine.get();
        ctx.app = rp.app.get();
        ctx.aafStep = [&list](const ExportJob& j, const Project& p, const AudioEngine& e) {
            const AafSessionWriter program = ProgramAafSessionWriter();
            return WriteAafExport(j, p, e, [&](const std::string& path, const AafClipList& l, int32_t rate, bool ext) {
                list = l;
                return program(path, l, rate, ext);
            });
        };
        const ExportReport report = RunExportJob(job, ctx);
        EXPECT_TRUE(report.Succeeded());
        EXPECT_EQ(report.finalText, "Export complete — 1 file");
        ASSERT_FALSE(list.essencePaths.empty());

        // The clip list is the project's: every result that sounds has its
        // clips, at the result's timeline place; fills lay chunks from a whole source.
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
                const auto at = int64_t(std::trunc(double(kRate) * (double(result.startTime) + result.deconOffset)));
                EXPECT_EQ(list.positions[i], at + kStart) << list.essenceNames[i];
            }
        }
        EXPECT_GT(fills, 0) << "no fill laid chunks";
        EXPECT_GT(regions, 0);
        const auto reverb = std::find(list.essenceNames.begin(), list.essenceNames.end(), "Reverb.L.wav");
        ASSERT_NE(reverb, list.essenceNames.end());
        EXPECT_EQ(list.positions[size_t(reverb - list.essenceNames.begin())], kStart);
        EXPECT_EQ(list.markers.size(), project.events.size());

        const std::string aafPath = rp.dir.File("out/" + base + "/" + base + ".aaf");
        const AafReadBack stored = ReadStoredObjects(aafPath);
        ASSERT_TRUE(stored.ok) << stored.message;
        const AafReadBack oracle = ReadWithOracle(aafPath);
        ASSERT_TRUE(oracle.ok) << oracle.message;
        std::string why;
        const std::vector<ReadSession> read = ReadSessions({aafPath}, &why);
        ASSERT_EQ(read.size(), 1u) << why;
        SessionChecks seen;
        ExpectSessionIsTheList(list, read[0], seen);
        EXPECT_GT(seen.fadeIns, 0);
        EXPECT_GT(seen.crossfades, 0) << "fill chunks crossfade";
        EXPECT_GT(seen.fadeOuts, 0);
        EXPECT_GT(seen.curves, 0);
        EXPECT_GT(seen.gains, 0);
    }
}
