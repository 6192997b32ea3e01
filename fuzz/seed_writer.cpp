// seed_writer.cpp — writes the seed inputs of the fuzz targets that read
// files, with the program's own writers wherever the program writes such a
// file (projects, recipes, chains, preferences, broadcast WAV, PNG, timecode
// text, AAF sessions). Videos come from ffmpeg and session texts follow the layout of a
// real export: the program writes neither.
//   tl_fuzz_seeds FOLDER      (built on request: cmake --build BUILD --target tl_fuzz_seeds,
//                              then tl_fuzz_seeds fuzz/corpus; existing seeds of the same name are replaced)
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "export/aaf_session.h"
#include "export/bwf_writer.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/preferences.h"
#include "persistence/collect_audio.h"
#include "persistence/project_file.h"
#include "platform/image_file.h"
#include "playback/audio_engine.h"
#include "recipes/chain_file.h"
#include "recipes/event_preset.h"
#include "recipes/recipe_file.h"
#include "support/audio_fixtures.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string gRoot;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
    fs::create_directories(gRoot + "/" + target);
    WriteWholeFile(gRoot + "/" + target + "/" + name, bytes);
}

void SeedFile(const std::string& target, const std::string& name, const std::string& path) {
    Seed(target, name, ReadWholeFile(path));
}

Project SmallProject(float fps) {
    Project p;
    p.fps = fps;
    p.totalDuration = 20;
    AddEvent(p, 1.0f, kShapeSpot, 0.3f);
    AddEvent(p, 4.0f, kShapeClip, 0.5f);
    CopyTextField(p.events[1].pinnedFile, "/sfx/Doors/door_slam_01.wav");
    p.events[1].hasPinnedFiles = true;
    RenderResult r;
    r.name = "door";
    r.filepath = "Audio/door_slam_01.wav";
    r.eventIdx = 1;
    r.duration = 1.5f;
    p.results.push_back(r);
    p.rendered = true;
    return p;
}

std::string ProjectText(const Project& p, const std::string& video = "") {
    ProjectSaveContext ctx;
    ctx.project = &p;
    ctx.videoPath = video;
    ctx.libraryPaths = {"/sfx/Foley"};
    return BuildProjectJson(ctx, CollectedAudioMap{}, "/fuzz/project");
}

void Documents() {
    Seed("project", "empty.tlproj", ProjectText(Project()));
    Seed("project", "small.tlproj", ProjectText(SmallProject(25)));
    Seed("project", "fps_2e60.tlproj", ProjectText(SmallProject(1.152921504606847e18f)));
    Project privateFiles = SmallProject(23.976f);
    privateFiles.results[0].filepath = "/etc/passwd";
    privateFiles.results.push_back(privateFiles.results[0]);
    privateFiles.results.back().filepath = "../outside/secret.txt";
    Seed("project", "names_private_files.tlproj", ProjectText(privateFiles, "/dev/zero"));

    const Project small = SmallProject(25);
    EventPreset plain;
    std::strcpy(plain.name, "Door Heavy");
    std::strcpy(plain.keywords, "door, slam, -creak");
    Seed("recipe", "plain.tlrecipe", RecipeFileText(plain));
    EventPreset clip = PresetFromEvent(small.events[1]);
    std::strcpy(clip.name, "Clip caf\xC3\xA9");
    Seed("recipe", "clip.tlrecipe", RecipeFileText(clip));
    EventPreset odd = plain;
    std::strcpy(odd.name, "../../escaped");
    odd.duration = std::numeric_limits<float>::infinity();
    Seed("recipe", "odd_values.tlrecipe", RecipeFileText(odd));
    Seed("recipe", "empty.tlrecipe", RecipeFileText(EventPreset()));

    Seed("chain", "two.tlchain", ChainFileText(ChainFromEvents("Door pair", small.events, {0, 1})));
    Seed("chain", "one.tlchain", ChainFileText(ChainFromEvents("Spot", small.events, {0})));
    Seed("chain", "none.tlchain", ChainFileText(ChainFromEvents("Empty", small.events, {})));
    Seed("chain", "slash_name.tlchain", ChainFileText(ChainFromEvents("a/b", small.events, {1})));

    auto app = std::make_unique<AppState>();
    auto project = std::make_unique<Project>();
    auto engine = std::make_unique<AudioEngine>();
    auto library = std::make_unique<SoundLibrary>();
    PreferenceTargets t{*app, *project, *engine, *library, ""};
    Seed("preferences", "defaults.ini", PreferencesText(t));
    app->recentProjects = {"/work/Reel 1/Reel 1.tlproj", "/work/Reel 2/Reel 2.tlproj"};
    app->autoSaveInterval = 60;
    Seed("preferences", "recent.ini", PreferencesText(t));
    std::string crlf;
    for (char c : PreferencesText(t)) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    Seed("preferences", "crlf.ini", crlf);
    Seed("preferences", "odd_lines.ini", "no equals sign\n=\nautoSaveInterval=nan\nfontScale=1e39\n\xff\xfe=1\n");
}

