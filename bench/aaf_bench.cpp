// Saving AAF files: the stored-object layer with 20,000 objects and 100,000
// properties and with 100,000 elements in one storage, the object model with
// 5,000 master and source mob pairs, and a session of 5,000 clips.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "export/aaf_ids.h"
#include "export/aaf_objects.h"
#include "export/aaf_session.h"
#include "export/aaf_storage.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

// 200 sequences of 99 fillers under the root: 20,001 objects of 5 properties each.
void BuildWideTree(AafStore& store) {
    AafObject* root = AafNewObject(store, kAafClassRoot);
    AafSetRoot(store, root);
    AafCreateVector(root, 0x0003, "Groups");
    AafSetUInt32(root, 0x7000, 1);
    AafSetUInt32(root, 0x7001, 2);
    AafSetString(root, 0x7002, "wide tree");
    AafSetInt64(root, 0x7003, 3);
    for (int g = 0; g < 200; ++g) {
        AafObject* group = AafNewObject(store, kAafClassSequence);
        AafAppendToVector(root, 0x0003, group);
        AafCreateVector(group, 0x1001, "Components");
        AafSetInt64(group, 0x0202, 99 * 48000);
        AafSetString(group, 0x7002, "group " + std::to_string(g));
        AafSetUInt32(group, 0x7000, static_cast<uint32_t>(g));
        AafSetRational(group, 0x7004, AafRational{48000, 1});
        for (int f = 0; f < 99; ++f) {
            AafObject* filler = AafNewObject(store, kAafClassFiller);
            AafAppendToVector(group, 0x1001, filler);
            AafSetInt64(filler, 0x0202, 48000);
            AafSetAuid(filler, 0x7005, kAafDataDefSound);
            AafSetString(filler, 0x7002, "filler");
            AafSetUInt32(filler, 0x7000, static_cast<uint32_t>(f));
            AafSetRational(filler, 0x7004, AafRational{f, 1});
        }
    }
}

}  // namespace

