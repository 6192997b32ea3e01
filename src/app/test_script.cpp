// test_script.cpp — reading the test driver's scripts.
//
// Index
//   Words and numbers    splitting a line, reading numbers locale-free
//   ParseButton / ParseKey
//   ParseTestScript      one command per line, compound commands expanded
#include <SDL.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "app/test_driver.h"

namespace {

// ---------------------------------------------------------------------------
// Words and numbers
// ---------------------------------------------------------------------------

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// The rest of the line after the command word, blanks around it removed.
std::string RestOfLine(const std::string& line, const std::string& command) {
    size_t start = line.find(command);
    if (start == std::string::npos) return "";
    start += command.size();
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    size_t end = line.size();
    while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
    return line.substr(start, end - start);
}

bool Number(const std::string& word, float& value) {
    char* stop = nullptr;
    double v = std::strtod(word.c_str(), &stop);
    if (word.empty() || *stop != '\0' || !std::isfinite(v)) return false;
    value = static_cast<float>(v);
    return true;
}

bool WholeNumber(const std::string& word, int& value) {
    char* stop = nullptr;
    long v = std::strtol(word.c_str(), &stop, 10);
    if (word.empty() || *stop != '\0' || v < 0 || v > 1000000) return false;
    value = static_cast<int>(v);
    return true;
}

// ---------------------------------------------------------------------------
// Buttons and keys
// ---------------------------------------------------------------------------

bool ParseButton(const std::vector<std::string>& words, size_t index, int& button) {
    if (index >= words.size()) {
        button = 0;
        return true;
    }
    const std::string& w = words[index];
    if (w == "left") button = 0;
    else if (w == "right") button = 1;
    else if (w == "middle") button = 2;
    else return false;
    return true;
}

bool ParseKey(std::string word, int& scancode, int& modifiers) {
    modifiers = KMOD_NONE;
    for (;;) {
        size_t plus = word.find('+');
        if (plus == std::string::npos || plus + 1 >= word.size()) break;
        std::string mod = word.substr(0, plus);
        for (char& c : mod) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (mod == "ctrl") modifiers |= KMOD_LCTRL;
        else if (mod == "shift") modifiers |= KMOD_LSHIFT;
        else if (mod == "alt") modifiers |= KMOD_LALT;
        else return false;
        word = word.substr(plus + 1);
    }
    SDL_Scancode sc = SDL_GetScancodeFromName(word.c_str());
    if (sc == SDL_SCANCODE_UNKNOWN) return false;
    scancode = static_cast<int>(sc);
    return true;
}

std::string ResolvePath(const std::string& path, const std::string& base) {
    if (path.empty() || path[0] == '/' || base.empty()) return path;
    return base + "/" + path;
}

}  // namespace

// ---------------------------------------------------------------------------
// ParseTestScript
// ---------------------------------------------------------------------------

