// export_replacement.cpp — an earlier export's files by pass, and which of
// them the export writes again.
//
// Index
//   WavExportPass / IsOwnBroadcastWav
//   EarlierExportFiles   names of each pass in its folders
//   PlanExportNames / PlanWritesName   the names an export writes
#include "export/export_replacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

#include "document/project.h"
#include "document/text_util.h"
#include "export/aaf_export.h"
#include "export/bwf_writer.h"
#include "export/export_names.h"
#include "export/wav_export.h"
#include "platform/file_names.h"
#include "platform/folder_beneath.h"

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
    // Only a regular file is ever opened: an entry swapped for a pipe or a
    // device while the folder is listed is refused unopened.
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const FolderFd parent(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.Valid()) return false;
    const int fd = OpenRegularFileAt(parent.Get(), path.substr(slash + 1));
    if (fd < 0) return false;
    const bool own = IsOwnBroadcastWavFile(fd);
    ::close(fd);
    return own;
}

// ---------------------------------------------------------------------------
// EarlierExportFiles
// ---------------------------------------------------------------------------

namespace {

// Anything at the name counts: a file, a link, a pipe, a socket, a device
// or a folder that stands where the export writes is named in the question
// and set aside like a file (never opened, never followed).
bool EntryExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Whether `folder` (the output folder, or one below it) is reached from the
// output folder without a link: an export neither lists, moves nor removes
// anything through one.
bool ReachedWithoutLinks(const std::string& outDir, const std::string& folder) {
    if (folder == outDir) return true;
    const std::string prefix = outDir.empty() || outDir.back() == '/' ? outDir : outDir + "/";
    if (folder.compare(0, prefix.size(), prefix) != 0) return false;
    std::string at = outDir;
    for (const fs::path& part : fs::path(folder.substr(prefix.size()))) {
        at += "/" + part.string();
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    }
    return true;
}

// Entries of `folder` whose names are a name that `matches` followed by
// `suffix` ("" or ".tmp"), sorted. Listed, never opened.
template <typename Match>
std::vector<std::string> FilesNamed(const std::string& folder, Match matches, const std::string& suffix = "") {
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        const size_t stem = name.size() - std::min(name.size(), suffix.size());
        if (stem > 0 && EndsWith(name, suffix) && matches(name.substr(0, stem))) found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
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

// The entries of `pass` at its names, each followed by `suffix`.
std::vector<std::string> PassEntries(const ExportJob& job, ExportPass pass, const std::string& suffix) {
    std::vector<std::string> found;
    if (pass == ExportPass::Aaf) {
        if (!job.exportAAF) return found;
        const std::string session = AafSessionName(job);
        if (!FileNameProblem(session).empty()) return found;
        const std::string folder = job.outDir + "/" + session;
        if (!ReachedWithoutLinks(job.outDir, folder)) return found;
        const std::string aaf = folder + "/" + AafFileName(session) + suffix;
        if (EntryExists(aaf)) found.push_back(aaf);
        if (ReachedWithoutLinks(job.outDir, folder + "/Audio Files"))
            for (const std::string& f : FilesNamed(folder + "/Audio Files", IsEssenceName, suffix)) found.push_back(f);
        return found;
    }
    if (!job.exportWAV) return found;
    const std::string base = ExportBaseName(job.baseName, job.outDir);
    if (!FileNameProblem(base).empty()) return found;
    const std::string fileBase = WavFileBase(base);
    const bool chosen[] = {job.wavMixdown, job.wavStems, job.wavTracks, job.wavClips};
    if (pass == ExportPass::Mixdown) {
        const std::string mixdown = job.outDir + "/" + fileBase + ".wav" + suffix;
        if (chosen[kWavMixdown] && EntryExists(mixdown)) found.push_back(mixdown);
        return found;
    }
    bool prefixOwned = false;
    if (OutDirPrefixOwner(job, &prefixOwned) == pass && prefixOwned)
        found = FilesNamed(job.outDir, PrefixedWav(fileBase), suffix);
    const char* folder = pass == ExportPass::Tracks ? "/Tracks" : pass == ExportPass::Clips ? "/Clips" : nullptr;
    const bool passChosen = pass == ExportPass::Tracks ? chosen[kWavTracks] : pass == ExportPass::Clips && chosen[kWavClips];
    if (folder && passChosen && ReachedWithoutLinks(job.outDir, job.outDir + folder))
        for (const std::string& f : FilesNamed(job.outDir + folder, PrefixedWav(fileBase), suffix))
            found.push_back(f);
    return found;
}

}  // namespace

std::vector<std::string> EarlierExportFiles(const ExportJob& job, ExportPass pass) {
    return PassEntries(job, pass, "");
}

// ---------------------------------------------------------------------------
// PlanExportNames / PlanWritesName
// ---------------------------------------------------------------------------

ExportNamePlan PlanExportNames(const ExportJob& job, const Project& project) {
    ExportNamePlan plan;
    plan.outDir = job.outDir;
    const bool reverbOn = job.reverbStem && job.reverb.enabled.load();
    if (job.exportAAF) {
        const std::string session = AafSessionName(job);
        plan.sessionFolder = job.outDir + "/" + session;
        plan.aafFile = AafFileName(session);
        plan.reverbReturns = reverbOn;
        for (size_t i = 0; i < project.results.size(); ++i)
            plan.essencePrefixes.insert(AafEssencePrefix(AafTrackLabel(job, project.results[i]), i));
    }
    if (!job.exportWAV) return plan;
    plan.fileBase = WavFileBase(ExportBaseName(job.baseName, job.outDir));
    plan.mixdown = job.wavMixdown;
    const std::array<std::string, 3> groups = ExportGroupNames(project.groups);
    if (job.wavStems) plan.besideMixdown.insert(groups.begin(), groups.end());
    if (reverbOn && (job.wavStems || job.wavTracks || job.wavClips)) plan.besideMixdown.insert(kReverbStemName);
    if (job.wavTracks)
        for (int g = 0; g < 3; ++g) {
            const MixGroup& group = project.groups[g];
            const int slots = group.usedTracks > 0 ? std::max(group.trackCount, group.usedTracks) : 0;
            for (int slot = 0; slot < slots; ++slot) plan.tracks.insert(ExportTrackName(groups[size_t(g)], slot));
        }
    if (job.wavClips) {
        plan.clipRoom = ExportClipNameRoom(plan.fileBase);
        for (const RenderResult& r : project.results) ++plan.clips[ExportClipName(r)];
    }
    return plan;
}

namespace {

// Whether ExportNameTable::Claim(name, room) hands out `part` for one of
// the results' names: a name cut to the room, or, for the n-th result of one
// name (n from 2), the name cut shorter with "_<n>" after it.
bool IsClaimOfAny(const std::map<std::string, int>& names, const std::string& part, size_t room) {
    // How many results have a name that begins with `stem` and, cut to `fit`
    // bytes, is `stem`.
    auto named = [&names](const std::string& stem, size_t fit) {
        int count = 0;
        for (auto it = names.lower_bound(stem); it != names.end() && it->first.compare(0, stem.size(), stem) == 0;
             ++it)
            if (it->first.substr(0, Utf8SafeCutLength(it->first, fit)) == stem) count += it->second;
        return count;
    };
    if (named(part, room) > 0) return true;
    const size_t underscore = part.find_last_of('_');
    if (underscore == std::string::npos || underscore + 1 == part.size() || part.size() - underscore > 10)
        return false;
    const std::string number = part.substr(underscore + 1);
    if (!std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }) || number[0] == '0')
        return false;
    const int n = std::atoi(number.c_str());
    const size_t suffix = number.size() + 1;
    return n >= 2 && n <= named(part.substr(0, underscore), room > suffix ? room - suffix : 0);
}

