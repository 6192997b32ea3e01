#include "support/synthetic_project.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "document/text_util.h"
#include "library/file_registry.h"
#include "persistence/collect_audio.h"
#include "persistence/project_file.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

Project MakeSyntheticProject(int eventCount, int resultCount) {
    Project project;
    project.events.reserve(static_cast<size_t>(eventCount));
    Curve256 curve{};
    for (int e = 0; e < eventCount; ++e) {
        for (int i = 0; i < 256; ++i) curve[i] = static_cast<float>((i * 37 + e) % 1000) / 997.0f;
        Event event;
        event.time = 1.5f + e * 0.37f;
        event.duration = 4.0f;
        event.shape = e % kShapeCount;
        CopyTextField(event.keywords, "glass, -metal, +impact");
        event.weight = curve;
        event.intensity = curve;
        event.traceGain = curve;
        event.hasTraceGain = true;
        project.events.push_back(event);
    }
    project.results.reserve(static_cast<size_t>(resultCount));
    for (int r = 0; r < resultCount; ++r) {
        RenderResult result;
        result.name = "METAL_Hit Designed_01";
        result.filepath = "/home/designer/Libraries/Metal/hit_" + std::to_string(r) + ".wav";
        result.fileId = "0123456789abcdef";
        result.sourceOffset = 0.25f * r;
        result.sourceDuration = 1.75f;
        result.startTime = 12.5f + r;
        result.duration = 1.75f;
        result.eventIdx = eventCount > 0 ? (r / 3) % eventCount : 0;
        for (int i = 0; i < 128; ++i) result.fillGain[i] = static_cast<float>((i * 37 + r) % 1000) / 997.0f;
        result.hasFillGain = true;
        result.eqGains = {1.0f, 0.9f, 1.1f, 1.0f, 0.8f};
        result.hasEqGains = true;
        project.results.push_back(std::move(result));
    }
    return project;
}

const std::string& SyntheticProjectFileForRun() {
    static TempDir dir;
    static const std::string path = [] {
        constexpr int kSoundFiles = 600;  // the 6,000 layers share them, ten each
        Project project = MakeSyntheticProject();
        const std::string audio = dir.File("Audio");
        fs::create_directories(audio);
        FileRegistry& registry = FileRegistry::Instance();
        std::vector<FileRef> refs;
        for (int i = 0; i < kSoundFiles; ++i) {
            const std::string sound = audio + "/hit_" + std::to_string(i) + ".wav";
            WriteWholeFile(sound, "synthetic sound " + std::to_string(i) + " of " + dir.path());
            refs.push_back(registry.FileRefForPath(sound));
        }
        for (size_t r = 0; r < project.results.size(); ++r) {
            const FileRef& ref = refs[r % refs.size()];
            project.results[r].filepath = ref.path;
            project.results[r].fileId = ref.id;
        }
        ProjectSaveContext ctx;
        ctx.project = &project;
        const std::string file = dir.File("Synthetic.tlproj");
        WriteWholeFile(file, BuildProjectJson(ctx, CollectedAudioMap{}, dir.path()));
        return file;
    }();
    return path;
}

const std::vector<std::string>& ThousandSoundsForRun() {
    static TempDir dir;
    static const std::vector<std::string> paths = [] {
        constexpr int kSoundCount = 1000;
        constexpr size_t kSoundBytes = size_t{1} << 20;
        std::vector<std::string> out;
        const std::string folder = dir.File("Library");
        fs::create_directories(folder);
        std::string bytes(kSoundBytes, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 7);
        for (int i = 0; i < kSoundCount; ++i) {
            std::snprintf(bytes.data(), 32, "sound %d", i);
            std::snprintf(bytes.data() + bytes.size() - 32, 32, "end %d", i);
            const std::string path = folder + "/take_" + std::to_string(i) + ".wav";
            if (FILE* f = std::fopen(path.c_str(), "wb")) {
                std::fwrite(bytes.data(), 1, bytes.size(), f);
                std::fclose(f);
            }
            out.push_back(path);
        }
        return out;
    }();
    return paths;
}
