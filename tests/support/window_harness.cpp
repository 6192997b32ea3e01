// window_harness.cpp — starting the program and reading what it left behind.
//
// Index
//   EnsureDisplay       $DISPLAY or a private Xvfb
//   PrivateDisplay      an Xvfb of a given screen size for one test
//   ProgramPath / RunProgram / BackgroundProgram / WaitForFile
//   ReadStateDump / DrawnTexts / DumpedEvents / ParseRect / ReadPng
//   ProgramScriptTest / IsolatedHomeTest / DemoStartTest
#include "support/window_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <stb_image.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

// ---------------------------------------------------------------------------
// Display
// ---------------------------------------------------------------------------

namespace {

pid_t gXvfb = -1;

void StopXvfb() {
    if (gXvfb > 0) {
        kill(gXvfb, SIGTERM);
        waitpid(gXvfb, nullptr, 0);
        gXvfb = -1;
    }
}

}  // namespace

namespace {

// Starts an Xvfb of one screen of `size` ("1920x1080x24"). Xvfb picks a free
// display itself and writes its number to the pipe, so that tests starting
// servers at the same time never share one. "" when it did not start.
std::string StartXvfb(const char* size, pid_t& pid) {
    pid = -1;
    int fds[2];
    if (pipe(fds) != 0) return "";
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 1);
        dup2(null, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", size, "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    if (child < 0) {
        close(fds[0]);
        return "";
    }
    std::string number;
    char c = 0;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        return "";
    }
    pid = child;
    return ":" + number;
}

}  // namespace

std::string EnsureDisplay() {
    static std::string display;
    if (!display.empty()) return display;
    if (const char* env = std::getenv("DISPLAY"); env && *env) return display = env;
    display = StartXvfb("1920x1080x24", gXvfb);
    if (display.empty()) return "";
    std::atexit(StopXvfb);
    setenv("DISPLAY", display.c_str(), 1);
    return display;
}

PrivateDisplay::PrivateDisplay(int width, int height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height) + "x24";
    name_ = StartXvfb(size.c_str(), pid_);
}

PrivateDisplay::~PrivateDisplay() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

// ---------------------------------------------------------------------------
// Running the program
// ---------------------------------------------------------------------------

std::string ProgramPath() {
    char self[PATH_MAX] = {};
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string();
    size_t slash = dir.rfind('/');
    dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    return dir + "/tessaloom";
}

namespace {

// Mesa's software renderer shares memory between its own threads in ways
// ThreadSanitizer cannot see; the program's own code is still checked.
std::string TsanOptionsForTheProgram() {
    // The program gets this process's options and one suppressions file:
    // this process's suppressions (the sound server's library) and the
    // software renderer's. A second "suppressions=" would replace the first.
    static TempDir dir;
    static const std::string options = [] {
        const char* current = std::getenv("TSAN_OPTIONS");
        std::string rest, lines = "race:swrast_dri.so\nrace:libgallium\nrace:libLLVM\n";
        std::string all = current ? current : "";
        size_t start = 0;
        while (start <= all.size()) {
            const size_t end = std::min(all.find(':', start), all.size());
            const std::string option = all.substr(start, end - start);
            if (option.rfind("suppressions=", 0) == 0)
                lines += ReadWholeFile(option.substr(13)) + "\n";
            else if (!option.empty())
                rest += (rest.empty() ? "" : ":") + option;
            start = end + 1;
        }
        const std::string path = dir.File("tsan_program.supp");
        if (WriteWholeFile(path, lines)) rest += (rest.empty() ? "" : ":") + std::string("suppressions=") + path;
        return rest;
    }();
    return options;
}

}  // namespace

ProgramRun RunProgram(const std::string& scriptPath,
                      const std::vector<std::pair<std::string, std::string>>& environment, int timeoutSeconds) {
    ProgramLaunch launch;
    launch.scriptPath = scriptPath;
    launch.environment = environment;
    launch.timeoutSeconds = timeoutSeconds;
    return RunProgram(launch);
}

