// export_records.cpp — what every export pass shares: the fader copy, the
// rollback of a pass, sample snapping, the range test and the final text.
//
// Index
//   CurrentMixLevels
//   ExportRollback / MakeExportFolder
//   ReportPassProgress / HoldExport
//   SnapSamplePosition / IsInExportRange
//   ExportLosses / ExportFinalText / ExportToastText
#include "export/export_records.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "document/project.h"
#include "document/shortened_text.h"
#include "document/text_util.h"
#include "export/write_fault.h"

ExportMixLevels CurrentMixLevels(const AudioEngine& engine) {
    ExportMixLevels mix;
    mix.masterGain = engine.masterGain.load();
    for (int g = 0; g < 3; ++g) mix.groupGain[size_t(g)] = engine.groupGain[size_t(g)].load();
    return mix;
}

// ---------------------------------------------------------------------------
// ExportRollback / MakeExportFolder
// ---------------------------------------------------------------------------

ExportRollback::~ExportRollback() {
    if (committed || staged) return;
    for (const std::string& file : files) std::remove(file.c_str());
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) ::rmdir(it->c_str());  // stays when not empty
    std::printf("[Export] Rollback: removed %d files\n", int(files.size()));
}

bool MakeExportFolder(const std::string& path, ExportRollback& rollback, const std::string& exportFolder) {
    namespace fs = std::filesystem;
    if (path.empty()) {
        std::printf("[Export] No output folder given\n");
        return false;
    }
    const std::string within = exportFolder.empty() || exportFolder.back() == '/' ? exportFolder : exportFolder + "/";
    std::error_code ec;
    fs::path built;
    for (const fs::path& part : fs::path(path)) {
        built /= part;
        if (part.empty()) continue;  // a trailing separator
        // Below the export folder a link never stands for a folder: the
        // export writes nothing through it.
        struct stat st {};
        if (!within.empty() && built.string().size() > within.size() &&
            built.string().compare(0, within.size(), within) == 0 && ::lstat(built.c_str(), &st) == 0 &&
            S_ISLNK(st.st_mode)) {
            std::printf("[Export] %s is a link; the export writes nothing through it\n", built.c_str());
            return false;
        }
        if (fs::is_directory(built, ec)) continue;
        if (!fs::create_directory(built, ec) && !fs::is_directory(built)) {
            std::printf("[Export] Could not create folder %s (%s)\n", built.c_str(),
                        ec ? ec.message().c_str() : "a file of that name exists");
            NoteWriteFailure(built.string(), ec ? ec.value() : EEXIST, true);
            return false;
        }
        rollback.folders.push_back(built.string());
    }
    return true;
}

// ---------------------------------------------------------------------------
// ReportPassProgress / HoldExport
// ---------------------------------------------------------------------------

