// pulse_server.cpp — starting, reaching and stopping a private PulseAudio
// server, and parec recordings of it.
//
// Index
//   Children        FindProgram, Spawn (dies with the test), Reap
//   PulseInstalled
//   Log lines       LogTime, NewestClientLine
//   PulseServer     Start, FindLogClock, Address, Underruns, UnderrunStretches,
//                   UseInThisProcess, Stop
//   PulseRecording  Start, Watch (the first frame's clock), Frames, Stop, Samples
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
#include <cstdio>
#include <cstdlib>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
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

// ---------------------------------------------------------------------------
// Log lines
// ---------------------------------------------------------------------------

// Seconds on the test's steady clock.
double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

// A line's time, "(  12.345|   0.001) D: ..." (seconds since the log's first
// line, in whole milliseconds); -1 for a line without one.
double LogTime(const std::string& line) {
    double seconds = -1;
    if (line.empty() || line[0] != '(' || std::sscanf(line.c_str() + 1, "%lf", &seconds) != 1) return -1;
    return seconds;
}

// The times of the lines that log a new client connection.
std::vector<double> ClientLineTimes(const std::string& log) {
    std::vector<double> times;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find("client.c: Created ") != std::string::npos) times.push_back(LogTime(line));
    return times;
}

// Where the server's log may place an underrun against a recording: the
// sink renders up to one block (the shortest latency a stream asked for:
// parec's 20 ms) ahead of its clock, and a recording's first-frame clock is
// an estimate within about one block plus parec's 20 ms fragment either
// way. 100 ms on each side is twice that.
constexpr double kUnderrunMargin = 0.1;

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
        "--realtime=yes", "--high-priority=yes", "--log-target=stderr", "--log-level=debug", "--log-time=yes",
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
        if (Accepts(socket_)) {
            if (FindLogClock()) return true;
            Reap(pid_, SIGTERM, 2000);
            why = "pulseaudio logged no connection of ours: " + ReadWholeFile(log);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Reap(pid_, SIGTERM, 2000);
    why = "pulseaudio did not answer on " + socket_ + " within 30 s: " + ReadWholeFile(log);
    return false;
}

bool PulseServer::FindLogClock() {
    // A connection of ours is logged between our connect and our reading of
    // the line: on our clock the log's time 0 lies within that span, less
    // the line's time. A loaded machine may not run the server, or this
    // thread, at once: the span is taken again until it is under 5 ms (at
    // most 20 times), and the narrowest is kept.
    const std::string log = dir_.File("server.log");
    for (int attempt = 0; attempt < 20 && !(logZeroSlack_ >= 0 && logZeroSlack_ < 0.0025); ++attempt) {
        const size_t before = ClientLineTimes(ReadWholeFile(log)).size();
        const double asked = Now();
        if (!Accepts(socket_)) continue;
        std::vector<double> times;
        double seen = asked;
        while ((times = ClientLineTimes(ReadWholeFile(log))).size() <= before && (seen = Now()) < asked + 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        seen = Now();
        if (times.size() <= before || times[before] < 0) continue;
        // The log's times are whole milliseconds, cut short.
        const double slack = (seen - asked) / 2 + 0.001;
        if (logZeroSlack_ < 0 || slack < logZeroSlack_) {
            logZeroSlack_ = slack;
            logZero_ = (asked + seen) / 2 - times[before];
        }
    }
    return logZeroSlack_ >= 0;
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

std::vector<HeardStretch> PulseServer::UnderrunStretches(const PulseRecording& recording) const {
    std::vector<HeardStretch> stretches;
    const double first = recording.FirstFrameClock();
    if (first < 0 || logZeroSlack_ < 0) return stretches;
    const double widen = kUnderrunMargin + logZeroSlack_;
    auto frameAt = [&](double logTime) {
        return std::max<int64_t>(0, int64_t(std::floor((logZero_ + logTime - first) * recording.Rate())));
    };
    auto add = [&](double from, double to) {
        HeardStretch s{frameAt(from - widen), to < 0 ? std::numeric_limits<int64_t>::max() : frameAt(to + widen)};
        if (!stretches.empty() && s.from <= stretches.back().to)
            stretches.back().to = std::max(stretches.back().to, s.to);
        else
            stretches.push_back(s);
    };
    // protocol-native logs "Implicit underrun of '<stream>'" (or "Actual")
    // when a playing stream runs dry, and "Requesting rewind due to end of
    // underrun." when its data comes again (also once as a stream starts,
    // with no underrun before it).
    std::istringstream in(ReadWholeFile(dir_.File("server.log")));
    double open = -1;
    for (std::string line; std::getline(in, line);) {
        const double t = LogTime(line);
        if (t < 0) continue;
        if (line.find(" underrun of '") != std::string::npos) {
            if (open < 0) open = t;
        } else if (line.find("end of underrun") != std::string::npos && open >= 0) {
            add(open, t);
            open = -1;
        }
    }
    if (open >= 0) add(open, -1);
    return stretches;
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
    rate_ = rate;
    const std::vector<std::string> args = {"--server=" + server.Address(), "--device=" + source,
                                           "--rate=" + std::to_string(rate), "--format=float32le",
                                           "--channels=2", "--raw", "--latency-msec=20"};
    pid_ = Spawn(program, args, {}, path, path + ".log");
    if (pid_ <= 0) return false;
    watching_.store(true);
    watcher_ = std::thread([this] { Watch(); });
    return true;
}

void PulseRecording::Watch() {
    while (watching_.load()) {
        const int64_t frames = Frames();
        // Read after the size, so that the bound never comes out early.
        const double now = Now();
        if (frames > 0) {
            const double bound = now - double(frames) / rate_;
            if (firstFrame_.load() < 0 || bound < firstFrame_.load()) firstFrame_.store(bound);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int64_t PulseRecording::Frames() const {
    struct stat st {};
    if (path_.empty() || ::stat(path_.c_str(), &st) != 0) return 0;
    return int64_t(st.st_size) / int64_t(2 * sizeof(float));
}

void PulseRecording::Stop() {
    watching_.store(false);
    if (watcher_.joinable()) watcher_.join();
    Reap(pid_, SIGINT, 3000);
}

std::vector<float> PulseRecording::Samples() const {
    const std::string bytes = ReadWholeFile(path_);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}
