// export_replacement.h — replacing an earlier export with the same name: which
// of its files each pass owns and which the export replaces, and setting them
// aside while the pass runs, so that they go only when the pass has succeeded
// and come back whole when it failed or was killed (replacement_journal.h).
//
// Index
//   IsOwnBroadcastWav          a WAV file whose bext originator is the program
//   EarlierExportFiles         an earlier export's files that one pass would replace
//   EntriesAtTemporaryNames    what stands at the ".tmp" names of those
//   ExportNamePlan / PlanExportNames / PlanWritesName   the names an export writes
//   ExportSetAside             a pass's record: entries set aside where they stand, files made (with identities)
//   SetAsideFiles / FinishSetAside
//
// An earlier export's files are those in the pass's own folders that carry
// the pass's own names: the new export may write over any of them, so the
// user is asked about all of them. Once the pass has succeeded, each of them
// is gone when the new export wrote a file of its name or when the program
// wrote it (its bext originator says so); any other file of a matching name
// goes back where it was. A file of any other name is never listed, moved
// or removed.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "export/export_records.h"
#include "export/replacement_journal.h"
#include "platform/file_util.h"

struct Project;
struct ReplacementJournal;

// The WAV pass of a WavPassMode.
ExportPass WavExportPass(int32_t mode);

// True for a RIFF/WAVE file whose bext originator is "Tessaloom".
bool IsOwnBroadcastWav(const std::string& path);

// The files of an earlier export that `pass` of `job` writes over or
// replaces, in a stable order; empty when the job does not run the pass.
//   Aaf      the session file and the program's WAV files in "Audio Files"
//   Mixdown  "<base>.wav"
//   Stems    "<base> - *.wav" beside the mixdown: group stems and the reverb
//            stem, owned by the first of the stems, tracks and clips passes
//            that writes into that folder (the stems pass, or the pass that
//            carries the reverb stem)
//   Tracks   "Tracks/<base> - *.wav";  Clips  "Clips/<base> - *.wav"
// A folder below the output folder that is a link (or is reached through
// one) is never looked into: nothing in it is listed, moved or removed.
std::vector<std::string> EarlierExportFiles(const ExportJob& job, ExportPass pass);

// What stands at the temporary names ("<name>.tmp") of the names `pass`
// lists above: the writers make their files there, so whatever stands there
// is asked about and set aside with the pass like an earlier file (it comes
// back after a stop and, unless the program wrote it, after success too).
inline constexpr const char* kWriterTemporarySuffix = ".tmp";
std::vector<std::string> EntriesAtTemporaryNames(const ExportJob& job, ExportPass pass);

// The names an export writes, worked out from the job and the document
// before it runs: they tell the files of an earlier export that it replaces
// from files of other programs that only fit a pass's pattern.
struct ExportNamePlan {
    std::string outDir;
    std::string fileBase;                 // "<fileBase> - " begins the WAV files' names
    std::string sessionFolder, aafFile;   // empty without the AAF step
    bool mixdown = false;
    std::set<std::string> besideMixdown;  // parts of "<fileBase> - <part>.wav": stems, reverb stem
    std::set<std::string> tracks;         // parts in "Tracks"
    std::map<std::string, int> clips;     // parts in "Clips" before the pass makes them unique, by results
    size_t clipRoom = 0;
    std::set<std::string> essencePrefixes;  // "<label>_<iii>_" of every result
    bool reverbReturns = false;             // "Reverb.L.wav" and "Reverb.R.wav"
};
ExportNamePlan PlanExportNames(const ExportJob& job, const Project& project);

// True when the export of `plan` writes a file named `path` (one of
// EarlierExportFiles): the session file and the mixdown always; a stem, the
// reverb stem, a track or a reverb return the job makes; a clip or an essence
// file that a result may be given (the clips pass may append "_2", "_3"...).
bool PlanWritesName(const ExportNamePlan& plan, const std::string& path);

// One pass's record (replacement_journal.h): the earlier entries it
// replaces, each renamed to a hidden name in its own folder (the folder the
// pass writes in: the same file system, the same access for everyone who
// shares it) once a manifest naming them is on disk, and everything the pass
// then makes. An entry that cannot be set aside stays where it is, and the
// pass does not write over it: the file of that name is not written. The
// record is kept in memory also when nothing was set aside: a stopped export
// undoes every pass by it.
struct ExportSetAside {
    std::string folder;                                     // the hidden folder of the manifest; empty: none
    std::vector<std::pair<std::string, std::string>> moved;  // original path, where it waits (same folder)
    std::vector<AsideEntry> entries;                        // the same, with what each entry is
    struct Kept {
        std::string path;
        FileIdentity identity;  // as listed
    };
    std::vector<Kept> kept;
    std::shared_ptr<ReplacementJournal> journal;  // the pass's record; never null once set aside
    bool finished = false;

    // For ExportJob::announce while the pass runs: each file and folder it
    // makes goes into the record (and the manifest) first.
    std::function<void(const std::string& path, bool folder)> Announcer() const;
    // For the export's held folders while the pass runs: each file it makes
    // goes into the record with its identity.
    std::function<void(const std::string& path, const FileIdentity& identity)> IdentityNoter() const;

    ExportSetAside() = default;
    ExportSetAside(ExportSetAside&&) = default;
    ExportSetAside& operator=(ExportSetAside&&) = default;
    ExportSetAside(const ExportSetAside&) = delete;
    ExportSetAside& operator=(const ExportSetAside&) = delete;
    // Unfinished (the pass left by an exception): the pass is undone.
    ~ExportSetAside();
};

// Sets the existing ones of `files` aside, each under a new hidden name in
// its own folder, after the replacement is noted in `noteFolder` (when
// given) and its manifest is on disk (SettleNotedReplacements at the next
// start finishes or undoes it when the program does not).
// Anything at a listed name moves (a link or a pipe as the entry it is),
// while it is the entry listed.
// `exportFd` (-1: opened by the path) is the export folder the export holds.
ExportSetAside SetAsideFiles(const std::vector<std::string>& files, const std::string& outDir,
                             const std::string& noteFolder = std::string(), int exportFd = -1);

// After the pass, or after the whole export. Kept (`keep`, noted in the
// manifest first): a file set aside is removed when the pass wrote a file of
// its name or when the program wrote it, and returns otherwise; one kept in
// place is removed when the pass left it and the program wrote it. Not kept
// (a failed pass, or any pass of a stopped export): the files the pass made
// go (only files the program writes, reached without a link), then every
// file set aside returns to its place and the folders the pass made go when
// empty. Then the hidden folder, its manifest and the note go. Logs what it
// did; a second call does nothing.
// With `trash` (not kept only), the files the pass made are moved there
// instead of removed (replacement_trash.h).
// Returns what settling did (nothing on a second call).
struct ReplacementTrash;
ReplacementSettled FinishSetAside(ExportSetAside& aside, bool keep, ReplacementTrash* trash = nullptr);
