// replacing_rig.h — an AAF rig whose exports, started as the Export tab
// starts them, replace what stands at their names: the session, the
// mixdown, the stems and the clips, and the notes of replacements under way.
//
// Index
//   ReplacingRig   the passes, the notes folder; three layers; Start, Finish, Run, ExportTo, Notes
//   HiddenBelow    the entries exports make below a folder, at any depth
//   ChildExportRig exports run as programs of their own: killed at a commit step, and the next start
#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "export/aaf_export_rig.h"
#include "support/document_records.h"
#include "support/child_process.h"
#include "support/exported_files.h"
#include "support/scoped_environment.h"
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

// Every entry below `root` (at any depth) whose name begins with ".tessaloom-".
inline std::vector<std::string> HiddenBelow(const std::string& root) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(".tessaloom-", 0) == 0) found.push_back(it->path().string());
    return found;
}

// What a child export does at each step of its commit: the step it dies at
// (SIGKILL), a file it writes the steps into, and another program's work.
inline std::string gKillAtStep;
inline std::string gCommitStepsFile;
inline std::function<void(const std::string&)> gAtCommitStep;

// Three layers on three groups, exported as "Reel" with the AAF session, the
// mixdown, the stems and the clips; the user folders in the rig's own
// folder. Exports that are killed, and starts, run as programs of their own.
struct ChildExportRig : ReplacingRig {
    ScopedEnvironment env;

    ChildExportRig() {
        env.UnsetUserFolderVariables();
        env.Set("XDG_DATA_HOME", dir.File("data"));
        notes = dir.File("data/Exports");
        onCallingThread = true;
        engine->reverb.enabled = 0;
        project->totalDuration = 4.0f;  // two exports side by side fit the smallest drive
        AddDoorRainKnock(true);
        app->questionDialog = [](const char*, const char*) { return true; };
        observer.commitStep = [](const std::string& step) {
            if (!gCommitStepsFile.empty())
                if (std::FILE* f = std::fopen(gCommitStepsFile.c_str(), "a")) {
                    std::fprintf(f, "%s\n", step.c_str());
                    std::fclose(f);
                }
            if (gAtCommitStep) gAtCommitStep(step);
            if (step == gKillAtStep) ::kill(::getpid(), SIGKILL);
        };
    }

    // The project changed: every file of a new export differs.
    void Change() {
        engine->masterGain = 0.5f;
        for (PlaybackVoice& v : engine->voices) v.gain = v.gain.load() * 0.5f;
    }

    // An export of the (changed, when `changed`) project into `folder` in a
    // child, killed at the commit step `killAt` ("": not killed); its exit
    // status. The child's final status goes to the test's log.
    int ExportInChild(const std::string& folder, bool changed, const std::string& killAt = "") {
        return RunInChild([this, folder, changed, killAt] {
            if (changed) Change();
            gKillAtStep = killAt;
            const ExportStart started = Run(folder);
            std::fprintf(stderr, "[Test] the child's export: %s\n", ExportStatusText(*app).c_str());
            ::_exit(started == ExportStart::Started ? 0 : 1);
        });
    }

    // The next start of the program, in a process of its own.
    int StartInChild() {
        const std::string data = NotesFolder();
        return RunInChild([data] {
            AppState app;
            SettleInterruptedExports(app, data, "");
        });
    }
};
