// pulse_server.cpp — starting, reaching and stopping a private PulseAudio
// server, and parec recordings of it.
//
// Index
//   Children        FindProgram, Spawn (dies with the test), Reap
//   PulseInstalled
//   PulseServer     Start, Address, UseInThisProcess, Stop
//   PulseRecording  Start, Frames, Stop, Samples
#include "support/pulse_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

extern char** environ;

namespace {

// ---------------------------------------------------------------------------
// Children
// ---------------------------------------------------------------------------

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return "";
}

// Starts `program` with `args`, the environment plus `extra` ("NAME=value"),
// standard output into `outPath` and standard error into `errPath`. The child
// gets SIGTERM when this process ends, however it ends. -1 when it could not
// be started.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& extra,
            const std::string& outPath, const std::string& errPath) {
    std::vector<std::string> env = extra;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& mine : extra)
            if (entry.compare(0, mine.find('=') + 1, mine, 0, mine.find('=') + 1) == 0) replaced = true;
        if (!replaced) env.push_back(entry);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // The child: only calls that are safe after fork until exec.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
}

// Asks the child to end and waits for it, killing it after `graceMs`.
void Reap(pid_t& pid, int signal, int graceMs) {
    if (pid <= 0) return;
    ::kill(pid, signal);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid = -1;
}

