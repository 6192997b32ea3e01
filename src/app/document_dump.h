// document_dump.h — the document, library and engine fields of the window
// tests' state dump.
//
// Index
//   DumpDocumentFields / DumpEngineFields   registered with the state dump at start-up
#pragma once

struct StateDump;

// doc.results, doc.placeholders, doc.placeholderNames, doc.missing,
// doc.rendered, doc.totalDuration (a document reader: see
// RegisterDocumentStateDump).
void DumpDocumentFields(StateDump& dump);
// engine.voices, engine.voicesBuilt, engine.voicesToBuild, engine.cacheReady,
// engine.playing, engine.seconds, engine.peak; sounds.libraries,
// sounds.entries, sounds.scanRunning, sounds.queued.
void DumpEngineFields(StateDump& dump);
