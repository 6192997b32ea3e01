// document_records.cpp — the records of a test's own document.
#include "support/document_records.h"

#include <utility>

#include "playback/engine_voices.h"

DocumentRecords::DocumentRecords()
    : project(std::make_unique<Project>()),
      library(std::make_unique<SoundLibrary>()),
      engine(std::make_unique<AudioEngine>()),
      app(std::make_unique<AppState>()) {}

ExportContext DocumentRecords::ExportContextOf(AafExportStep aafStep) {
    ExportContext ctx;
    ctx.project = project.get();
    ctx.engine = engine.get();
    ctx.app = app.get();
    ctx.aafStep = std::move(aafStep);
    ctx.observer = &observer;
    return ctx;
}

DocumentContext DocumentRecords::Context() {
    DocumentContext ctx = MakeDocumentContext(*project, *library, *engine, *app);
    ctx.observer = &observer;
    return ctx;
}

PanelRecords::PanelRecords() { ResetEngineVoices(*engine, 48000, 0); }

DocumentContext PanelRecords::Ctx() { return MakeDocumentContext(*project, *library, *engine, *app); }

bool RunOnCallingThread(std::function<void()> body) {
    body();
    return true;
}
