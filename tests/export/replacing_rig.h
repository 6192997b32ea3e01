// replacing_rig.h — an AAF rig whose exports, started as the Export tab
// starts them, replace what stands at their names: the session, the
// mixdown, the stems and the clips, and the notes of replacements under way.
//
// Index
//   ReplacingRig   the passes, the notes folder; three layers; Start, Finish, Run, ExportTo, Notes
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "export/aaf_export_rig.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/temp_dir.h"

struct ReplacingRig : AafRig {
    // Where replacements under way are noted; empty: the data folder's, as
    // the environment names it when an export starts.
    std::string notes;
    // Exports run on the calling thread (in a child, which starts no thread).
    bool onCallingThread = false;

    ReplacingRig() {
        app->exportSettings.exportFormatWAV = true;
        app->exportSettings.exportWavMixdown = true;
        app->exportSettings.exportWavStems = true;
        app->exportSettings.exportWavClips = true;
        app->exportSettings.exportReverbStem = false;
    }

    // Three sourced layers, one on each group: "Door", "Rain" (stereo; from
    // a file of two channels when `wideRain`) and "Knock".
    void AddDoorRainKnock(bool wideRain) {
        const std::string src = Source("door.wav", 3.0, 1);
        const std::string rain = wideRain ? Source("rain.wav", 3.0, 2, kRigRate, 7) : src;
        AddSourced(src, 0.2f, 1.0f, 1.0f, "Door", false, 1, 0);
        AddSourced(rain, 0.5f, 1.5f, 2.0f, "Rain", true, 0, 0);
        AddSourced(src, 1.0f, 0.5f, 3.0f, "Knock", false, 2, 0);
    }

    std::string NotesFolder() const { return notes.empty() ? ExportNoteFolder() : notes; }
    std::vector<std::string> Notes() const { return FolderNames(NotesFolder()); }

    ExportContext Ctx() {
        ExportContext ctx = Context(ProgramAafStep());
        ctx.exportNotes = NotesFolder();
        if (onCallingThread) ctx.startThread = RunOnCallingThread;
        return ctx;
    }

    ExportStart Start(const std::string& folder) {
        AssignTracks();
        return StartExport(Ctx(), MakeExportJob(*app, *project, *engine, folder + "/Reel"));
    }

    // Waits for the end of the export, finishing it as the frame does.
    void Finish() {
        while (!PollExport(*app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Exports to "<folder>/Reel" and waits for its end; how it started.
    ExportStart Run(const std::string& folder) {
        const ExportStart started = Start(folder);
        if (started == ExportStart::Started) Finish();
        return started;
    }

    // As Run, expected to start; the final status.
    std::string ExportTo(const std::string& folder) {
        EXPECT_EQ(Run(folder), ExportStart::Started);
        return ExportStatusText(*app);
    }
};
