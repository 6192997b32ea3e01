// Dialogs, reveal and open through scripted stand-ins for zenity, dbus-send
// and xdg-open put first on PATH: the argument lists they receive and what
// the program makes of their answers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "platform/child_process.h"
#include "platform/desktop_open.h"
#include "platform/dialogs.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace {

// Each fake writes its arguments, one per line, then "--end--", to
// $FAKE_LOG_<name>, prints $FAKE_OUT_<name> and exits with
// $FAKE_EXIT_<name> ($FAKE_QUESTION_EXIT for zenity --question).
const char kFakeProgram[] = R"(#!/bin/sh
name=$(basename "$0" | tr -c 'a-z\n' '_')
eval log=\$FAKE_LOG_$name
eval out=\$FAKE_OUT_$name
eval code=\$FAKE_EXIT_$name
# One write per run: helpers started side by side do not interleave.
printf '%s\n' "$@" "--end--" >> "$log"
if [ "$1" = "--question" ]; then exit "${FAKE_QUESTION_EXIT:-0}"; fi
if [ -n "$FAKE_SLEEP" ]; then sleep "$FAKE_SLEEP"; fi
if [ -n "$out" ]; then printf '%s\n' "$out"; fi
exit "${code:-0}"
)";

class Desktop : public testing::Test {
protected:
    void SetUp() override {
        bin = dir.File("bin");
        ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
        for (const char* name : {"zenity", "dbus-send", "xdg-open"}) {
            std::string path = bin + "/" + name;
            ASSERT_TRUE(WriteWholeFile(path, kFakeProgram));
            chmod(path.c_str(), 0755);
        }
        env.Set("PATH", bin + ":/usr/bin:/bin");
        env.Set("FAKE_LOG_zenity", dir.File("zenity.log"));
        env.Set("FAKE_LOG_dbus_send", dir.File("dbus.log"));
        env.Set("FAKE_LOG_xdg_open", dir.File("open.log"));
        SetDialogHost({});
    }
    void TearDown() override { SetDialogHost({}); }

    // The argument lists of every run of the fake, in order.
    std::vector<std::vector<std::string>> Calls(const std::string& log) {
        std::vector<std::vector<std::string>> calls(1);
        std::istringstream in(ReadWholeFile(dir.File(log)));
        for (std::string line; std::getline(in, line);) {
            if (line == "--end--") calls.emplace_back();
            else calls.back().push_back(line);
        }
        calls.pop_back();
        return calls;
    }

    // Detached helpers run on after the call returns.
    std::vector<std::vector<std::string>> CallsWhenDone(const std::string& log) {
        for (int i = 0; i < 200 && ReapChildProcesses() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return Calls(log);
    }

    TempDir dir;
    std::string bin;
    ScopedEnvironment env;
};

int gPumps = 0;
void CountPump() { ++gPumps; }

}  // namespace

TEST_F(Desktop, OpenDialogFiltersByExtensionAndReturnsThePathUnchanged) {
    const std::string chosen = "/tmp/Pr\xC3\xA4sentation/Regen \xE2\x80\x93 nah.wav";
    env.Set("FAKE_OUT_zenity", chosen);
    EXPECT_EQ(OpenFileDialog("Place Audio File", "wav"), chosen);
    EXPECT_EQ(OpenFileDialog("Ouvrir le fichier \xC3\xA9t\xC3\xA9", ""), chosen);
    EXPECT_EQ(OpenFileDialog("Select a video file for reference", "mp4;*.mov;*.m4v"), chosen);
    auto calls = Calls("zenity.log");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"--file-selection", "--title=Place Audio File",
                                                  "--file-filter=Files | *.[wW][aA][vV]"}));
    EXPECT_EQ(calls[1], (std::vector<std::string>{"--file-selection", "--title=Ouvrir le fichier \xC3\xA9t\xC3\xA9"}))
        << "no extension: no filter, and the title passes byte for byte";
    EXPECT_EQ(calls[2].back(), "--file-filter=Files | *.[mM][pP]4 *.[mM][oO][vV] *.[mM]4[vV]")
        << "a list of extensions is split on \";\"";
}

TEST_F(Desktop, CancelFailureOrNoZenityGiveAnEmptyPath) {
    env.Set("FAKE_EXIT_zenity", "1");
    EXPECT_EQ(OpenFileDialog("Open Tessaloom Project", "tlproj"), "");
    EXPECT_EQ(PickFolderDialog(), "");
    env.Set("FAKE_OUT_zenity", "/tmp/partial");
    env.Set("FAKE_EXIT_zenity", "5");
    EXPECT_EQ(SaveFileDialog("Save Tessaloom Project", "tlproj"), "") << "an error exit is no choice";
    env.Set("PATH", dir.File("nowhere"));
    EXPECT_EQ(ExportSaveDialogFor(""), "");
}

TEST_F(Desktop, SaveDialogAppendsItsExtensionToABareName) {
    env.Set("FAKE_OUT_zenity", dir.File("Reel 3"));
    EXPECT_EQ(SaveFileDialog("Save Tessaloom Project", "tlproj"), dir.File("Reel 3.tlproj"));
    env.Set("FAKE_OUT_zenity", dir.File("Reel 3.TLPROJ"));
    EXPECT_EQ(SaveFileDialog("Save Tessaloom Project", "tlproj"), dir.File("Reel 3.TLPROJ"));
    env.Set("FAKE_OUT_zenity", dir.File("Reel.v2"));
    EXPECT_EQ(SaveFileDialog("Save Tessaloom Project", "tlproj"), dir.File("Reel.v2.tlproj"));
    auto calls = Calls("zenity.log");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"--file-selection", "--title=Save Tessaloom Project", "--save",
                                                  "--confirm-overwrite",
                                                  "--file-filter=Files | *.[tT][lL][pP][rR][oO][jJ]"}));
}