namespace {

// The start-up launcher would stand over the window every test looks at: the
// program's preferences turn it off, unless the test brought preferences of
// its own. The folder follows the program's rule for the variables the child
// will have (the test's own override the harness's).
void TurnStartupLauncherOff(const std::string& home,
                            const std::vector<std::pair<std::string, std::string>>& environment) {
    std::map<std::string, std::string> env{{"HOME", home}, {"XDG_DATA_HOME", home + "/data"}};
    for (const auto& [key, value] : environment) env[key] = value;
    std::string folder;
    if (!env["APPDATA"].empty())
        folder = env["APPDATA"] + "/Tessaloom";
    else if (!env["USERPROFILE"].empty())
        folder = env["USERPROFILE"] + "/AppData/Roaming/Tessaloom";
    else if (!env["XDG_DATA_HOME"].empty() && env["XDG_DATA_HOME"][0] == '/')
        folder = env["XDG_DATA_HOME"] + "/Tessaloom";
    else if (!env["HOME"].empty())
        folder = env["HOME"] + "/.local/share/Tessaloom";
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string prefs = folder + "/com.tessaloom.prefs";
    if (!std::filesystem::exists(prefs, ec)) WriteWholeFile(prefs, "showLauncherOnStartup=0\n");
}

// The program's environment: ours with the run's own folders and settings,
// then the test's (which win). Made before the fork: the child of a test
// process with threads of its own (a loopback server, a program in the
// background) may call nothing that takes a lock, such as setenv or malloc,
// or it can hang for good on a lock a thread held at the fork.
std::vector<std::string> ProgramEnvironment(const ProgramLaunch& launch, const std::string& home,
                                            const std::string& runtimeDir, const std::string& tsanOptions) {
    std::map<std::string, std::string> env;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const size_t eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    env["ASAN_OPTIONS"] = "detect_leaks=0";
    if (!tsanOptions.empty()) env["TSAN_OPTIONS"] = tsanOptions;
    env.erase("APPDATA");
    env.erase("USERPROFILE");
    env["HOME"] = home;
    env["XDG_DATA_HOME"] = home + "/data";
    env["XDG_RUNTIME_DIR"] = runtimeDir;
    if (!launch.scriptPath.empty()) env["TL_TEST_SCRIPT"] = launch.scriptPath;
    // No window test reaches the network: the update check is off unless
    // a test names a server of its own.
    env["TL_UPDATE_MANIFEST_URL"] = "";
    for (const auto& [key, value] : launch.environment) env[key] = value;
    std::vector<std::string> entries;
    for (const auto& [key, value] : env) entries.push_back(key + "=" + value);
    return entries;
}

}  // namespace

