// Whole render passes scored on several threads against the single-threaded
// reference: the same layers for generated projects of every shape, alloy
// events, keyword terms, library filters, banned and pinned files; library
// changes between renders; cancelling a pass.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "document/curve.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "render/candidates.h"
#include "render/pool_scoring.h"
#include "render/render_pass.h"
#include "support/render_fixtures.h"

namespace {

// Every field a render sets, floats in hexadecimal so that equal means equal
// in every bit.
std::string LayerKey(const RenderResult& r) {
    std::string key;
    char buf[64];
    auto num = [&](float v) {
        std::snprintf(buf, sizeof buf, "%a ", static_cast<double>(v));
        key += buf;
    };
    auto source = [&](const AlloySource& s) {
        key += s.filepath + "|" + s.fileId + "|" + s.name + "|";
        num(s.offset);
        num(s.duration);
    };
    key += std::to_string(r.eventIdx) + " " + r.name + "|" + r.filepath + "|" + r.fileId + "| ";
    for (float v : {r.sourceOffset, r.sourceDuration, r.startTime, r.duration, r.weight, r.fadeIn, r.fadeOut,
                    r.fadeFactor, r.audioSyncOffset, r.layerGain, r.pitchShift, r.pitchVarShift, r.alloyMorph})
        num(v);
    key += std::to_string(r.track) + " " + std::to_string(r.group) + " " + std::to_string(r.groupTrack) + " " +
           std::to_string(r.procMode) + " " + std::to_string(r.stereo) + std::to_string(r.muted) +
           std::to_string(r.placeholder) + std::to_string(r.hasIntGain) + std::to_string(r.hasFillGain) + " ";
    for (float v : r.intGain) num(v);
    for (float v : r.fillGain) num(v);
    for (float v : r.alloyWeightCurve) num(v);
    source(r.alloyMid);
    source(r.alloyHigh);
    source(r.alloyEnv);
    return key;
}

std::vector<std::string> Keys(const Project& project) {
    std::vector<std::string> keys;
    for (const RenderResult& r : project.results) keys.push_back(LayerKey(r));
    return keys;
}

void ExpectSameLayers(const Project& a, const Project& b, const std::string& what) {
    const std::vector<std::string> ka = Keys(a);
    const std::vector<std::string> kb = Keys(b);
    ASSERT_EQ(ka.size(), kb.size()) << what;
    for (size_t i = 0; i < ka.size(); ++i) ASSERT_EQ(ka[i], kb[i]) << what << " layer " << i;
}

// A project of every shape and the alloy forms, overlapping in time, with
// keyword queries (plain, required, excluded, one that nothing matches),
// library filters (by name, by an old name, one naming no library), heroes,
// pitch variation, pinned files (in a library, with an id, missing) and
// banned files. The same seed gives the same project; `count` events, of
// which any nine in a row hold every shape and alloy form.
void BuildProject(Project& project, const SoundLibrary& library, unsigned seed, int count = 26) {
    const int shapes[] = {kShapeSpot, kShapeBloom, kShapeContour, kShapeFill, kShapeScatter, 7,
                          kShapeSpot, kShapeBloom, kShapeContour};
    const char* queries[] = {"", "metal hit", "+glass", "wind -door", "+zebra", "metal +hit* -glass", ""};
    const char* filters[] = {"", "", "Foley", "", "Old Foley, Ambience", "", "~none~", ""};
    const std::vector<LibraryEntry>& main = library.libraries[0].entries;
    for (int i = 0; i < count; ++i) {
        const int kind = static_cast<int>((static_cast<unsigned>(i) + seed) % 9);
        const int shape = shapes[kind];
        const int e = AddEvent(project, 0.6f + 1.1f * static_cast<float>(i), shape,
                               static_cast<float>((i * 7 + static_cast<int>(seed)) % 10) / 10.0f + 0.05f);
        Event& ev = project.events[static_cast<size_t>(e)];
        ev.alloy = kind >= 6;
        ev.duration = shape == kShapeScatter ? 0.6f + 0.2f * static_cast<float>(i % 3)
                                             : 0.8f + 0.5f * static_cast<float>((i + seed) % 5);
        ev.spread = static_cast<float>(i % 4) / 3.0f;
        ev.pitchVariation = i % 5 == 0 ? 0.3f : 0.0f;
        ev.hero = i % 7 == 3;
        ev.stereo = i % 2 == 0;
        ev.groupOverride = i % 6 == 1 ? 2 : -1;
        if (shape == kShapeFill && i % 2) ev.fillLayers = 5;
        CopyTextField(ev.keywords, queries[(i + static_cast<int>(seed)) % 7]);
        CopyTextField(ev.libFilter, filters[i % 8]);
        for (int k = 0; k < 256; ++k) {
            const float t = static_cast<float>(k) / 255.0f;
            ev.weight[static_cast<size_t>(k)] = i % 2 ? 0.2f + 0.6f * t : 0.8f - 0.5f * t;
        }
        FillCosineCurve(ev.intensity, 0.3f + 0.1f * static_cast<float>(i % 7), 0.05f, 1.0f);
        if (i % 9 == 2) ev.pinnedFiles = {main[static_cast<size_t>(100 + i)].path};
        if (i % 9 == 5) {
            ev.pinnedFiles = {"/missing/pinned.wav", main[static_cast<size_t>(200 + i)].path};
            ev.pinnedFileIds = {"", main[static_cast<size_t>(200 + i)].fileId};
        }
    }
    const int clip = AddEvent(project, 3.0f, kShapeClip, 0.5f);
    CopyTextField(project.events[static_cast<size_t>(clip)].pinnedFile, main[7].path);
    const int bed = AddEvent(project, 0.0f, kShapeBed, 0.5f);
    project.events[static_cast<size_t>(bed)].pinnedFiles = {main[8].path};
    project.totalDuration = 40.0f;

    // Ban the sounds that a middle-weight Spot likes best, by path and by id.
    std::vector<RenderCandidate> best = ScoreCandidates(project, FindCandidateSounds(library, -1, nullptr), 0.5f,
                                                        1.3f, kShapeSpot, {}, 6, 0.8f, nullptr, -1, 0);
    for (size_t k = 0; k < best.size(); ++k) {
        if (k % 2) project.bannedFileIds.push_back(best[k].entry->fileId);
        else project.bannedFiles.push_back(best[k].entry->path);
    }
}

void RenderWith(Project& project, const SoundLibrary& library, unsigned seed, bool reference, int threads,
                const std::atomic<bool>* cancel = nullptr, PoolScoringStats* stats = nullptr) {
    RenderPassOptions options;
    options.referenceScoring = reference;
    options.threads = threads;
    options.cancel = cancel;
    options.scoringStats = stats;
    RenderEventsWithOptions(project, library, -1, -1.0f, -1.0f, false, false,
                            FixedRenderSeeds(1000u + seed, 77u * seed), options);
}

}  // namespace

