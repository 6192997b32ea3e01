// export_records.cpp — what every export pass shares: the fader copy, the
// rollback of a pass, sample snapping, the range test and the final text.
//
// Index
//   CurrentMixLevels
//   ExportRollback / MakeExportFolder
//   ReportPassProgress / HoldExport
//   SnapSamplePosition / IsInExportRange
//   ExportLosses / ExportFinalText
#include "export/export_records.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "document/project.h"
#include "document/text_util.h"

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
    if (committed) return;
    if (announce) {
        std::printf("[Export] Rollback: %d files left to the pass's undo\n", int(files.size()));
        return;
    }
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
        rollback.Announce(built.string(), true);
        if (!fs::create_directory(built, ec) && !fs::is_directory(built)) {
            std::printf("[Export] Could not create folder %s (%s)\n", built.c_str(),
                        ec ? ec.message().c_str() : "a file of that name exists");
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

std::string ExportFinalText(int32_t filesWritten, bool aafFailed, bool wavFailed) {
    char text[96];
    const char* plural = filesWritten == 1 ? "" : "s";
    if (aafFailed)
        std::snprintf(text, sizeof(text), "AAF export FAILED — %d WAV%s written", filesWritten, plural);
    else if (wavFailed)
        std::snprintf(text, sizeof(text), "Export finished with errors — %d file%s written", filesWritten, plural);
    else
        std::snprintf(text, sizeof(text), "Export complete — %d file%s", filesWritten, plural);
    return text;
}

namespace {

constexpr size_t kStatusBytes = 127;

// "<head>: <name>" plus " and %d more" when more than one was lost, the name
// cut (at a character boundary, with "…") so that the whole and `tail` fit
// the status.
std::string NamingText(const char* head, size_t count, const char* what, const std::string& first,
                       const char* opening, const std::string& tail) {
    char lead[96];
    std::snprintf(lead, sizeof lead, "%s \xE2\x80\x94 %zu %s%s %s: ", opening, count, what, count == 1 ? "" : "s",
                  head);
    char more[48] = "";
    if (count > 1) std::snprintf(more, sizeof more, " and %zu more", count - 1);
    const size_t fixed = std::strlen(lead) + std::strlen(more) + tail.size();
    std::string name = first;
    if (fixed + name.size() > kStatusBytes) {
        static const std::string kEllipsis = "\xE2\x80\xA6";
        const size_t room = kStatusBytes > fixed + kEllipsis.size() ? kStatusBytes - fixed - kEllipsis.size() : 0;
        name = name.substr(0, Utf8SafeCutLength(name, room)) + kEllipsis;
    }
    return lead + name + more + tail;
}

// "; %d layer%s silent (sound missing)", or nothing when every layer sounded.
std::string SilentLayersTail(int32_t silent) {
    if (silent < 1) return {};
    char text[64];
    std::snprintf(text, sizeof text, "; %d layer%s silent (sound missing)", silent, silent == 1 ? "" : "s");
    return text;
}

}  // namespace

void ExportLosses::AddFile(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    files.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
}

namespace {

std::string LossText(const ExportReport& report) {
    if (report.stopped) return "Export stopped";
    const std::string tail = SilentLayersTail(report.silentLayers);
    const char* const errors = "Export finished with errors";
    if (report.aafFailed && !report.losses.files.empty())
        return NamingText("not written", report.losses.files.size(), "file", report.losses.files.front(),
                          "AAF export FAILED", tail);
    if (!report.aafFailed && !report.losses.files.empty())
        return NamingText("not written", report.losses.files.size(), "file", report.losses.files.front(), errors, tail);
    if (!report.aafFailed && !report.losses.layers.empty())
        return NamingText("without sound", report.losses.layers.size(), "layer", report.losses.layers.front(), errors,
                          tail);
    return ExportFinalText(report.filesWritten, report.aafFailed, report.wavFailed) + tail;
}

}  // namespace

std::string ExportFinalText(const ExportReport& report) {
    std::string text = LossText(report);
    if (report.notPutBack > 0) {
        const bool one = report.notPutBack == 1;
        text += " \xE2\x80\x94 " + std::to_string(report.notPutBack) + " earlier file" + (one ? "" : "s") +
                " could not be put back; " + (one ? "it is" : "they are") + " in " + report.notPutBackIn;
    }
    if (report.leftInPlace > 0) {
        const bool one = report.leftInPlace == 1;
        text += "; " + std::to_string(report.leftInPlace) + " file" + (one ? " was" : "s were") +
                " another program's and " + (one ? "was" : "were") + " left in place";
    }
    return text;
}
