// test_switches_test.cpp — the program's sources hold no switch a test flips.
//
// Index
//   Scanner            reads a source tree and a tests tree, lists the switches
//   Planted trees      the scanner finds each kind of switch it is meant to
//   The program        src/ against tests/: nothing found
//
// A test reaches the code through the objects it makes (the application
// state, the document context and its observer, an engine, a frame's GUI
// context), never through a process-wide variable on a production path.
// Two kinds of switch are looked for:
//   - a name ending in "ForTests" or "ForTesting" anywhere in the sources;
//   - a namespace-scope atomic, flag (bool) or hook (a function-pointer type
//     named ...Fn, ...Hook or ...Source) that some test assigns or stores into.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/tree_state.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Scanner
// ---------------------------------------------------------------------------

bool IsSource(const fs::path& path) {
    const std::string ext = path.extension().string();
    return ext == ".cpp" || ext == ".h";
}

// Every source file below `root`, with its text.
std::map<std::string, std::string> SourcesBelow(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && IsSource(entry.path()))
            files[fs::relative(entry.path(), root).string()] = ReadWholeFile(entry.path().string());
    return files;
}

// One finding: where, and what.
struct Switch {
    std::string file;
    std::string name;
    std::string why;
};

bool IdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// Every identifier of `text` that ends in `suffix`.
std::vector<std::string> NamesEndingIn(const std::string& text, const std::string& suffix) {
    std::vector<std::string> names;
    for (size_t at = text.find(suffix); at != std::string::npos; at = text.find(suffix, at + 1)) {
        const size_t end = at + suffix.size();
        if (end < text.size() && IdentChar(text[end])) continue;
        size_t begin = at;
        while (begin > 0 && IdentChar(text[begin - 1])) --begin;
        if (begin < at) names.push_back(text.substr(begin, end - begin));
    }
    return names;
}

bool EndsWith(const std::string& s, const std::string& end) {
    return s.size() > end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The g-name a line declares at namespace scope (the line starts at its
// first column, as the code is indented) when its type is an atomic, a flag
// or a hook; "" otherwise. Plain numbers are a panel's own state (an
// animation's value), not a switch.
std::string SwitchDeclaredBy(const std::string& line) {
    size_t at = 0;
    for (const char* word : {"static ", "inline "})
        if (line.compare(at, std::strlen(word), word) == 0) at += std::strlen(word);
    std::string type;
    if (line.compare(at, 12, "std::atomic<") == 0) {
        int depth = 0;
        size_t close = at + 11;
        for (; close < line.size(); ++close) {
            if (line[close] == '<') ++depth;
            if (line[close] == '>' && --depth == 0) break;
        }
        if (close >= line.size()) return "";
        type = "atomic";
        at = close + 1;
    } else {
        size_t end = at;
        while (end < line.size() && IdentChar(line[end])) ++end;
        type = line.substr(at, end - at);
        at = end;
        if (type != "bool" && !EndsWith(type, "Fn") && !EndsWith(type, "Hook") && !EndsWith(type, "Source"))
            return "";
    }
    if (at >= line.size() || line[at] != ' ') return "";
    while (at < line.size() && line[at] == ' ') ++at;
    size_t end = at;
    while (end < line.size() && IdentChar(line[end])) ++end;
    const std::string name = line.substr(at, end - at);
    if (name.size() < 2 || name[0] != 'g' || !std::isupper(static_cast<unsigned char>(name[1]))) return "";
    while (end < line.size() && line[end] == ' ') ++end;
    if (end >= line.size() || std::strchr("{=;", line[end]) == nullptr) return "";
    return name;
}

// Whether `text` assigns `name` or stores into it (a comparison or a read
// is not a setting).
bool Sets(const std::string& text, const std::string& name) {
    for (size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
        if (at > 0 && IdentChar(text[at - 1])) continue;
        size_t next = at + name.size();
        if (next < text.size() && IdentChar(text[next])) continue;
        while (next < text.size() && text[next] == ' ') ++next;
        if (next + 1 < text.size() && text[next] == '=' && text[next + 1] != '=') return true;
        for (const char* call : {".store(", ".exchange(", ".fetch_add(", ".fetch_sub("})
            if (text.compare(next, std::strlen(call), call) == 0) return true;
    }
    return false;
}

std::vector<Switch> FindTestSwitches(const fs::path& sources, const fs::path& tests) {
    std::vector<Switch> found;
    const auto src = SourcesBelow(sources);
    const auto testFiles = SourcesBelow(tests);
    std::map<std::string, std::string> globals;  // name, the file declaring it
    for (const auto& [file, text] : src) {
        for (const char* suffix : {"ForTests", "ForTesting"})
            for (const std::string& name : NamesEndingIn(text, suffix)) found.push_back({file, name, "named for tests"});
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            const std::string name = SwitchDeclaredBy(line);
            if (!name.empty()) globals[name] = file;
        }
    }
    for (const auto& [name, file] : globals)
        for (const auto& [testFile, text] : testFiles)
            if (Sets(text, name)) {
                found.push_back({file, name, "set by " + testFile});
                break;
            }
    return found;
}

std::string Describe(const std::vector<Switch>& found) {
    std::string text;
    for (const Switch& s : found) text += "  " + s.file + ": " + s.name + " (" + s.why + ")\n";
    return text;
}

// A source tree and a tests tree of the test's own, with files written into them.
struct PlantedTrees {
    TempDir dir;
    const fs::path src = fs::path(dir.path()) / "src", tests = fs::path(dir.path()) / "tests";
    void Write(const fs::path& path, const std::string& text) const { PlantFile(path.string(), text); }
};

}  // namespace

