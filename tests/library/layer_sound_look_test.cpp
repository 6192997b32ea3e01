// The one look at a layer's files: each file against the fingerprint its id
// was measured with, and a layer's finding from its files (an alloy from
// its main sound and sources together).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "document/project.h"
#include "library/file_registry.h"
#include "library/layer_sound_look.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

enum class Now { AsMeasured, Changed, Gone, NoSound, Unnamed };

// A file measured with "content <name>", then left, changed or taken away.
std::string Prepare(FileRegistry& registry, const TempDir& dir, const std::string& name, Now now, FileId& id) {
    if (now == Now::Unnamed) return {};
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, WavHolding("content " + name)));
    id = registry.FileRefForPath(path).id;
    bool written = true;
    if (now == Now::Changed) written = WriteWholeFile(path, WavHolding("other content " + name));
    if (now == Now::Gone) std::filesystem::remove(path);
    if (now == Now::NoSound) written = WriteWholeFile(path, "RIFF? not a sound at all");
    EXPECT_TRUE(written) << path;
    return path;
}

}  // namespace

TEST(LayerSoundLook, ALayerIsWhatItsFilesAre) {
    struct Row {
        const char* what;
        bool alloy;
        std::vector<Now> files;  // main, then the alloy's mid, high and env sources
        LayerSound expected;
    };
    using N = Now;
    const std::vector<Row> rows = {
        {"a sound as measured", false, {N::AsMeasured}, LayerSound::AsMeasured},
        {"a sound changed", false, {N::Changed}, LayerSound::Changed},
        {"a sound gone", false, {N::Gone}, LayerSound::Missing},
        {"a sound that is no sound", false, {N::NoSound}, LayerSound::Missing},
        {"an alloy as measured", true, {N::AsMeasured, N::AsMeasured, N::Unnamed, N::AsMeasured},
         LayerSound::AsMeasured},
        {"an alloy with a source changed", true, {N::AsMeasured, N::Changed}, LayerSound::Changed},
        {"an alloy without its main sound", true, {N::Gone, N::AsMeasured}, LayerSound::AlloyPartial},
        {"an alloy without its envelope", true, {N::AsMeasured, N::AsMeasured, N::AsMeasured, N::NoSound},
         LayerSound::AlloyPartial},
        {"an alloy short of one, another changed", true, {N::Changed, N::Gone, N::AsMeasured},
         LayerSound::AlloyPartial},
        {"an alloy with every file away", true, {N::Gone, N::NoSound, N::Unnamed, N::Gone}, LayerSound::Missing},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        FileRegistry registry;
        RenderResult r;
        r.procMode = row.alloy ? 3 : 0;
        std::set<std::string> otherwise;
        std::vector<std::pair<std::string*, std::string*>> slots = {{&r.filepath, &r.fileId}};
        for (AlloySource* s : {&r.alloyMid, &r.alloyHigh, &r.alloyEnv}) slots.push_back({&s->filepath, &s->fileId});
        for (size_t f = 0; f < row.files.size(); ++f) {
            *slots[f].first = Prepare(registry, dir, "f" + std::to_string(f) + ".wav", row.files[f], *slots[f].second);
            if (row.files[f] != N::AsMeasured && row.files[f] != N::Unnamed) otherwise.insert(*slots[f].first);
        }
        SoundLooks looks(registry);
        EXPECT_EQ(LookAtLayerSound(r, looks), row.expected);
        EXPECT_EQ(looks.NotAsMeasured(), otherwise);
        r.placeholder = true;
        EXPECT_EQ(LookAtLayerSound(r, looks), LayerSound::Unmatched);
    }
}

// A look is of one moment: a file is read once, and every layer naming it
// later in the same look finds what the first found. A file without an id,
// or with an id never fingerprinted, is taken as measured while it sounds.
TEST(LayerSoundLook, EachFileIsLookedAtOnce) {
    TempDir dir;
    FileRegistry registry;
    FileId id;
    const std::string path = Prepare(registry, dir, "a.wav", Now::Changed, id);
    SoundLooks looks(registry);
    EXPECT_EQ(looks.Of(path, id), SoundFileState::Changed);
    std::filesystem::remove(path);
    EXPECT_EQ(looks.Of(path, id), SoundFileState::Changed);
    EXPECT_EQ(SoundLooks(registry).Of(path, id), SoundFileState::Away);

    ASSERT_TRUE(WriteWholeFile(dir.File("b.wav"), WavHolding("b")));
    EXPECT_EQ(looks.Of(dir.File("b.wav"), ""), SoundFileState::AsMeasured);
    registry.RegisterFileRef(FileRef{"00000000000000c3", dir.File("b.wav"), 0, 0});
    EXPECT_EQ(looks.Of(dir.File("b.wav"), "00000000000000c3"), SoundFileState::AsMeasured);
    EXPECT_EQ(looks.NotAsMeasured(), std::set<std::string>{path});
}
