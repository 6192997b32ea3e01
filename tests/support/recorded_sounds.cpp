// recorded_sounds.cpp — see recorded_sounds.h.
#include "support/recorded_sounds.h"

#include <atomic>
#include <filesystem>

#include "support/run_command.h"

namespace {

constexpr const char* kThemeFolder = "/usr/share/sounds/freedesktop/stereo/";

struct Conversion {
    const char* recording;  // a file of the theme, without ".oga"
    int rate;
    int channels;
    const char* encoding;  // sox's -e
    int bits;
};

// Rates from 22.05 to 96 kHz, both channel counts, three sample formats.
constexpr Conversion kSet[] = {
    {"camera-shutter", 96000, 2, "floating-point", 32}, {"trash-empty", 44100, 1, "signed-integer", 16},
    {"complete", 48000, 2, "signed-integer", 24},       {"phone-incoming-call", 22050, 1, "signed-integer", 16},
    {"message-new-instant", 88200, 2, "signed-integer", 16}, {"alarm-clock-elapsed", 32000, 1, "signed-integer", 24},
    {"service-login", 48000, 1, "floating-point", 32},  {"bell", 44100, 2, "signed-integer", 16},
    {"dialog-warning", 48000, 2, "signed-integer", 24}, {"suspend-error", 44100, 1, "signed-integer", 24},
};

bool Convert(const std::string& recording, const std::string& out, int rate, int channels, const char* encoding,
             int bits, double seconds, double level) {
    // Looped often enough for the length, then cut to it.
    const CommandResult r =
        RunCommand({"sox", "-q", std::string(kThemeFolder) + recording + ".oga", "-e", encoding, "-b",
                    std::to_string(bits), "-c", std::to_string(channels), "-r", std::to_string(rate), out, "repeat",
                    "40", "trim", "0", std::to_string(seconds), "vol", std::to_string(level)});
    return r.exitCode == 0 && std::filesystem::exists(out);
}

// Each set a process makes is at a level of its own, so that no two sets
// hold the same content: the file registry gives each its own ids, as it
// would files of different libraries.
double NextLevel() {
    static std::atomic<int> sets{0};
    return 0.9 - 0.01 * (sets.fetch_add(1) % 40);
}

}  // namespace

std::vector<RecordedSound> MakeRecordedSounds(const std::string& folder, double seconds) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    std::vector<RecordedSound> sounds;
    const double level = NextLevel();
    for (const Conversion& c : kSet) {
        const std::string path = folder + "/" + c.recording + "_" + std::to_string(c.rate) + ".wav";
        if (!Convert(c.recording, path, c.rate, c.channels, c.encoding, c.bits, seconds, level)) return {};
        sounds.push_back(RecordedSound{path, c.rate, c.channels, seconds});
    }
    return sounds;
}

bool OtherRecording(const std::string& path, int rate, int channels, double seconds) {
    return Convert("audio-test-signal", path, rate, channels, "signed-integer", 24, seconds, NextLevel());
}