bool Accepts(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof(addr.sun_path) - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

// ---------------------------------------------------------------------------
// PulseInstalled
// ---------------------------------------------------------------------------

bool PulseInstalled() { return !FindProgram("pulseaudio").empty() && !FindProgram("parec").empty(); }

// ---------------------------------------------------------------------------
// PulseServer
// ---------------------------------------------------------------------------

PulseServer::~PulseServer() { Stop(); }

bool PulseServer::Start(const std::string& sink, int rate, std::string& why) {
    const std::string program = FindProgram("pulseaudio");
    if (program.empty()) {
        why = "the pulseaudio program is not installed";
        return false;
    }
    const std::string runtime = dir_.File("runtime"), home = dir_.File("home");
    ::mkdir(runtime.c_str(), 0700);
    ::mkdir(home.c_str(), 0700);
    socket_ = dir_.File("native");
    const std::string log = dir_.File("server.log");
    // A user instance, as root too: no default script, only these modules,
    // no idle exit, no shared memory (containers often lack it).
    const std::vector<std::string> args = {
        "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "--disable-shm=yes",
        "--realtime=yes", "--high-priority=yes", "--log-target=stderr", "--log-level=debug",
        "-L", "module-null-sink sink_name=" + sink + " rate=" + std::to_string(rate) + " format=float32le channels=2",
        "-L", "module-native-protocol-unix socket=" + socket_ + " auth-anonymous=1"};
    const std::vector<std::string> env = {"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime,
                                          "PULSE_RUNTIME_PATH=" + runtime, "PULSE_STATE_PATH=" + home,
                                          "XDG_CONFIG_HOME=" + home};
    pid_ = Spawn(program, args, env, log, log);
    if (pid_ < 0) {
        why = std::string("could not start pulseaudio: ") + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            why = "pulseaudio exited (status " + std::to_string(status) + "): " + ReadWholeFile(log);
            return false;
        }
        if (Accepts(socket_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Reap(pid_, SIGTERM, 2000);
    why = "pulseaudio did not answer on " + socket_ + " within 30 s: " + ReadWholeFile(log);
    return false;
}

std::string PulseServer::Address() const { return "unix:" + socket_; }

int PulseServer::Underruns() const {
    // protocol-native logs "Implicit underrun of '<stream>'" when a playing
    // stream runs dry; a stream that is only starting is not counted so.
    const std::string log = ReadWholeFile(dir_.File("server.log"));
    int count = 0;
    for (size_t at = log.find("Implicit underrun"); at != std::string::npos; at = log.find("Implicit underrun", at + 1))
        ++count;
    return count;
}

void PulseServer::UseInThisProcess() {
    const std::string config = dir_.File("client.conf");
    WriteWholeFile(config, "autospawn = no\n");
    environment_ = std::make_unique<ScopedEnvironment>();
    environment_->Set("PULSE_SERVER", Address());
    environment_->Set("PULSE_CLIENTCONFIG", config);
}

void PulseServer::Stop() {
    environment_.reset();
    Reap(pid_, SIGTERM, 5000);
}

// ---------------------------------------------------------------------------
// PulseRecording
// ---------------------------------------------------------------------------

PulseRecording::~PulseRecording() { Stop(); }

bool PulseRecording::Start(const PulseServer& server, const std::string& source, int rate, const std::string& path) {
    const std::string program = FindProgram("parec");
    if (program.empty()) return false;
    path_ = path;
    const std::vector<std::string> args = {"--server=" + server.Address(), "--device=" + source,
                                           "--rate=" + std::to_string(rate), "--format=float32le",
                                           "--channels=2", "--raw", "--latency-msec=20"};
    pid_ = Spawn(program, args, {}, path, path + ".log");
    return pid_ > 0;
}

int64_t PulseRecording::Frames() const {
    struct stat st {};
    if (path_.empty() || ::stat(path_.c_str(), &st) != 0) return 0;
    return int64_t(st.st_size) / int64_t(2 * sizeof(float));
}

void PulseRecording::Stop() { Reap(pid_, SIGINT, 3000); }

std::vector<float> PulseRecording::Samples() const {
    const std::string bytes = ReadWholeFile(path_);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

// ---------------------------------------------------------------------------
// CheckRecording
// ---------------------------------------------------------------------------

namespace {

constexpr int64_t kMatchFrames = 2048;
constexpr float kSameSample = 1e-4f;
// The mixer fades a block in over 5 ms after one it left silent (240 frames
// at 48 kHz); a little more for other rates.
constexpr int64_t kFadeInFrames = 256;

float Frame(const std::vector<float>& v, int64_t frame, int side) { return v[size_t(2 * frame + side)]; }

// Whether heard[h ..] holds mix[m ..] for kMatchFrames frames (or to the end of either).
bool Holds(const std::vector<float>& heard, const std::vector<float>& mix, int64_t h, int64_t m) {
    const int64_t n = std::min<int64_t>({kMatchFrames, int64_t(heard.size() / 2) - h, int64_t(mix.size() / 2) - m});
    if (h < 0 || m < 0 || n < 1) return false;
    for (int64_t k = 0; k < n; ++k)
        for (int side = 0; side < 2; ++side)
            if (std::fabs(Frame(heard, h + k, side) - Frame(mix, m + k, side)) > kSameSample) return false;
    return true;
}

// Whether heard[h ..] rises to mix[m ..] over kFadeInFrames frames: never
// louder than the mix, as a gain from 0 to 1 leaves it.
bool FadesIn(const std::vector<float>& heard, const std::vector<float>& mix, int64_t h, int64_t m) {
    if (h < 0 || m < 0 || h + kFadeInFrames > int64_t(heard.size() / 2) || m + kFadeInFrames > int64_t(mix.size() / 2))
        return false;
    for (int64_t k = 0; k < kFadeInFrames; ++k)
        for (int side = 0; side < 2; ++side)
            if (std::fabs(Frame(heard, h + k, side)) > std::fabs(Frame(mix, m + k, side)) + kSameSample) return false;
    return true;
}

}  // namespace

RecordingCheck CheckRecording(const std::vector<float>& heard, const std::vector<float>& mix, int64_t mixFrom,
                              int64_t frames, int64_t start, int underruns) {
    RecordingCheck check;
    const int64_t heardFrames = int64_t(heard.size() / 2), mixEnd = std::min(int64_t(mix.size() / 2), mixFrom + frames);
    // `start` is found by the first audible frame: a frame or two off at most.
    for (int64_t d = 0; d <= 64; ++d) {
        if (Holds(heard, mix, start + d, mixFrom)) {
            start += d;
            break;
        }
        if (Holds(heard, mix, start - d, mixFrom)) {
            start -= d;
            break;
        }
    }
    int64_t offset = start - mixFrom;  // heard frame = mix frame + offset
    auto fail = [&check](const std::string& what, int64_t m, int rate = 48000) {
        check.problem = what + " at mix frame " + std::to_string(m) + " (" + std::to_string(double(m) / rate) + " s)";
        return check;
    };
    for (int64_t m = mixFrom; m < mixEnd; ++m) {
        const int64_t h = m + offset;
        if (h < 0 || h >= heardFrames) {
            check.shortRecording = h >= heardFrames;
            return fail("the recording ends", m);
        }
        bool same = true;
        for (int side = 0; side < 2; ++side) {
            check.largest = std::max(check.largest, double(std::fabs(Frame(mix, m, side))));
            same = same && std::fabs(Frame(heard, h, side) - Frame(mix, m, side)) <= kSameSample;
        }
        if (same) continue;
        // Only exact silence may stand in for the mix: the server's own.
        int64_t zeros = h;
        while (zeros < heardFrames && Frame(heard, zeros, 0) == 0.0f && Frame(heard, zeros, 1) == 0.0f) ++zeros;
        if (zeros == h) return fail("the recording differs from the mix", m);
        if (check.jumps >= underruns)
            return fail("a gap in the recording that no underrun of the server accounts for", m);
        // After the silence the recording goes on from this frame of the mix
        // or a little later (what the server dropped), never from earlier;
        // it may come back through a fade-in no longer than the mixer's.
        int64_t resumed = -1;
        for (int64_t later = m; later <= m + (zeros - h) + 48000 && later < mixEnd && resumed < 0; ++later)
            if (Holds(heard, mix, zeros + kFadeInFrames, later + kFadeInFrames) &&
                FadesIn(heard, mix, zeros, later))
                resumed = later;
        if (resumed < 0) {
            check.shortRecording = zeros + kFadeInFrames + kMatchFrames > heardFrames;
            return fail("the recording does not come back to the mix after a gap", m);
        }
        ++check.jumps;
        offset = zeros - resumed;
        m = resumed + kFadeInFrames - 1;
    }
    check.ok = true;
    return check;
}
