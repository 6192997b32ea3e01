// document_records.h — a document of a test's own, apart from the program's
// globals: the project, its library, the engine and the app state on the
// heap, the observer its jobs meet, and the context over them.
//
// Index
//   DocumentRecords   the four records and the observer; Context() and ExportContextOf() over them
//   PanelRecords      the records as the interface's code meets them: voices ready, no observer
//   RunOnCallingThread   a job's thread starter that runs the job before it returns
#pragma once

#include <functional>
#include <memory>

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/export_job.h"
#include "playback/audio_engine.h"

// Rigs derive from it, so their members read as project, library, engine and
// app; the records live on the heap (the engine and the app state are large).
struct DocumentRecords {
    DocumentRecords();

    std::unique_ptr<Project> project;
    std::unique_ptr<SoundLibrary> library;
    std::unique_ptr<AudioEngine> engine;
    std::unique_ptr<AppState> app;
    JobObserver observer;  // the test holds its jobs meet

    // A context over the records, with the app state's settings and the observer.
    DocumentContext Context();
    // An export's context over the document, engine and app state, with the
    // observer and `aafStep` (null: an AAF export fails).
    ExportContext ExportContextOf(AafExportStep aafStep = nullptr);
};

// The records as the interface's code meets them: the engine's voices ready
// at 48 kHz, and the context it is handed, without the test's observer.
struct PanelRecords : DocumentRecords {
    PanelRecords();
    DocumentContext Ctx();
};

// For ExportContext::startThread: the job runs on the calling thread, done
// when the start returns (a child process, which must start no thread).
bool RunOnCallingThread(std::function<void()> body);