// ---------------------------------------------------------------------------
// Planted trees
// ---------------------------------------------------------------------------

TEST(TestSwitches, PlantedSwitchesAreEachFound) {
    const PlantedTrees t;
    t.Write(t.src / "a/clock.cpp",
            "#include <atomic>\n"
            "std::atomic<double (*)()> gClockSource{nullptr};\n"   // set by a test: found
            "std::atomic<int> gWrites{0};\n"                        // only read by a test: fine
            "bool gQuiet = false;\n"                                // set by a test: found
            "ProbeFn gProbeFn = nullptr;\n"                         // set in another test file: found
            "void UsePlainCodeForTests(bool on);\n");               // a name: found
    t.Write(t.src / "b/state.h",
            "struct State {\n"
            "    bool gInside = false;\n"  // a member, indented: not namespace scope
            "};\n");
    t.Write(t.tests / "a/clock_test.cpp",
            "void T() {\n"
            "    gClockSource.store(nullptr);\n"
            "    int n = gWrites.load();\n"
            "    gQuiet = true;\n"
            "    if (gQuiet == false) {}\n"
            "    gInside = true;\n"
            "}\n");
    t.Write(t.tests / "b/probe_test.cpp", "void P() { gProbeFn = nullptr; }\n");

    const std::vector<Switch> found = FindTestSwitches(t.src, t.tests);
    std::set<std::string> names;
    for (const Switch& s : found) names.insert(s.name);
    EXPECT_EQ(names, (std::set<std::string>{"gClockSource", "gQuiet", "gProbeFn", "UsePlainCodeForTests"}))
        << Describe(found);
}

TEST(TestSwitches, AComparisonOrAReadIsNotASetting) {
    const PlantedTrees t;
    t.Write(t.src / "flags.cpp", "bool gOpen = false;\nstd::atomic<bool> gRunning{false};\n");
    t.Write(t.tests / "flags_test.cpp", "void T() { EXPECT_TRUE(gOpen == false); EXPECT_FALSE(gRunning.load()); }\n");
    EXPECT_TRUE(FindTestSwitches(t.src, t.tests).empty());
}

// ---------------------------------------------------------------------------
// The program
// ---------------------------------------------------------------------------

TEST(TestSwitches, TheProgramHoldsNone) {
    const fs::path root = TL_SOURCE_DIR;
    ASSERT_TRUE(fs::is_directory(root / "src")) << root;
    const std::vector<Switch> found = FindTestSwitches(root / "src", root / "tests");
    EXPECT_TRUE(found.empty()) << "switches a test flips on the program's paths:\n" << Describe(found);
}
