// export_replacement.cpp — an earlier export's files by pass, and setting
// them aside while the pass that replaces them runs.
//
// Index
//   WavExportPass / IsOwnBroadcastWav
//   EarlierExportFiles   names of each pass in its folders
//   SetAsideFiles / FinishSetAside / ~ExportSetAside
#include "export/export_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "export/aaf_export.h"
#include "export/bwf_writer.h"
#include "export/export_names.h"
#include "platform/file_names.h"

namespace fs = std::filesystem;

ExportPass WavExportPass(int32_t mode) {
    switch (mode) {
        case kWavStems: return ExportPass::Stems;
        case kWavTracks: return ExportPass::Tracks;
        case kWavClips: return ExportPass::Clips;
        default: return ExportPass::Mixdown;
    }
}

bool IsOwnBroadcastWav(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    // The bext chunk lies in the header, before the samples.
    unsigned char head[4096];
    const ssize_t n = ::pread(fd, head, sizeof head, 0);
    ::close(fd);
    if (n < 12 || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return false;
    const size_t size = size_t(n);
    for (size_t at = 12; at + 8 <= size;) {
        const uint32_t chunk = uint32_t(head[at + 4]) | uint32_t(head[at + 5]) << 8 | uint32_t(head[at + 6]) << 16 |
                               uint32_t(head[at + 7]) << 24;
        if (std::memcmp(head + at, "bext", 4) == 0) {
            const size_t originator = at + 8 + 256;
            if (chunk < 288 || originator + 32 > size) return false;
            const size_t length = strnlen(reinterpret_cast<const char*>(head + originator), 32);
            return std::string(reinterpret_cast<const char*>(head + originator), length) == kBwfOriginator;
        }
        at += 8 + size_t(chunk) + (chunk & 1);
    }
    return false;
}

// ---------------------------------------------------------------------------
// EarlierExportFiles
// ---------------------------------------------------------------------------

namespace {

bool IsRegularFile(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(path, ec));
}

// Regular files of `folder` whose names `matches`, sorted.
template <typename Match>
std::vector<std::string> FilesNamed(const std::string& folder, Match matches) {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (matches(name) && IsRegularFile(it->path().string())) found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// "<base> - <anything>.wav"
auto PrefixedWav(const std::string& fileBase) {
    return [prefix = fileBase + " - "](const std::string& name) {
        return name.size() > prefix.size() + 4 && name.compare(0, prefix.size(), prefix) == 0 && EndsWith(name, ".wav");
    };
}

// The essence files' names: "<label>_<index of 3 or more digits>_<rest>.wav",
// and the reverb returns.
bool IsEssenceName(const std::string& name) {
    if (name == "Reverb.L.wav" || name == "Reverb.R.wav") return true;
    if (!EndsWith(name, ".wav")) return false;
    for (size_t at = name.find('_'); at != std::string::npos; at = name.find('_', at + 1)) {
        size_t digits = 0;
        while (at + 1 + digits < name.size() && std::isdigit(static_cast<unsigned char>(name[at + 1 + digits])))
            ++digits;
        if (at > 0 && digits >= 3 && at + 1 + digits < name.size() - 4 && name[at + 1 + digits] == '_') return true;
    }
    return false;
}

// The pass that writes "<base> - *.wav" beside the mixdown: the stems pass,
// else the first of tracks and clips when it carries the reverb stem.
ExportPass OutDirPrefixOwner(const ExportJob& job, bool* any) {
    *any = true;
    if (job.wavStems) return ExportPass::Stems;
    if (job.reverbStem && job.wavTracks) return ExportPass::Tracks;
    if (job.reverbStem && job.wavClips) return ExportPass::Clips;
    *any = false;
    return ExportPass::Stems;
}

}  // namespace

std::vector<std::string> EarlierExportFiles(const ExportJob& job, ExportPass pass) {
    std::vector<std::string> found;
    if (pass == ExportPass::Aaf) {
        if (!job.exportAAF) return found;
        const std::string session = AafSessionName(job);
        if (!FileNameProblem(session).empty()) return found;
        const std::string folder = job.outDir + "/" + session;
        const std::string aaf = folder + "/" + AafFileName(session);
        if (IsRegularFile(aaf)) found.push_back(aaf);
        for (const std::string& f : FilesNamed(folder + "/Audio Files", IsEssenceName)) found.push_back(f);
        return found;
    }
    if (!job.exportWAV) return found;
    const std::string base = ExportBaseName(job.baseName, job.outDir);
    if (!FileNameProblem(base).empty()) return found;
    const std::string fileBase = WavFileBase(base);
    const bool chosen[] = {job.wavMixdown, job.wavStems, job.wavTracks, job.wavClips};
    if (pass == ExportPass::Mixdown) {
        const std::string mixdown = job.outDir + "/" + fileBase + ".wav";
        if (chosen[kWavMixdown] && IsRegularFile(mixdown)) found.push_back(mixdown);
        return found;
    }
    bool prefixOwned = false;
    if (OutDirPrefixOwner(job, &prefixOwned) == pass && prefixOwned)
        found = FilesNamed(job.outDir, PrefixedWav(fileBase));
    const char* folder = pass == ExportPass::Tracks ? "/Tracks" : pass == ExportPass::Clips ? "/Clips" : nullptr;
    const bool passChosen = pass == ExportPass::Tracks ? chosen[kWavTracks] : pass == ExportPass::Clips && chosen[kWavClips];
    if (folder && passChosen)
        for (const std::string& f : FilesNamed(job.outDir + folder, PrefixedWav(fileBase))) found.push_back(f);
    return found;
}

// ---------------------------------------------------------------------------
// SetAsideFiles / FinishSetAside
// ---------------------------------------------------------------------------

ExportSetAside SetAsideFiles(const std::vector<std::string>& files, const std::string& outDir) {
    ExportSetAside aside;
    for (const std::string& path : files) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (aside.folder.empty()) {
            std::string pattern = outDir + "/.tessaloom-replacing-XXXXXX";
            if (::mkdtemp(pattern.data())) aside.folder = pattern;
        }
        const std::string waiting = aside.folder + "/" + std::to_string(aside.moved.size());
        if (!aside.folder.empty() && ::rename(path.c_str(), waiting.c_str()) == 0) {
            aside.moved.emplace_back(path, waiting);
        } else {
            std::printf("[Export] Could not set %s aside (%s): it is replaced in place\n", path.c_str(),
                        std::strerror(errno));
            aside.kept.push_back({path, st.st_dev, st.st_ino});
        }
    }
    return aside;
}