TEST_F(Desktop, AnAppendedNameThatExistsIsAskedAboutFirst) {
    ASSERT_TRUE(WriteWholeFile(dir.File("Reel.tlproj"), "{}"));
    env.Set("FAKE_OUT_zenity", dir.File("Reel"));
    env.Set("FAKE_QUESTION_EXIT", "1");
    EXPECT_EQ(SaveFileDialog("Save Tessaloom Project", "tlproj"), "") << "the user kept the file";
    env.Set("FAKE_QUESTION_EXIT", "0");
    EXPECT_EQ(SaveFileDialog("Save Tessaloom Project", "tlproj"), dir.File("Reel.tlproj"));
    auto calls = Calls("zenity.log");
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[1][0], "--question");
    EXPECT_NE(std::find(calls[1].begin(), calls[1].end(), "--no-markup"), calls[1].end());
}

TEST_F(Desktop, ExportDialogProposesTheProjectName) {
    EXPECT_EQ(ExportDefaultName(""), "Untitled");
    EXPECT_EQ(ExportDefaultName("/home/a/Reels/Reel 3.tlproj"), "Reel 3");
    EXPECT_EQ(ExportDefaultName("C:\\Projects\\Reel 3.tlproj"), "Reel 3");
    EXPECT_EQ(ExportDefaultName("/home/a/.tlproj"), "Untitled");
    EXPECT_EQ(ExportDefaultName("/home/a.b/Reel"), "Reel") << "a dot in a folder is not an extension";

    env.Set("FAKE_OUT_zenity", "/out/Reel 3");
    EXPECT_EQ(ExportSaveDialogFor("/home/a/Reel 3.tlproj"), "/out/Reel 3");
    ExportSaveDialogFor("");
    auto calls = Calls("zenity.log");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"--file-selection", "--title=Export", "--save",
                                                  "--confirm-overwrite", "--filename=Reel 3"}));
    EXPECT_EQ(calls[1].back(), "--filename=Untitled");
}

TEST_F(Desktop, FolderPickerIsModalToTheWindowWhichKeepsAnswering) {
    gPumps = 0;
    SetDialogHost({0x2a00007, CountPump});
    env.Set("FAKE_SLEEP", "0.2");
    env.Set("FAKE_OUT_zenity", "/sounds/Foley");
    EXPECT_EQ(PickFolderDialog(), "/sounds/Foley");
    auto calls = Calls("zenity.log");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], (std::vector<std::string>{"--file-selection",
                                                  "--title=Select a folder containing audio files to scan",
                                                  "--modal", "--attach=44040199", "--directory"}));
    EXPECT_GE(gPumps, 3) << "the window is pumped while the dialog is open";
}

bool gEnding = false;
bool Ending() { return gEnding; }

// A dialog open when the program is told to end goes away as cancelled,
// rather than holding the frame (and the end) until someone answers it.
TEST_F(Desktop, AnOpenDialogIsAbandonedWhenTheProgramMustEnd) {
    gPumps = 0;
    gEnding = true;
    SetDialogHost({0, CountPump, Ending});
    env.Set("FAKE_SLEEP", "30");
    env.Set("FAKE_OUT_zenity", "/sounds/Foley");
    // A dialog that was waited for would have answered "/sounds/Foley".
    EXPECT_EQ(PickFolderDialog(), "") << "nobody waited for an answer";
    EXPECT_EQ(ExportSaveDialogFor("/films/Reel.tlproj"), "") << "nobody waited for an answer";
    gEnding = false;
    for (int i = 0; i < 500 && ReapChildProcesses() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(ReapChildProcesses(), 0) << "the abandoned dialogs were ended and reaped";
}

TEST_F(Desktop, RevealAsksTheFileManagerElseOpensTheFolder) {
    const std::string file = "/tmp/Sounds, etc/T\xC3\xBCr 1.wav";
    RevealInExplorer(file);
    auto asked = Calls("dbus.log");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].at(asked[0].size() - 2), "array:string:file:///tmp/Sounds%2C%20etc/T%C3%BCr%201.wav");
    EXPECT_TRUE(CallsWhenDone("open.log").empty()) << "the file manager answered";

    env.Set("FAKE_EXIT_dbus_send", "1");
    RevealInExplorer(file);
    auto opened = CallsWhenDone("open.log");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], (std::vector<std::string>{"/tmp/Sounds, etc"}));
}

TEST_F(Desktop, OpenHandsTheTargetToXdgOpenAndReapsIt) {
    WinMainOpenCallback("https://example.com/releases/2026.9");
    WinMainOpenCallback("-odd name.pdf");
    WinMainOpenCallback("");
    auto opened = CallsWhenDone("open.log");
    std::sort(opened.begin(), opened.end());  // the two helpers run side by side
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], (std::vector<std::string>{"./-odd name.pdf"})) << "never read as an option";
    EXPECT_EQ(opened[1], (std::vector<std::string>{"https://example.com/releases/2026.9"}));
    EXPECT_EQ(ReapChildProcesses(), 0);
}
