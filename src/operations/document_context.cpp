// document_context.cpp — contexts over given objects and over the program's own.
#include "operations/document_context.h"

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "playback/audio_engine.h"

DocumentContext MakeDocumentContext(Project& project, const SoundLibrary& library,
                                    AudioEngine& engine, AppState& app) {
    DocumentContext ctx;
    ctx.project = &project;
    ctx.library = &library;
    ctx.engine = &engine;
    ctx.app = &app;
    ctx.sampleRate = app.projectSampleRate;
    ctx.currentTime = app.currentTime;
    ctx.protectSilence = app.protectSilence;
    ctx.destructiveEQ = app.destructiveEQ;
    ctx.observer = app.observer;
    return ctx;
}

DocumentContext ProgramDocumentContext() {
    return MakeDocumentContext(gProject, gSoundLibrary, gAudioEngine, gAppState);
}