bool HasEssencePrefix(const std::set<std::string>& prefixes, const std::string& name) {
    for (size_t at = name.find('_'); at != std::string::npos; at = name.find('_', at + 1)) {
        size_t end = at + 1;
        while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
        if (end < name.size() && name[end] == '_' && prefixes.count(name.substr(0, end + 1))) return true;
    }
    return false;
}

}  // namespace

bool PlanWritesName(const ExportNamePlan& plan, const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return false;
    const std::string folder = path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    if (!plan.sessionFolder.empty()) {
        if (folder == plan.sessionFolder) return name == plan.aafFile;
        if (folder == plan.sessionFolder + "/Audio Files") {
            if (name == "Reverb.L.wav" || name == "Reverb.R.wav") return plan.reverbReturns;
            return HasEssencePrefix(plan.essencePrefixes, name);
        }
    }
    if (plan.fileBase.empty()) return false;
    if (folder == plan.outDir && name == plan.fileBase + ".wav") return plan.mixdown;
    const std::string prefix = plan.fileBase + " - ";
    if (name.size() < prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 || !EndsWith(name, ".wav"))
        return false;
    const std::string part = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (folder == plan.outDir) return plan.besideMixdown.count(part) > 0;
    if (folder == plan.outDir + "/Tracks") return plan.tracks.count(part) > 0;
    if (folder == plan.outDir + "/Clips") return IsClaimOfAny(plan.clips, part, plan.clipRoom);
    return false;
}