static void BM_AafSaveStore20kObjects(benchmark::State& state) {
    AafStore store;
    BuildWideTree(store);
    size_t properties = 0;
    for (const auto& o : store.objects) properties += o->properties.size();
    TempDir dir;
    std::string path = dir.File("wide.aaf");
    for (auto _ : state) {
        AafStatus s = AafSaveStore(store, path);
        if (s != AafStatus::Ok) state.SkipWithError(AafStatusText(s));
    }
    state.counters["objects"] = static_cast<double>(store.objects.size());
    state.counters["properties"] = static_cast<double>(properties);
    state.counters["fileMB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_AafSaveStore20kObjects)->Unit(benchmark::kMillisecond)->Iterations(3);

// One vector of 100,000 fillers: their storages are children of one storage,
// the shape that an export with tens of thousands of essence files gives its
// set of mobs.
static void BM_AafSaveStore100kChildren(benchmark::State& state) {
    AafStore store;
    AafObject* root = AafNewObject(store, kAafClassRoot);
    AafSetRoot(store, root);
    AafCreateVector(root, 0x0003, "Items");
    for (int i = 0; i < 100000; ++i) {
        AafObject* filler = AafNewObject(store, kAafClassFiller);
        AafAppendToVector(root, 0x0003, filler);
        AafSetInt64(filler, 0x0202, i);
    }
    TempDir dir;
    std::string path = dir.File("children.aaf");
    for (auto _ : state) {
        AafStatus s = AafSaveStore(store, path);
        if (s != AafStatus::Ok) state.SkipWithError(AafStatusText(s));
    }
    state.counters["fileMB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_AafSaveStore100kChildren)->Unit(benchmark::kMillisecond)->Iterations(1);

// What a session with one mob pair per essence file builds before its
// composition: source mob (WAVE descriptor, locator, clip) and master mob.
static void BM_AafCreateAndSave5000MobPairs(benchmark::State& state) {
    TempDir dir;
    std::string path = dir.File("pairs.aaf");
    AafProductIdentification ident;
    ident.companyName = ident.productName = "Tessaloom";
    const AafRational rate{48000, 1};
    size_t objects = 0;
    for (auto _ : state) {
        std::unique_ptr<AafFile> file;
        AafOpenNewFile(path, ident, &file);
        AafObject* sound = nullptr;
        AafLookupDefinition(*file, AafDefinitionKind::Data, kAafDataDefSound, &sound);
        std::vector<uint8_t> summary(44, 0);
        for (int i = 0; i < 5000; ++i) {
            std::string name = "Clip_" + std::to_string(i) + ".wav";
            AafObject *source, *desc, *loc, *clip, *master;
            AafCreateMob(*file, AafMobKind::Source, name, &source);
            AafCreateWaveDescriptor(*file, rate, 480000, summary, &desc);
            AafCreateNetworkLocator(*file, "file:///session/Audio%20Files/" + name, &loc);
            AafAppendLocator(desc, loc);
            AafSetEssenceDescriptor(source, desc);
            AafCreateSourceClip(*file, sound, 480000, AafSourceRef{}, &clip);
            AafAppendTimelineSlot(*file, source, rate, clip, 1, "Audio", 0, nullptr);
            AafMobId sourceId;
            AafGetMobId(source, &sourceId);
            AafAddMob(*file, source);
            AafCreateMob(*file, AafMobKind::Master, name, &master);
            AafCreateSourceClip(*file, sound, 480000, AafSourceRef{sourceId, 1, 0}, &clip);
            AafAppendTimelineSlot(*file, master, rate, clip, 1, "Audio", 0, nullptr);
            AafAddMob(*file, master);
        }
        AafStatus s = AafSaveFile(*file);
        if (s != AafStatus::Ok) state.SkipWithError(AafStatusText(s));
        objects = file->store.objects.size();
        AafCloseFile(*file);
    }
    state.counters["objects"] = static_cast<double>(objects);
    state.counters["fileMB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
}
BENCHMARK(BM_AafCreateAndSave5000MobPairs)->Unit(benchmark::kMillisecond)->Iterations(3);

// A session as a large export hands it over: 5,000 clips on 40 tracks, each
// with its own essence file, fades and a clip gain, every fourth clip
// crossfading into the next; the argument is the share of clips (in percent)
// with a 64-point gain curve, whose control points are most of the file's objects.
static void BM_AafSessionWrite5000Clips(benchmark::State& state) {
    const int curvePercent = static_cast<int>(state.range(0));
    TempDir dir;
    const std::string path = dir.File("session.aaf");
    AafClipList list;
    for (int i = 0; i < 5000; ++i) {
        const int track = i % 40, slot = i / 40;
        std::string name = "FX A" + std::to_string(track + 1) + "_" + std::to_string(i) + "_Impact.wav";
        list.essencePaths.push_back(dir.path() + "/Audio Files/" + name);
        list.essenceNames.push_back(name);
        list.positions.push_back(int64_t(slot) * 96000 + (slot % 4 == 1 ? -4800 : 0));
        list.lengths.push_back(72000);
        list.sourceOffsets.push_back(24000);
        list.fileLengths.push_back(120000);
        list.tracks.push_back(track);
        list.fadeIns.push_back(480);
        list.fadeOuts.push_back(2400);
        AafGainCurve curve;
        curve.present = i % 100 < curvePercent;
        for (int k = 0; k < kAafGainCurvePoints && curve.present; ++k)
            curve.points[size_t(k)] = 0.5f + 0.5f * float(k % 8) / 8.0f;
        list.gainCurves.push_back(curve);
        list.gains.push_back(0.8f);
    }
    for (int m = 0; m < 200; ++m) list.markers.push_back({int64_t(m) * 48000, "Spot," + std::to_string(m)});
    PeakMemoryProbe peak;
    for (auto _ : state) {
        if (!ExportAafSessionExtended(path, list.essencePaths, list.essenceNames, list.positions, list.lengths,
                                      list.sourceOffsets, list.fileLengths, list.tracks, list.trackNames, 48000,
                                      list.fadeIns, list.fadeOuts, list.markers, list.gainCurves, list.gains))
            state.SkipWithError("session not written");
    }
    state.counters["fileMB"] = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);
    if (peak.Available())
        state.counters["peakGrowthMB"] = static_cast<double>(peak.PeakGrowthBytes()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_AafSessionWrite5000Clips)->Arg(100)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
