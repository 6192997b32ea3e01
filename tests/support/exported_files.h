// exported_files.h — an export's folder read back for comparing two exports.
//
// Index
//   EveryExportPass        export settings with every pass, the reverb stem and AAF markers
//   ExportedFiles          every file below a folder, with its bytes; a WAV file's clock fields blanked
//   ExpectSameExportFiles  two exports hold the same names and, AAF sessions aside, the same bytes
//   HiddenExportEntries    the hidden entries exports make in a folder (this version's and the previous one's)
//   ProgramAafStep         the program's AAF step, as the export tab hands it to a job
//   ExportEveryPass        a document's export of every pass, as the Export tab starts it
//   SessionList / CapturingAafStep / ExpectSameSession   the AAF session as handed to its writer
#pragma once

#include <map>
#include <string>
#include <vector>

#include "export/aaf_clip_list.h"
#include "export/export_records.h"
#include "export/export_settings.h"

// AAF (with markers) and every WAV pass: mixdown, stems with the reverb stem,
// tracks and clips.
ExportSettings EveryExportPass();

// Every regular file below `folder` by its path relative to it, with its
// bytes. In a WAV file the bext chunk's origination date and time (the
// writer's clock at the moment of writing) are zeroed; every other byte is
// as written, so two exports of the same project compare equal.
std::map<std::string, std::string> ExportedFiles(const std::string& folder);

// The paths of the hidden entries exports make among `folder`'s own
// entries (control, staging and holding folders, and the previous
// version's replacing folders); entries vanishing meanwhile (another
// process removing them) are simply not listed.
std::vector<std::string> HiddenExportEntries(const std::string& folder);

// Test expectations: the same file names, and every file but the AAF session
// files (whose object ids and dates are their own; compare what a reader
// places instead) byte for byte.
void ExpectSameExportFiles(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b);

// The session as the AAF step handed it to the writer, folder prefixes aside.
// The program's AAF step: the session written by the program's own writer.
AafExportStep ProgramAafStep();

struct DocumentRecords;

// Every pass of the records' document (EveryExportPass) into `chosenPath`
// (a folder and the base name), started as the Export tab starts it, with
// the program's registry and a sound probe of its own, and run on the
// calling thread; the final text. `aafStep` null: the program's.
std::string ExportEveryPass(DocumentRecords& records, const std::string& chosenPath, AafExportStep aafStep = nullptr);

struct SessionList {
    std::vector<std::string> names;
    AafClipList list;
};
// The program's AAF step, keeping what it hands the session writer in `session`.
AafExportStep CapturingAafStep(SessionList& session);
// Test expectations: the same essence names, positions, lengths, offsets,
// lanes, fades, gains, curves and markers.
void ExpectSameSession(const SessionList& a, const SessionList& b);