TEST(ParallelRender, SameLayersAsTheReferenceOnOneTwoEightAndSixtyFourThreads) {
    SoundLibrary library;
    AddMixedLibraries(library, 21);
    for (unsigned seed : {1u, 2u, 3u}) {
        Project reference;
        BuildProject(reference, library, seed);
        RenderWith(reference, library, seed, true, 1);
        // Every kind of layer is there, and banned files never are.
        std::set<int> modes;
        for (const RenderResult& r : reference.results) {
            modes.insert(r.procMode);
            for (const std::string& p : reference.bannedFiles) ASSERT_NE(r.filepath, p);
        }
        EXPECT_EQ(modes, (std::set<int>{0, 1, 2, 3})) << "seed " << seed;
        for (int threads : {1, 2, 8, 64}) {
            Project parallel;
            BuildProject(parallel, library, seed);
            RenderWith(parallel, library, seed, false, threads);
            ExpectSameLayers(reference, parallel, "seed " + std::to_string(seed) + ", threads " +
                                                      std::to_string(threads));
        }
    }
}

TEST(ParallelRender, SameLayersOverFiftyThousandSoundsWhereTheBoundDecides) {
    // The mixed libraries with 50,000 more sounds in a library that serves
    // every group: every pool holds more than 50,000 candidates, and nearly
    // all of them are skipped by the bounds, so the kept sounds of nearly
    // every layer are those the bounds left.
    SoundLibrary library;
    AddMixedLibraries(library, 13);
    std::vector<LibraryEntry> large = MakeSyntheticEntries(50000, 14);
    for (LibraryEntry& e : large) e.path.replace(0, std::strlen("/lib/synthetic/"), "/lib/large/");
    library.libraries.push_back(MakeLibrary("Large", std::move(large)));
    const unsigned seed = 4;
    const int events = 10;  // the reference scores every sound for every layer
    Project reference;
    BuildProject(reference, library, seed, events);
    RenderWith(reference, library, seed, true, 1);
    for (int threads : {1, 2, 8, 64}) {
        Project parallel;
        BuildProject(parallel, library, seed, events);
        PoolScoringStats stats;
        RenderWith(parallel, library, seed, false, threads, nullptr, &stats);
        ExpectSameLayers(reference, parallel, "threads " + std::to_string(threads));
        ASSERT_GT(stats.scorings, 100u);
        // Fewer than one sound in twenty of the 50,000 was scored.
        EXPECT_LT(stats.sounds * 20, stats.scorings * 50000) << "threads " << threads;
        std::printf("[Test] %d threads: %zu scorings, %.0f sounds scored per scoring, %zu shared out\n", threads,
                    stats.scorings, double(stats.sounds) / double(stats.scorings), stats.shared);
    }
    int fromLarge = 0;
    for (const RenderResult& r : reference.results) fromLarge += r.filepath.rfind("/lib/large/", 0) == 0;
    EXPECT_GT(fromLarge, 20);
}

