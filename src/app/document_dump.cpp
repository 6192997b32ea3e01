// document_dump.cpp — what the window tests read of the document, the library
// and the audio engine after a whole flow: how much was rendered, whether the
// voices were built and whether the mix is making sound.
//
// Index
//   DumpDocumentFields   "doc.*" fields of the state dump
//   DumpEngineFields     "engine.*", "audio.*" and "sounds.*" fields
//
// UI thread only; the engine's and the output's fields are atomics read once
// (the voice list is read by the thread that owns it).
#include "app/document_dump.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/test_driver.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/voice_streaming.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"

void DumpDocumentFields(StateDump& dump) {
    const Project& doc = gProject;
    int placeholders = 0, missing = 0;
    std::string placeholderNames;
    for (const RenderResult& r : doc.results) {
        if (r.missing) ++missing;
        if (!r.placeholder) continue;
        // The first few are enough to tell a keyword that found nothing from
        // a sound that could not be read.
        if (++placeholders <= 40)
            placeholderNames += (placeholderNames.empty() ? "" : "|") + r.name + "@" + std::to_string(r.eventIdx);
    }
    dump.Field("doc.results", static_cast<int>(doc.results.size()));
    dump.Field("doc.placeholders", placeholders);
    dump.Field("doc.placeholderNames", placeholderNames);
    dump.Field("doc.missing", missing);
    dump.Field("doc.rendered", doc.rendered.load());
    dump.Field("doc.totalDuration", static_cast<double>(doc.totalDuration));
}

void DumpEngineFields(StateDump& dump) {
    const AudioEngine& e = gAudioEngine;
    const int rate = std::max(1, e.sampleRate.load());
    dump.Field("engine.voices", static_cast<int>(e.stats.voiceCount.load()));
    dump.Field("engine.voicesBuilt", static_cast<int>(e.stats.buildProgress.load()));
    dump.Field("engine.voicesToBuild", static_cast<int>(e.stats.buildTotal.load()));
    dump.Field("engine.cacheReady", e.cacheReady.load() != 0);
    dump.Field("engine.playing", e.playing.load() != 0);
    dump.Field("engine.seconds", static_cast<double>(e.position.load()) / rate);
    // The last block's peak: while a render plays it is above zero.
    char peak[32];
    std::snprintf(peak, sizeof peak, "%.5f", std::max(e.stats.peakL.load(), e.stats.peakR.load()));
    dump.Field("engine.peak", std::string(peak));
    // The streaming window: voices whose samples are loaded, and voices inside the
    // window still waiting for theirs (0 once the workers have caught up),
    // as its last pass counted them (atomics: a build may be appending voices
    // on a worker while the dump is written, and nothing here walks them).
    dump.Field("engine.heldVoices", static_cast<int>(e.stats.loadedVoices.load()));
    dump.Field("engine.waitingVoices", static_cast<int>(e.stats.waitingVoices.load()));
    dump.Field("engine.streamerIdle", VoiceStreamerIdle(gAppState));
    // Silent blocks by cause (see AudioEngine), and the longest time anyone
    // but the mixer held the engine's lock since playback last started.
    dump.Field("engine.lockedBlocks", static_cast<int64_t>(e.stats.lockedBlocks.load()));
    dump.Field("engine.lateVoiceBlocks", static_cast<int64_t>(e.stats.lateVoiceBlocks.load()));
    dump.Field("engine.emptyBlocks", static_cast<int64_t>(e.stats.emptyBlocks.load()));
    dump.Field("engine.expectedVoices", static_cast<int>(e.stats.expectedVoices.load()));
    dump.Field("engine.headroomCut", static_cast<double>(e.stats.headroomCut.load()));
    dump.Field("engine.longestHoldMs", static_cast<double>(gAudioEngine.mutex.LongestHoldNanos()) / 1.0e6);
    dump.Field("engine.lockHolds", static_cast<int64_t>(gAudioEngine.mutex.TimedHolds()));

    // The output's thread: underruns the back-end flagged, the output gaps,
    // and what each callback cost (see AudioOutput).
    const AudioOutput& o = gAudioOutput;
    dump.Field("audio.open", o.open.load() != 0);
    dump.Field("audio.callbacks", static_cast<int64_t>(o.callbackCount.load()));
    dump.Field("audio.underruns", static_cast<int64_t>(o.underruns.load()));
    // Stretches the device played without our frames while the transport
    // played, one per silence, how long they lasted in all (known from the
    // stream's clock; -1 where the back-end only flags them) and the
    // callbacks that came too late for the sound; and apart from them the
    // silences while it was stopped, which took nothing from anyone.
    dump.Field("audio.outputGaps", static_cast<int64_t>(o.outputGaps.load()));
    dump.Field("audio.stoppedOutputGaps", static_cast<int64_t>(o.stoppedOutputGaps.load()));
    const int32_t deviceRate = o.deviceRate.load();
    dump.Field("audio.outputGapMs", o.gapSource.load() == OutputGapSource::Flags || deviceRate < 1
                                        ? -1.0
                                        : 1000.0 * static_cast<double>(o.outputGapFrames.load()) / deviceRate);
    dump.Field("audio.lateCallbacks", static_cast<int64_t>(o.lateCallbacks.load()));
    dump.Field("audio.longestCallbackMs", static_cast<double>(o.longestCallbackMicros.load()) / 1000.0);
    dump.Field("audio.longestCallbackCpuMs", static_cast<double>(o.longestCallbackCpuMicros.load()) / 1000.0);
    dump.Field("audio.longestWaitMs", static_cast<double>(o.longestCallbackGapMicros.load()) / 1000.0);
    dump.Field("audio.callbacksBlocked", static_cast<int64_t>(o.callbacksBlocked.load()));
    dump.Field("audio.callbacksPreempted", static_cast<int64_t>(o.callbacksPreempted.load()));
    dump.Field("audio.realtime", o.realtimeThread.load() != 0);

    const SoundLibrary& lib = gSoundLibrary;
    size_t entries = 0;
    for (const LibraryIndex& index : lib.libraries) entries += index.entries.size();
    dump.Field("sounds.libraries", static_cast<int>(lib.libraries.size()));
    dump.Field("sounds.entries", static_cast<int>(entries));
    dump.Field("sounds.scanRunning", lib.scanRunning.load() != 0);
    dump.Field("sounds.queued", static_cast<int>(lib.libraryAddQueue.size() + lib.pendingFolders.size()));
}
