// exported_files.cpp — an export's folder read back for comparison.
//
// Index
//   EveryExportPass
//   ExportedFiles / ExpectSameExportFiles
//   ExportEveryPass
//   CapturingAafStep / ExpectSameSession
#include "support/exported_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "export/aaf_export.h"
#include "export/earlier_version.h"
#include "export/export_manifest.h"
#include "library/file_registry.h"
#include "library/sound_probe.h"
#include "operations/export_job.h"
#include "support/document_records.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"

namespace {

// The bext chunk: 256 bytes of description, 32 of originator, 32 of its
// reference, then 10 of date and 8 of time.
constexpr size_t kBextDateAt = 320;
constexpr size_t kBextDateAndTimeBytes = 18;

}  // namespace

ExportSettings EveryExportPass() {
    ExportSettings s;
    s.exportFormatAAF = s.exportFormatWAV = true;
    s.exportWavMixdown = s.exportWavStems = s.exportWavTracks = s.exportWavClips = true;
    s.exportReverbStem = true;
    s.exportAAFMarkers = true;
    return s;
}

std::map<std::string, std::string> ExportedFiles(const std::string& folder) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(folder, ec)) {
        if (!e.is_regular_file()) continue;
        std::string bytes = ReadWholeFile(e.path().string());
        const size_t bext = bytes.find("bext");
        const size_t date = bext + 8 + kBextDateAt;
        if (e.path().extension() == ".wav" && bext != std::string::npos && date + kBextDateAndTimeBytes <= bytes.size())
            std::memset(bytes.data() + date, 0, kBextDateAndTimeBytes);
        files[fs::relative(e.path(), folder).string()] = std::move(bytes);
    }
    return files;
}

void ExpectSameExportFiles(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b) {
    std::vector<std::string> namesA, namesB;
    for (const auto& [name, bytes] : a) namesA.push_back(name);
    for (const auto& [name, bytes] : b) namesB.push_back(name);
    EXPECT_EQ(namesA, namesB);
    for (const auto& [name, bytes] : a) {
        auto other = b.find(name);
        if (other == b.end() || std::filesystem::path(name).extension() == ".aaf") continue;
        EXPECT_TRUE(bytes == other->second) << name << " differs";
    }
}

AafExportStep ProgramAafStep() {
    return [](const ExportJob& job, const Project& p, const AudioEngine& e) { return WriteAafExport(job, p, e); };
}

std::string ExportEveryPass(DocumentRecords& records, const std::string& chosenPath, AafExportStep aafStep) {
    SoundProbe probe;
    ExportContext ctx = records.ExportContextOf(aafStep ? std::move(aafStep) : ProgramAafStep());
    ctx.registry = &FileRegistry::Instance();
    ctx.probe = &probe;
    ctx.library = records.library.get();
    ctx.startThread = RunOnCallingThread;
    records.app->exportSettings = EveryExportPass();
    QuietStdout(true);
    const ExportStart started =
        StartExport(ctx, MakeExportJob(*records.app, *records.project, *records.engine, chosenPath));
    PollExport(*records.app);
    QuietStdout(false);
    StopSoundProbe(probe);
    EXPECT_EQ(started, ExportStart::Started);
    return ExportStatusText(*records.app);
}

AafExportStep CapturingAafStep(SessionList& session) {
    return [&session](const ExportJob& job, const Project& p, const AudioEngine& e) {
        const AafSessionWriter program = ProgramAafSessionWriter();
        return WriteAafExport(job, p, e, [&](const std::string& path, const AafClipList& l, int32_t rate, bool x) {
            session.list = l;
            for (const std::string& essence : l.essencePaths)
                session.names.push_back(std::filesystem::path(essence).filename().string());
            return program(path, l, rate, x);
        });
    };
}

void ExpectSameSession(const SessionList& a, const SessionList& b) {
    EXPECT_EQ(a.names, b.names);
    EXPECT_EQ(a.list.essenceNames, b.list.essenceNames);
    EXPECT_EQ(a.list.positions, b.list.positions);
    EXPECT_EQ(a.list.lengths, b.list.lengths);
    EXPECT_EQ(a.list.sourceOffsets, b.list.sourceOffsets);
    EXPECT_EQ(a.list.fileLengths, b.list.fileLengths);
    EXPECT_EQ(a.list.tracks, b.list.tracks);
    EXPECT_EQ(a.list.trackNames, b.list.trackNames);
    EXPECT_EQ(a.list.fadeIns, b.list.fadeIns);
    EXPECT_EQ(a.list.fadeOuts, b.list.fadeOuts);
    EXPECT_EQ(a.list.gains, b.list.gains);
    ASSERT_EQ(a.list.gainCurves.size(), b.list.gainCurves.size());
    for (size_t i = 0; i < a.list.gainCurves.size(); ++i)
        EXPECT_TRUE(a.list.gainCurves[i].points == b.list.gainCurves[i].points) << "curve " << i;
    ASSERT_EQ(a.list.markers.size(), b.list.markers.size());
    for (size_t i = 0; i < a.list.markers.size(); ++i) {
        EXPECT_EQ(a.list.markers[i].position, b.list.markers[i].position);
        EXPECT_EQ(a.list.markers[i].label, b.list.markers[i].label);
    }
}

std::vector<std::string> HiddenExportEntries(const std::string& folder) {
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().filename().string().rfind(kExportMarkPrefix, 0) == 0 ||
            it->path().filename().string().rfind(kEarlierVersionFolderPrefix, 0) == 0)
            found.push_back(it->path());
    return found;
}