void FinishSetAside(ExportSetAside& aside, bool passSucceeded) {
    if (aside.finished) return;
    aside.finished = true;
    int removed = 0, restored = 0;
    for (const auto& [original, waiting] : aside.moved) {
        struct stat st {};
        const bool rewritten = ::lstat(original.c_str(), &st) == 0;
        if (passSucceeded && (rewritten || IsOwnBroadcastWav(waiting))) {
            ::unlink(waiting.c_str());
            ++removed;
        } else if (!rewritten && ::rename(waiting.c_str(), original.c_str()) == 0) {
            ++restored;
        } else {
            std::printf("[Export] Could not put %s back; the earlier file is %s\n", original.c_str(), waiting.c_str());
        }
    }
    if (passSucceeded)
        for (const ExportSetAside::Kept& k : aside.kept) {
            struct stat st {};
            const bool untouched = ::lstat(k.path.c_str(), &st) == 0 && st.st_dev == k.device && st.st_ino == k.inode;
            if (untouched && IsOwnBroadcastWav(k.path) && ::unlink(k.path.c_str()) == 0) ++removed;
        }
    if (!aside.folder.empty()) ::rmdir(aside.folder.c_str());  // stays only when a file could not go back
    if (removed > 0 || restored > 0)
        std::printf("[Export] Earlier export: %d files replaced, %d put back\n", removed, restored);
}

ExportSetAside::~ExportSetAside() { FinishSetAside(*this, false); }