namespace {

// Waits while the job's hold is on for this pass and fraction, until it is
// let go or the export is stopped.
void WaitAtHold(const ExportJob& job, double fraction) {
    ExportHold* hold = job.hold;
    if (!hold || !hold->armed.load(std::memory_order_acquire)) return;
    {
        std::lock_guard<std::mutex> lock(hold->mutex);
        if (hold->pass != job.pass || fraction < hold->fraction) return;
    }
    hold->waiting.store(true);
    while (hold->armed.load() && !ExportCancelled(job)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    hold->armed.store(false);  // once: a hold is for one export
    hold->waiting.store(false);
}

}  // namespace

void ReportPassProgress(const ExportJob& job, double fraction) {
    const double f = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
    if (job.progress) job.progress->store(float(job.progressFrom + job.progressSpan * f), std::memory_order_relaxed);
    WaitAtHold(job, f);
}

void HoldExport(ExportHold& hold, bool on, ExportPass pass, double fraction) {
    {
        std::lock_guard<std::mutex> lock(hold.mutex);
        hold.pass = pass;
        hold.fraction = fraction;
    }
    hold.armed.store(on, std::memory_order_release);
}

bool ExportWaitsAtHold(const ExportHold& hold) { return hold.waiting.load(); }

// ---------------------------------------------------------------------------
// SnapSamplePosition / IsInExportRange
// ---------------------------------------------------------------------------

int64_t SnapSamplePosition(bool snap, float stepSamples, int64_t position) {
    if (!snap || !(stepSamples > 0)) return position;
    const double rounded = std::trunc(double(stepSamples) + 0.5);
    if (!(rounded >= 1) || rounded > 9.0e18) return position;
    const int64_t n = int64_t(rounded);
    const int64_t v = position + n / 2;
    return v - v % n;
}

bool IsInExportRange(bool hasRange, float rangeIn, float rangeOut, const RenderResult& result) {
    if (!hasRange) return true;
    return result.startTime + result.duration > rangeIn && rangeOut > result.startTime;
}

// ---------------------------------------------------------------------------
// ExportFinalText
// ---------------------------------------------------------------------------

std::string ExportFinalText(int32_t filesWritten) {
    char text[96];
    std::snprintf(text, sizeof(text), "Export complete \xE2\x80\x94 %d file%s", filesWritten,
                  filesWritten == 1 ? "" : "s");
    return text;
}

const char* ExportPassName(ExportPass pass) {
    switch (pass) {
        case ExportPass::Aaf: return "AAF session";
        case ExportPass::Mixdown: return "mixdown";
        case ExportPass::Stems: return "stems";
        case ExportPass::Tracks: return "tracks";
        default: return "clips";
    }
}

namespace {

constexpr size_t kStatusBytes = 127;
// A name keeps at least this much of itself (with its "…"), however much
// the reason and the counts take: a text that then runs past the status line
// is whole in the toast, and the status line shortens it by the same rule.
constexpr size_t kLeastNameBytes = 24;

// `head`, `name` and `after` with the counts' `tail`, the name shortened by
// the one rule so that the whole fits the status line.
std::string FittedText(const std::string& head, const std::string& name, const std::string& after,
                       const std::string& tail) {
    const size_t fixed = head.size() + after.size() + tail.size();
    const size_t room = std::max(fixed < kStatusBytes ? kStatusBytes - fixed : 0, kLeastNameBytes);
    const std::string kept =
        ShortenedText(name, [room](const std::string& candidate) { return candidate.size() <= room; });
    return head + kept + after + tail;
}

// "; " and the layer counts, or nothing when every layer went out as measured.
std::string LayerCountsTail(const LayerSoundCounts& counts) {
    const std::string text = LayerSoundCountsText(counts);
    return text.empty() ? text : "; " + text;
}

std::string FileNameIn(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The system refused to make anything in the folder.
bool NotWritable(int error) { return error == EACCES || error == EPERM || error == EROFS; }

// What failed and why, as a name and the text around it: "“Folder” is not
// writable (Permission denied)" when a folder refused the export's files;
// else the first lost file (and how many more) with the system's reason.
struct WhyParts {
    std::string before, name, after;
};

WhyParts WhyOf(const ExportLosses& losses) {
    const WriteFailure& why = losses.why;
    const std::string reason = why.error != 0 ? " (" + std::string(std::strerror(why.error)) + ")" : std::string();
    // A drive's missing feature is said as such, never as the folder's permissions.
    if (!why.problem.empty()) return {"\xE2\x80\x9C", FileNameIn(why.path), "\xE2\x80\x9D: " + why.problem};
    if (why.error != 0 && NotWritable(why.error)) {
        const std::string folder = FileNameIn(FolderOf(why.path));
        if (!folder.empty()) return {"\xE2\x80\x9C", folder, "\xE2\x80\x9D is not writable" + reason};
    }
    const size_t count = losses.files.size();
    std::string more;
    if (count > 1) more = " and " + std::to_string(count - 1) + " more";
    return {"", losses.files.empty() ? FileNameIn(why.path) : losses.files.front(), more + reason};
}

}  // namespace

void ExportLosses::AddFile(const std::string& path) { files.push_back(FileNameIn(path)); }

std::string NothingWrittenText(const ExportLosses& losses, const LayerSoundCounts& layers) {
    const WhyParts why = WhyOf(losses);
    return FittedText("Export failed \xE2\x80\x94 nothing written: " + why.before, why.name, why.after,
                      LayerCountsTail(layers));
}

void ExportLosses::NoteWhy(WriteFailure failure) {
    if (why.error == 0 && failure.error != 0) why = std::move(failure);
}

namespace {

bool FullDisk(int error) { return error == ENOSPC || error == EDQUOT; }

// Why the export failed, and what stands on the disk after it.
std::string FailureText(const ExportReport& report, const std::string& tail) {
    const std::string lead = report.commitFailed         ? "Export failed at the commit \xE2\x80\x94 "
                             : report.failedBeforePasses ? "Export failed \xE2\x80\x94 "
                                                         : "Export failed in the " +
                                                               std::string(ExportPassName(report.failedPass)) +
                                                               " \xE2\x80\x94 ";
    const std::string standing = report.earlierWhole ? "; the earlier export is whole" : "; nothing was written";
    const ExportLosses& losses = report.losses;
    const WriteFailure& why = losses.why;
    const std::string reason = why.error != 0 ? " (" + std::string(std::strerror(why.error)) + ")" : std::string();
    if (!report.folderGone.empty())
        return FittedText(lead + "the export folder \xE2\x80\x9C", FileNameIn(report.folderGone),
                          "\xE2\x80\x9D was removed during the export" + standing, tail);
    if (!report.blockedBy.empty())
        return FittedText(lead + "another program put \xE2\x80\x9C", report.blockedBy,
                          "\xE2\x80\x9D there while the export ran; it was left as it is" + standing, tail);
    const std::string file = losses.files.empty() ? FileNameIn(why.path) : losses.files.front();
    const std::string folder = FileNameIn(FolderOf(why.path));
    if (FullDisk(why.error)) {
        // The file that met the full disk, in its own folder.
        const std::string met = why.path.empty() ? file : FileNameIn(why.path);
        const std::string drive = report.drive.empty() ? std::string("the disk is full") : "the drive at " + report.drive + " is full";
        if (report.failedBeforePasses)  // nothing of the export's own was made yet: the folder is named
            return FittedText(lead + drive + " (\xE2\x80\x9C", folder, "\xE2\x80\x9D)" + standing, tail);
        return FittedText(lead + drive + " (\xE2\x80\x9C", met, "\xE2\x80\x9D in \xE2\x80\x9C" + folder +
                          "\xE2\x80\x9D)" + standing, tail);
    }
    if (!why.problem.empty())
        return FittedText(lead + "\xE2\x80\x9C", FileNameIn(why.path), "\xE2\x80\x9D: " + why.problem + standing, tail);
    if (why.error != 0 && NotWritable(why.error) && !folder.empty())
        return FittedText(lead + "\xE2\x80\x9C", folder,
                          "\xE2\x80\x9D is not writable" + reason + standing, tail);
    const size_t more = losses.files.size() > 1 ? losses.files.size() - 1 : 0;
    if (file.empty()) return lead + "the export could not be finished" + standing + tail;
    return FittedText(lead + "\xE2\x80\x9C", file,
                      "\xE2\x80\x9D" + (more > 0 ? " and " + std::to_string(more) + " more" : std::string()) +
                          " could not be written" + reason + standing,
                      tail);
}

std::string OutcomeText(const ExportReport& report) {
    const std::string tail = LayerCountsTail(report.layerSounds);
    if (report.stopped)
        return std::string("Export stopped") +
               (report.earlierWhole ? " \xE2\x80\x94 the earlier export is whole" : " \xE2\x80\x94 nothing was written");
    if (report.Failed()) return FailureText(report, tail);
    const ExportLosses& losses = report.losses;
    if (!losses.layers.empty()) {
        const size_t count = losses.layers.size();
        char lead[96];
        std::snprintf(lead, sizeof lead, "Export finished with errors \xE2\x80\x94 %zu layer%s without sound: ", count,
                      count == 1 ? "" : "s");
        const std::string more = count > 1 ? " and " + std::to_string(count - 1) + " more" : std::string();
        return FittedText(lead, losses.layers.front(), more, tail);
    }
    return ExportFinalText(report.filesWritten) + tail;
}

}  // namespace

std::string ExportFinalText(const ExportReport& report) {
    std::string text = OutcomeText(report);
    const std::string settled = SettledText(report.settled);
    if (!settled.empty()) text += " \xE2\x80\x94 " + settled;
    return text;
}

std::string ExportToastText(const ExportReport& report) {
    const std::string complete = ExportFinalText(report.filesWritten);
    return report.finalText == complete ? "Export complete" : report.finalText;
}
