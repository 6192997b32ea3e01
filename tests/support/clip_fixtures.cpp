// clip_fixtures.cpp — see clip_fixtures.h.
#include "support/clip_fixtures.h"

#include <fcntl.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "library/sound_file_open.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

extern char** environ;

bool ReadAudio(const std::string& path, std::vector<float>& interleaved, int& channels, int& rate) {
    SF_INFO info{};
    SNDFILE* f = OpenSoundFileForReading(path, &info);
    if (!f) return false;
    interleaved.assign(size_t(info.frames) * size_t(info.channels), 0.0f);
    const sf_count_t got = sf_readf_float(f, interleaved.data(), info.frames);
    sf_close(f);
    interleaved.resize(size_t(got) * size_t(info.channels));
    channels = info.channels;
    rate = info.samplerate;
    return got == info.frames;
}

bool RunTool(const std::vector<std::string>& argv) {
    if (argv.empty()) return false;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Keep the test output readable: the tool's chatter goes nowhere.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SoxAvailable() { return RunTool({"sox", "--version"}); }

std::vector<float> SoxProcess(const TempDir& dir, const std::vector<float>& in, int rate,
                              const std::vector<std::string>& effect) {
    const std::string a = dir.File("sox_in.wav"), b = dir.File("sox_out.wav");
    EXPECT_TRUE(WriteSamples(a, in, 1, rate, SampleFormat::Float32));
    std::vector<std::string> argv = {"sox", "-D", a, "-e", "floating-point", "-b", "32", b};
    argv.insert(argv.end(), effect.begin(), effect.end());
    std::vector<float> out;
    int channels = 0, outRate = 0;
    EXPECT_TRUE(RunTool(argv));
    EXPECT_TRUE(ReadAudio(b, out, channels, outRate));
    return out;
}