ProgramRun RunProgram(const ProgramLaunch& launch) {
    ProgramRun run;
    std::string program = ProgramPath();
    std::string tsanOptions = TsanOptionsForTheProgram();
    // The program's user folders (libraries, preferences) and its runtime
    // folder live in a folder of this run.
    TempDir home;
    const std::string runtimeDir = home.File("run");
    mkdir(runtimeDir.c_str(), 0700);
    TurnStartupLauncherOff(home.path(), launch.environment);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    std::vector<std::string> environment = ProgramEnvironment(launch, home.path(), runtimeDir, tsanOptions);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const char* workingDir = launch.workingDir.empty() ? nullptr : launch.workingDir.c_str();
    static const char kExecFailed[] = "cannot start the program\n";
    const auto started = std::chrono::steady_clock::now();
    int out[2];
    if (pipe(out) != 0) return run;
    pid_t pid = fork();
    if (pid == 0) {
        // Only calls that are safe after a fork until the exec.
        dup2(out[1], 1);
        dup2(out[1], 2);
        close(out[0]);
        close(out[1]);
        if (workingDir && chdir(workingDir) != 0) _exit(126);
        execve(program.c_str(), args.data(), envp.data());
        (void)!write(2, kExecFailed, sizeof kExecFailed - 1);
        _exit(127);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return run;
    }
    if (launch.started) launch.started(static_cast<int>(pid));
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(launch.timeoutSeconds);
    char buffer[4096];
    for (;;) {
        pollfd p{out[0], POLLIN, 0};
        int ready = poll(&p, 1, 100);
        if (ready > 0) {
            ssize_t got = read(out[0], buffer, sizeof buffer);
            if (got <= 0) break;
            run.log.append(buffer, static_cast<size_t>(got));
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            run.log += "\n[harness] killed at the timeout\n";
            break;
        }
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (WIFEXITED(status) && run.log.find("[harness] killed") == std::string::npos) run.exitCode = WEXITSTATUS(status);
    return run;
}

BackgroundProgram::BackgroundProgram(ProgramLaunch launch)
    : thread_([this, launch = std::move(launch)] { run_ = RunProgram(launch); }) {}

BackgroundProgram::~BackgroundProgram() {
    if (thread_.joinable()) thread_.join();
}

const ProgramRun& BackgroundProgram::Wait() {
    if (thread_.joinable()) thread_.join();
    return run_;
}

bool WaitForFile(const std::string& path, int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    struct stat st {};
    while (stat(path.c_str(), &st) != 0) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// ---------------------------------------------------------------------------
// Reading results
// ---------------------------------------------------------------------------

std::map<std::string, std::string> ReadStateDump(const std::string& path) {
    std::map<std::string, std::string> fields;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) fields[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return fields;
}

float DumpNumber(std::map<std::string, std::string>& dump, const std::string& key) {
    EXPECT_TRUE(dump.count(key)) << key;
    return std::strtof(dump[key].c_str(), nullptr);
}

double DumpFigure(const std::map<std::string, std::string>& dump, const std::string& key) {
    auto it = dump.find(key);
    return it == dump.end() ? -1 : std::strtod(it->second.c_str(), nullptr);
}

std::vector<float> DumpNumbers(const std::string& list) {
    std::vector<float> values;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ',')) values.push_back(std::strtof(item.c_str(), nullptr));
    return values;
}

bool DumpedText::Whole() const {
    constexpr float slack = 0.5f;
    return x >= clipX - slack && y >= clipY - slack && x + width <= clipX + clipWidth + slack &&
           y + height <= clipY + clipHeight + slack;
}

std::vector<DumpedText> DrawnTexts(std::map<std::string, std::string>& dump) {
    std::vector<DumpedText> texts;
    const int count = std::atoi(dump["drawn.count"].c_str());
    for (int i = 0; i < count; ++i) {
        const std::string key = "drawn." + std::to_string(i);
        DumpedText t;
        t.widget = dump[key + ".widget"];
        for (size_t k = 0; k < dump[key + ".text"].size(); ++k) {
            const std::string& raw = dump[key + ".text"];
            if (raw[k] == '\\' && k + 1 < raw.size() && raw[k + 1] == 'n') {
                t.text += '\n';
                ++k;
            } else {
                t.text += raw[k];
            }
        }
        const std::vector<float> rect = DumpNumbers(dump[key + ".rect"]);
        const std::vector<float> clip = DumpNumbers(dump[key + ".clip"]);
        if (rect.size() == 4) t.x = rect[0], t.y = rect[1], t.width = rect[2], t.height = rect[3];
        if (clip.size() == 4) t.clipX = clip[0], t.clipY = clip[1], t.clipWidth = clip[2], t.clipHeight = clip[3];
        t.color = static_cast<uint32_t>(std::strtoul(dump[key + ".color"].c_str(), nullptr, 16));
        t.fontSize = std::strtof(dump[key + ".size"].c_str(), nullptr);
        t.window = dump[key + ".window"];
        const std::vector<float> scroll = DumpNumbers(dump[key + ".scroll"]);
        if (scroll.size() == 2) t.scrollUp = scroll[0], t.scrollDown = scroll[1];
        texts.push_back(std::move(t));
    }
    return texts;
}