void Sounds(const TempDir& dir) {
    const std::vector<float> tone = SineSamples(800, 8000, {440.0}, 0.5);
    const std::string mono = dir.File("mono.wav");
    WriteBWFClipMono(mono, tone.data(), int32_t(tone.size()), 8000, 1.5, "seed");
    SeedFile("sound_readers", "bwf_mono.wav", mono);
    const std::string stereo = dir.File("stereo.wav");
    WriteBWFStereo(stereo, tone.data(), tone.data(), int64_t(tone.size()), 8000, 0.0, nullptr);
    SeedFile("sound_readers", "bwf_stereo.wav", stereo);
    std::vector<float> broken = tone;
    for (size_t i = 0; i < broken.size(); i += 50) broken[i] = i % 100 ? std::nanf("") : HUGE_VALF;
    const std::string nonFinite = dir.File("nan.wav");
    WriteFloatWavAsIs(nonFinite, broken, 1, 8000);
    SeedFile("sound_readers", "float_nan_inf.wav", nonFinite);
    const std::string ogg = dir.File("claim.ogg");
    WriteSamples(ogg, tone, 1, 8000, SampleFormat::Pcm16, "ogg");
    ClaimOggFrames(ogg, uint64_t(1) << 33);
    SeedFile("sound_readers", "ogg_claims_2e33_frames.ogg", ogg);
    const std::string flac = dir.File("short.flac");
    WriteSamples(flac, tone, 1, 8000, SampleFormat::Pcm16, "flac");
    SeedFile("sound_readers", "short.flac", flac);
}

void Pictures(const TempDir& dir) {
    std::vector<uint8_t> pixels(64 * 64 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7);
    for (auto [w, h] : {std::pair{1u, 1u}, std::pair{4u, 3u}, std::pair{64u, 64u}}) {
        const std::string png = dir.File("image.png");
        WritePngFile(png, pixels.data(), w, h);
        Seed("image", std::to_string(w) + "x" + std::to_string(h) + ".png", ReadWholeFile(png));
    }
    const std::string whole = ReadWholeFile(dir.File("image.png"));
    Seed("image", "truncated.png", whole.substr(0, whole.size() / 2));

    struct Video { const char* name; std::vector<std::string> args; };
    const Video videos[] = {
        {"h264.mp4", {"-f", "lavfi", "-i", "testsrc=size=32x24:rate=24:duration=0.25", "-c:v", "libx264", "-pix_fmt", "yuv420p"}},
        {"mpeg4.mkv", {"-f", "lavfi", "-i", "testsrc=size=16x16:rate=25:duration=0.2", "-c:v", "mpeg4"}},
        {"rate_1000.mp4", {"-f", "lavfi", "-i", "testsrc=size=16x16:rate=1000:duration=0.01", "-c:v", "libx264"}},
        {"mjpeg.avi", {"-f", "lavfi", "-i", "testsrc=size=16x16:rate=10:duration=0.2", "-c:v", "mjpeg"}},
    };
    for (const Video& v : videos) {
        const std::string out = dir.File(v.name);
        std::vector<std::string> args = {"ffmpeg", "-loglevel", "error", "-y"};
        args.insert(args.end(), v.args.begin(), v.args.end());
        args.push_back(out);
        RunCommand(args);
        SeedFile("video_probe", v.name, out);
    }
}