bool ParseTestScript(const std::string& text, const std::string& baseFolder, std::vector<ScriptStep>& steps,
                     std::string& error) {
    steps.clear();
    std::istringstream in(text);
    std::string line;
    int number = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(number) + ": " + why;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        std::vector<std::string> w = Words(line);
        if (w.empty() || w[0][0] == '#') continue;
        const std::string& cmd = w[0];
        ScriptStep s;
        s.line = number;
        auto frames = [&](int n) {
            ScriptStep f;
            f.line = number;
            f.op = ScriptOp::Frames;
            f.count = n;
            steps.push_back(f);
        };
        auto expect = [&](size_t words) { return w.size() == words; };

        if (cmd == "frames") {
            if (!expect(2) || !WholeNumber(w[1], s.count)) return fail("frames takes a count");
            s.op = ScriptOp::Frames;
            steps.push_back(s);
        } else if (cmd == "move") {
            if (!expect(3) || !Number(w[1], s.x) || !Number(w[2], s.y)) return fail("move takes X Y");
            s.op = ScriptOp::Move;
            steps.push_back(s);
        } else if (cmd == "press" || cmd == "release") {
            if (w.size() > 2 || !ParseButton(w, 1, s.button)) return fail(cmd + " takes left, right or middle");
            s.op = cmd == "press" ? ScriptOp::Press : ScriptOp::Release;
            steps.push_back(s);
        } else if (cmd == "click") {
            if (w.size() < 3 || w.size() > 4 || !Number(w[1], s.x) || !Number(w[2], s.y) ||
                !ParseButton(w, 3, s.button))
                return fail("click takes X Y [BUTTON]");
            s.op = ScriptOp::Move;
            steps.push_back(s);
            s.op = ScriptOp::Press;
            steps.push_back(s);
            frames(1);
            s.op = ScriptOp::Release;
            steps.push_back(s);
            frames(1);
        } else if (cmd == "wheel") {
            if (!expect(2) || !Number(w[1], s.x)) return fail("wheel takes DY");
            s.op = ScriptOp::Wheel;
            steps.push_back(s);
        } else if (cmd == "keydown" || cmd == "keyup" || cmd == "key") {
            if (!expect(2) || !ParseKey(w[1], s.scancode, s.modifiers)) return fail("unknown key \"" + line + "\"");
            if (cmd == "key") {
                s.op = ScriptOp::KeyDown;
                steps.push_back(s);
                frames(1);
                s.op = ScriptOp::KeyUp;
                steps.push_back(s);
                frames(1);
            } else {
                s.op = cmd == "keydown" ? ScriptOp::KeyDown : ScriptOp::KeyUp;
                steps.push_back(s);
            }
        } else if (cmd == "dropbegin") {
            if (!expect(1)) return fail("dropbegin takes no argument");
            s.op = ScriptOp::DropBegin;
            steps.push_back(s);
        } else if (cmd == "dropcomplete") {
            if (w.size() > 2 || (w.size() == 2 && w[1] != "alt")) return fail("dropcomplete takes [alt]");
            s.op = ScriptOp::DropComplete;
            s.modifiers = w.size() == 2 ? KMOD_LALT : KMOD_NONE;
            steps.push_back(s);
        } else if (cmd == "edit") {
            if (!expect(2)) return fail("edit takes the kind of edit");
            s.op = ScriptOp::Edit;
            s.text = w[1];
            steps.push_back(s);
        } else if (cmd == "play" || cmd == "discard") {
            if (!expect(1)) return fail(cmd + " takes no argument");
            s.op = cmd == "play" ? ScriptOp::Play : ScriptOp::Discard;
            steps.push_back(s);
        } else if (cmd == "layerimages") {
            if (!expect(2) || (w[1] != "on" && w[1] != "off")) return fail("layerimages takes on or off");
            s.op = ScriptOp::LayerImages;
            s.full = w[1] == "on";
            steps.push_back(s);
        } else if (cmd == "measure") {
            // measure N, measure N pan POINTS, measure N zoom
            const bool read = (expect(2) || (expect(4) && w[2] == "pan" && Number(w[3], s.x) && s.x > 0) ||
                               (expect(3) && w[2] == "zoom")) &&
                              WholeNumber(w[1], s.count) && s.count >= 1;
            if (!read) return fail("measure takes a frame count, then optionally pan POINTS or zoom");
            s.button = w.size() == 2 ? 0 : w[2] == "pan" ? 2 : 1;
            s.op = ScriptOp::Measure;
            steps.push_back(s);
        } else if (cmd == "project") {
            s.text = RestOfLine(line, cmd);
            if (s.text.empty()) return fail("project needs a path");
            s.text = ResolvePath(s.text, baseFolder);
            s.op = ScriptOp::Project;
            steps.push_back(s);
        } else if (cmd == "exportreplace") {
            s.text = RestOfLine(line, cmd);
            if (s.text.empty()) return fail("exportreplace needs a path");
            s.text = ResolvePath(s.text, baseFolder);
            s.op = ScriptOp::Export;
            s.full = true;
            steps.push_back(s);
        } else if (cmd == "exporthold") {
            static const char* const kPasses[] = {"aaf", "mix", "stems", "tracks", "clips"};
            s.count = -1;
            for (int p = 0; p < 5; ++p)
                if (w.size() == 3 && w[1] == kPasses[p]) s.count = p;
            const bool off = expect(2) && w[1] == "off";
            if (!off && (s.count < 0 || !Number(w[2], s.x) || s.x < 0 || s.x > 1))
                return fail("exporthold takes aaf, mix, stems, tracks or clips and 0 <= FRACTION <= 1, or off");
            s.op = ScriptOp::ExportHold;
            steps.push_back(s);
        } else if (cmd == "waitheld") {
            if (!expect(2) || !Number(w[1], s.x) || s.x <= 0 || s.x > 600)
                return fail("waitheld takes 0 < SECONDS <= 600");
            s.op = ScriptOp::WaitHeld;
            steps.push_back(s);
        } else if (cmd == "text" || cmd == "drop" || cmd == "dropfile" || cmd == "screenshot" || cmd == "dump" ||
                   cmd == "exitdump" || cmd == "save" || cmd == "export" || cmd == "answer") {
            s.text = RestOfLine(line, cmd);
            if (s.text.empty()) return fail(cmd + " needs an argument");
            if (cmd == "text") {
                s.op = ScriptOp::Text;
            } else {
                s.text = ResolvePath(s.text, baseFolder);
                s.op = cmd == "drop"       ? ScriptOp::Drop
                       : cmd == "dropfile" ? ScriptOp::DropFile
                       : cmd == "dump"     ? ScriptOp::Dump
                       : cmd == "exitdump" ? ScriptOp::ExitDump
                       : cmd == "save"     ? ScriptOp::Save
                       : cmd == "export"   ? ScriptOp::Export
                       : cmd == "answer"   ? ScriptOp::Answer
                                           : ScriptOp::Screenshot;
            }
            steps.push_back(s);
            if (s.op == ScriptOp::Screenshot) frames(1);
        } else if (cmd == "focus" || cmd == "blur" || cmd == "enter" || cmd == "leave" || cmd == "close" ||
                   cmd == "quit") {
            if (!expect(1)) return fail(cmd + " takes no argument");
            s.op = cmd == "focus"   ? ScriptOp::Focus
                   : cmd == "blur"  ? ScriptOp::Blur
                   : cmd == "enter" ? ScriptOp::Enter
                   : cmd == "leave" ? ScriptOp::Leave
                   : cmd == "close" ? ScriptOp::Close
                                    : ScriptOp::Quit;
            steps.push_back(s);
        } else if (cmd == "resize") {
            if (!expect(3) || !WholeNumber(w[1], s.count) || !WholeNumber(w[2], s.count2) || s.count == 0 ||
                s.count2 == 0)
                return fail("resize takes W H in pixels");
            s.op = ScriptOp::Resize;
            steps.push_back(s);
        } else if (cmd == "waitfile") {
            if (!expect(3) || !Number(w[2], s.x) || s.x <= 0 || s.x > 600)
                return fail("waitfile takes PATH and 0 < SECONDS <= 600");
            s.text = ResolvePath(w[1], baseFolder);
            s.op = ScriptOp::WaitFile;
            steps.push_back(s);
        } else if (cmd == "exportspan") {
            if (w.size() < 4 || !Number(w[1], s.x) || s.x < 0 || s.x > 600 || !Number(w[2], s.y) || s.y <= 0 ||
                s.y > 3600)
                return fail("exportspan takes 0 <= BEFORE <= 600, 0 < AFTER <= 3600 and a path");
            s.text = ResolvePath(RestOfLine(RestOfLine(RestOfLine(line, cmd), w[1]), w[2]), baseFolder);
            s.op = ScriptOp::ExportSpan;
            steps.push_back(s);
        } else if (cmd == "streamwindow") {
            if (!expect(2) || !Number(w[1], s.x) || s.x <= 0 || s.x > 600)
                return fail("streamwindow takes 0 < SECONDS <= 600");
            s.op = ScriptOp::StreamWindow;
            steps.push_back(s);
        } else if (cmd == "clock") {
            if (!expect(2) || !Number(w[1], s.x) || s.x <= 0 || s.x > 1) return fail("clock takes 0 < STEP <= 1");
            s.op = ScriptOp::Clock;
            steps.push_back(s);
        } else if (cmd == "wait") {
            if (!expect(2) || !Number(w[1], s.x) || s.x <= 0 || s.x > 600) return fail("wait takes 0 < SECONDS <= 600");
            s.op = ScriptOp::Wait;
            steps.push_back(s);
        } else if (cmd == "waittask") {
            if (!expect(2) || !Number(w[1], s.x) || s.x <= 0 || s.x > 600)
                return fail("waittask takes 0 < SECONDS <= 600");
            s.op = ScriptOp::WaitTask;
            steps.push_back(s);
        } else if (cmd == "waitplay") {
            if (!expect(3) || !Number(w[1], s.x) || s.x <= 0 || s.x > 600 || !Number(w[2], s.y) || s.y <= 0 ||
                s.y > 600)
                return fail("waitplay takes 0 < SECONDS <= 600 and 0 < GUARD <= 600");
            s.op = ScriptOp::WaitPlay;
            steps.push_back(s);
        } else if (cmd == "settle") {
            if (!expect(2) || !Number(w[1], s.x) || s.x <= 0 || s.x > 600)
                return fail("settle takes 0 < SECONDS <= 600");
            s.op = ScriptOp::Settle;
            steps.push_back(s);
        } else if (cmd == "job") {
            if (w.size() < 2 || w.size() > 3 || !Number(w[1], s.x) || s.x < 0 || s.x > 600 ||
                (w.size() == 3 && w[2] != "full"))
                return fail("job takes 0 <= SECONDS <= 600 and optionally full");
            s.full = w.size() == 3;
            s.op = ScriptOp::Job;
            steps.push_back(s);
        } else if (cmd == "renderpace" || cmd == "buildpace") {
            if (!expect(2) || !WholeNumber(w[1], s.count) || s.count < 0)
                return fail(cmd + " takes a frame count (0: unpaced)");
            s.op = cmd == "renderpace" ? ScriptOp::RenderPace : ScriptOp::BuildPace;
            steps.push_back(s);
        } else if (cmd == "menu") {
            if (!expect(2) || !WholeNumber(w[1], s.count)) return fail("menu takes a command ID");
            s.op = ScriptOp::Menu;
            steps.push_back(s);
        } else if (cmd == "idle") {
            if (!expect(2) || !Number(w[1], s.x) || s.x <= 0 || s.x > 600) return fail("idle takes 0 < SECONDS <= 600");
            s.op = ScriptOp::Idle;
            steps.push_back(s);
        } else {
            return fail("unknown command \"" + cmd + "\"");
        }
    }
    return true;
}