std::vector<DumpedEvent> DumpedEvents(std::map<std::string, std::string>& dump) {
    std::vector<DumpedEvent> events;
    for (int i = 0; dump.count("event." + std::to_string(i)); ++i) {
        DumpedEvent e;
        std::sscanf(dump["event." + std::to_string(i)].c_str(), "%d,%lf", &e.shape, &e.time);
        events.push_back(e);
    }
    return events;
}

std::string PointRect::Centre() const {
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %.1f", double(cx()), double(cy()));
    return text;
}

PointRect ParseRect(const std::string& text) {
    PointRect r;
    EXPECT_EQ(std::sscanf(text.c_str(), "%f,%f,%f,%f", &r.x, &r.y, &r.w, &r.h), 4) << "'" << text << "'";
    return r;
}

std::string ScriptPoint(float x, float y) {
    char text[64];
    std::snprintf(text, sizeof text, "%.0f %.0f", double(x), double(y));
    return text;
}

uint32_t PngImage::PackedAt(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0;
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 4];
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool ReadPng(const std::string& path, PngImage& image) {
    int w = 0, h = 0, channels = 0;
    unsigned char* data = stbi_load(path.c_str(), &w, &h, &channels, 4);
    if (!data) return false;
    image.width = w;
    image.height = h;
    image.rgba.assign(data, data + static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    stbi_image_free(data);
    return true;
}

// ---------------------------------------------------------------------------
// ProgramScriptTest
// ---------------------------------------------------------------------------

void ProgramScriptTest::SetUp() {
    if (EnsureDisplay().empty()) GTEST_FAIL() << "no X display and no Xvfb could be started";
}

ProgramRun ProgramScriptTest::Run(const std::string& script,
                                  std::vector<std::pair<std::string, std::string>> env) {
    std::string path = dir.File("script.txt");
    WriteWholeFile(path, script);
    ProgramRun run = RunProgram(path, env);
    if (run.exitCode != 0) std::printf("%s", run.log.c_str());
    return run;
}

ProgramLaunch ProgramScriptTest::LaunchOn(const std::string& project, const std::string& script, int timeoutSeconds,
                                          const std::string& scriptName) {
    WriteWholeFile(dir.File(scriptName), script);
    ProgramLaunch launch;
    launch.scriptPath = dir.File(scriptName);
    launch.arguments = {project};
    launch.timeoutSeconds = timeoutSeconds;
    return launch;
}

void IsolatedHomeTest::SetUp() {
    ProgramScriptTest::SetUp();
    std::filesystem::create_directories(dir.File("home/Documents/Tessaloom"));
    WriteWholeFile(dir.File("home/Documents/Tessaloom/.demo_version"), "installed\n");
    std::filesystem::create_directories(dir.File("data"));
}

ProgramRun IsolatedHomeTest::RunScript(const std::string& script,
                                       std::vector<std::pair<std::string, std::string>> env) {
    env.emplace_back("HOME", dir.File("home"));
    env.emplace_back("XDG_DATA_HOME", dir.File("data"));
    ProgramRun run = Run(script, env);
    if (const char* keep = std::getenv("TL_KEEP_SCREENSHOTS"))
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            if (entry.path().extension() == ".png")
                std::filesystem::copy_file(entry.path(), std::filesystem::path(keep) / entry.path().filename(),
                                           std::filesystem::copy_options::overwrite_existing);
    return run;
}

ProgramRun DemoStartTest::Start(const std::string& name, const std::string& script,
                                std::vector<std::pair<std::string, std::string>> env) {
    WriteWholeFile(dir.File(name), script);
    ProgramLaunch launch;
    launch.scriptPath = dir.File(name);
    launch.arguments = {Demo()};
    launch.environment = {{"HOME", dir.File("home")},
                          {"XDG_DATA_HOME", dir.File("home/data")},
                          {"XDG_RUNTIME_DIR", dir.File("home/run")}};
    for (auto& e : env) launch.environment.push_back(e);
    std::filesystem::create_directories(dir.File("home/run"));
    return RunProgram(launch);
}

std::string DemoStartTest::Demo() const {
    return dir.File("home/Documents/Tessaloom/Projects/Rooftop Chase/Rooftop Chase.tlproj");
}