void Texts() {
    Project project;
    for (float fps : {23.976f, 25.0f, 1.152921504606847e18f, std::nanf(""), 0.0f, 120.0f}) {
        project.fps = fps;
        char text[64];
        const float seconds = 3723.5f;
        FormatTimecode(project, seconds, text, sizeof text);
        std::string bytes(8, '\0');
        std::memcpy(bytes.data(), &fps, 4);
        std::memcpy(bytes.data() + 4, &seconds, 4);
        char name[32];
        std::snprintf(name, sizeof name, "fps_%g.bin", double(fps));
        Seed("timecode", name, bytes + text);
    }

    const std::string section =
        "M A R K E R S  L I S T I N G\n"
        "#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME       \tTRACK NAME  \tTRACK TYPE \tCOMMENTS\n";
    const std::string header = "SESSION NAME:\tEdge\nSAMPLE RATE:\t48000.000000\nTIMECODE FORMAT:\t25 Frame\n\n";
    Seed("session_markers", "markers.txt",
         std::string(1, char(50)) + header + section +
             "1   \t00:00:01:00  \t48000   \tSamples  \tDoor bloom   \tMarkers \tRuler \tslam\n"
             "2   \t00:00:03:12  \t168000   \tSamples  \tscene Hall   \tMarkers \tRuler \t\n");
    Seed("session_markers", "drop_frame.txt",
         std::string(1, char(60)) + "SAMPLE RATE:\t96000\nTIMECODE FORMAT:\t29.97 Drop Frame\n\n" + section +
             "1   \t01:00:00;02  \t345600000   \tSamples  \tRain Heavy   \tMarkers \tRuler \t\n");
    Seed("session_markers", "empty_section.txt", std::string(1, char(0)) + header + section);
    Seed("session_markers", "crlf_utf8.txt",
         std::string(1, char(48)) + "SAMPLE RATE:\t44100\r\n\r\n" + section +
             "1   \t00:00:00:05  \t9000   \tSamples  \tFootsteps caf\xC3\xA9 \xff   \tMarkers \tRuler \tgravel\r\n");

    const std::string manifest =
        "{\"schemaVersion\": 1, \"changelogUrl\": \"https://example.invalid/changes\", \"releases\": ["
        "{\"version\": \"2099.1\", \"date\": \"2099-01-01\", \"files\": {\"linux\": {\"url\": \"https://example.invalid/dl\"}},"
        " \"notes\": [\"Faster\", \"Safer\"]},"
        "{\"version\": \"2026.8\", \"files\": {\"linux\": {\"url\": \"file:///etc/passwd\"}}}]}";
    Seed("update_response", "newer.json", std::string(1, '\0') + manifest);
    Seed("update_response", "not_found.json", std::string(1, '\6') + manifest);
    Seed("update_response", "schema_2.json", std::string(1, '\0') + "{\"schemaVersion\": 2, \"releases\": []}");
    Seed("update_response", "javascript_url.json",
         std::string(1, '\1') +
             "{\"schemaVersion\": 1, \"changelogUrl\": \"javascript:alert(1)\", \"releases\": [{\"version\": "
             "\"9999\", \"files\": {\"linux\": {\"url\": \"ftp://x\"}}}]}");

    Seed("drop_payload", "video_and_sounds.txt", "/work/picture.mov\n/sfx/door.wav\n/sfx/rain.FLAC\n/notes.txt");
    Seed("drop_payload", "folders.txt", "/tmp\n/\n/tmp/Rain.mov/\n.");
    Seed("drop_payload", "odd_names.txt", "\n..\n/sfx/.wav\n/sfx/no_extension\n/sfx/a.b/c");
    Seed("drop_payload", "two_videos.txt", "/a.mp4\n/b.MKV\n/c.webm\n/d.mxf");

    Seed("test_script", "day.txt",
         "frames 3\nsettle 60\ndump opened.txt\nscreenshot 1-opened.png\nkey G\nsettle 60\nkey Space\nwait 1\nquit\n");
    Seed("test_script", "pointer.txt",
         "move 10 20\nclick 100.5 200\npress right 5 5\nrelease right 5 5\nwheel 3 4 -2\nframes 2\ndiscard\nquit\n");
    Seed("test_script", "keys_and_text.txt", "key ctrl+shift+S\nkeydown alt\nkeyup alt\ntext Hello caf\xC3\xA9\nidle 0.5\nquit\n");
    Seed("test_script", "bad_line.txt", "frames 2\nfly away\nquit\n");
}

// Sessions from the AAF export's own writer: plain, with fades, automation
// and named tracks, one cut short and its header alone.
void AafSessions(const TempDir& dir) {
    const std::vector<std::string> paths = {"/sessions/Reel/Audio Files/door.wav", "/sessions/Reel/Audio Files/rain.wav"};
    const std::vector<std::string> names = {"door.wav", "rain.wav"};
    AafGainCurve curve;
    curve.present = true;
    for (int i = 0; i < kAafGainCurvePoints; ++i) curve.points[size_t(i)] = float(i) / float(kAafGainCurvePoints - 1);
    const std::vector<AafMarker> markers = {{1000, "Spot,1.0"}, {96000, "Door"}};
    const std::string plain = dir.File("plain.aaf"), extended = dir.File("extended.aaf");
    if (ExportAafSession(plain, paths, names, {0, 96000}, {48000, 24000}, {48000, 24000}, {0, 1}, {}, 48000, markers,
                         {AafGainCurve{}, AafGainCurve{}}, {1.0f, 0.5f}))
        SeedFile("aaf_file", "plain.aaf", plain);
    if (ExportAafSessionExtended(extended, paths, names, {0, 50000}, {48000, 24000}, {0, 2000}, {48000, 30000}, {0, 0},
                                 {"Doors", ""}, 44100, {100, 0}, {0, 480}, markers, {curve, AafGainCurve{}},
                                 {1.0f, 0.25f})) {
        SeedFile("aaf_file", "extended.aaf", extended);
        const std::string whole = ReadWholeFile(extended);
        Seed("aaf_file", "cut.aaf", whole.substr(0, whole.size() / 2));
        Seed("aaf_file", "header_only.aaf", whole.substr(0, 512));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    gRoot = argv[1];
    TempDir dir;
    Documents();
    Sounds(dir);
    Pictures(dir);
    Texts();
    AafSessions(dir);
    return 0;
}