TEST(ParallelRender, ALibraryChangeIsSeenByTheNextRender) {
    SoundLibrary library;
    AddMixedLibraries(library, 4);
    auto renderBoth = [&](Project& reference, Project& parallel, const std::string& what) {
        for (Project* p : {&reference, &parallel}) {
            p->events.clear();
            p->results.clear();
            p->bannedFiles.clear();
            p->bannedFileIds.clear();
            BuildProject(*p, library, 5);
        }
        // One more event that wants a sound no library has yet.
        for (Project* p : {&reference, &parallel}) {
            int e = AddEvent(*p, 33.0f, kShapeSpot, 0.5f);
            CopyTextField(p->events[static_cast<size_t>(e)].keywords, "+okapi");
        }
        RenderWith(reference, library, 5, true, 1);
        RenderWith(parallel, library, 5, false, 4);
        ExpectSameLayers(reference, parallel, what);
    };
    auto layersFrom = [](const Project& p, const std::string& prefix) {
        int n = 0;
        for (const RenderResult& r : p.results) n += r.filepath.rfind(prefix, 0) == 0;
        return n;
    };
    Project reference, parallel;
    renderBoth(reference, parallel, "before");
    EXPECT_EQ(layersFrom(parallel, "/lib/okapi"), 0);
    EXPECT_GT(layersFrom(parallel, "/lib/twins/"), 0);

    // An entry added: the next render finds it.
    LibraryEntry okapi = MakeEntry("okapi_call", 1.5f, 0.5f);
    okapi.path = "/lib/okapi/okapi_call.wav";
    library.libraries[0].entries.push_back(okapi);
    renderBoth(reference, parallel, "entry added");
    EXPECT_GT(layersFrom(parallel, "/lib/okapi"), 0);

    // A library disabled: none of its sounds is used any more.
    library.libraries[1].enabled = 0;
    renderBoth(reference, parallel, "library disabled");
    for (const RenderResult& r : parallel.results) EXPECT_EQ(r.filepath.rfind("/lib/twins/", 0), std::string::npos);

    // Entries changed in place, then marked; changed again without a mark
    // (the render command checks the contents).
    for (LibraryEntry& e : library.libraries[0].entries) e.bandCentroid = 1.0f - e.bandCentroid;
    MarkLibrariesChanged(library);
    renderBoth(reference, parallel, "entries changed in place");
    for (LibraryEntry& e : library.libraries[0].entries) e.duration *= 0.5f;
    renderBoth(reference, parallel, "entries changed in place, unmarked");
}

TEST(ParallelRender, CancelEndsThePassBetweenWholeEvents) {
    // The passes that are cancelled while they run score with the reference
    // scorer over 20,000 more sounds: slow enough that the watcher, which
    // cancels once the first event is published, always comes before the end.
    SoundLibrary library;
    AddMixedLibraries(library, 9);
    library.libraries.push_back(MakeLibrary("Large", MakeSyntheticEntries(20000, 10)));
    Project full;
    BuildProject(full, library, 2);
    RenderWith(full, library, 2, false, 2);

    // Cancelled before it starts: no event gets layers, the pass still finishes.
    std::atomic<bool> cancel{true};
    Project none;
    BuildProject(none, library, 2);
    RenderWith(none, library, 2, false, 2, &cancel);
    EXPECT_TRUE(none.results.empty());
    EXPECT_TRUE(none.rendered);

    // Cancelled while it runs: the events rendered before the cancel have
    // exactly their layers of the whole render, the rest have none.
    cancel = false;
    Project part;
    BuildProject(part, library, 2);
    std::thread watcher([&] {
        while (part.publishedResultCount.load(std::memory_order_acquire) < 1) std::this_thread::yield();
        cancel = true;
    });
    RenderWith(part, library, 2, true, 1, &cancel);
    watcher.join();
    int rendered = 0;
    int skipped = 0;
    for (int i = 0; i < static_cast<int>(part.events.size()); ++i) {
        std::vector<const RenderResult*> got = LayersOfEvent(part, i);
        std::vector<const RenderResult*> want = LayersOfEvent(full, i);
        ASSERT_FALSE(want.empty()) << "event " << i;
        if (got.empty()) {
            ++skipped;
            continue;
        }
        ++rendered;
        EXPECT_EQ(skipped, 0) << "event " << i << " rendered after one that was not";
        ASSERT_EQ(got.size(), want.size()) << "event " << i;
        for (size_t k = 0; k < got.size(); ++k) {
            EXPECT_EQ(got[k]->filepath, want[k]->filepath) << "event " << i;
            EXPECT_EQ(got[k]->sourceOffset, want[k]->sourceOffset) << "event " << i;
            EXPECT_EQ(got[k]->startTime, want[k]->startTime) << "event " << i;
        }
    }
    EXPECT_GT(skipped, 0);
    std::printf("[Test] %d events rendered before the cancel, %d not\n", rendered, skipped);
}
