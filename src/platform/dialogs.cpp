// dialogs.cpp — zenity's file chooser and question behind the program's dialogs.
//
// Index
//   Host and arguments    SetDialogHost, the common arguments, running zenity
//   Filters               ZenityFileFilter, the extension list
//   Dialogs               PickFolderDialog, ExportSaveDialogFor, OpenFileDialog,
//                         SaveFileDialog, QuestionDialog
#include "platform/dialogs.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <string_view>
#include <vector>

#include "platform/child_process.h"
#include "platform/file_names.h"

// ---------------------------------------------------------------------------
// Host and arguments
// ---------------------------------------------------------------------------

namespace {

DialogHost gHost;

// zenity's own options for a dialog on top of the main window.
void AddParent(std::vector<std::string>& args) {
    if (gHost.parentWindow == 0) return;
    args.push_back("--modal");
    args.push_back("--attach=" + std::to_string(gHost.parentWindow));
}

std::vector<std::string> ZenityArguments(const std::string& title) {
    std::vector<std::string> args = {"zenity", "--file-selection", "--title=" + title};
    AddParent(args);
    return args;
}

// The chosen path, or "" on cancel (exit 1), failure or a missing zenity.
std::string RunChooser(const std::vector<std::string>& args) {
    ProcessWait wait;
    wait.pump = gHost.pump;
    wait.abandon = gHost.abandon;
    ProcessResult r = RunProcess(args, wait);
    if (!r.started) {
        std::printf("[UI] file dialog unavailable: zenity could not be started\n");
        std::fflush(stdout);
        return "";
    }
    if (r.exitCode != 0) return "";
    std::string path = r.out;
    if (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
}

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

void SetDialogHost(const DialogHost& host) { gHost = host; }

const DialogHost& CurrentDialogHost() { return gHost; }

// ---------------------------------------------------------------------------
// Filters
// ---------------------------------------------------------------------------

namespace {

// "mp4;*.mov;.m4v" → {"mp4", "mov", "m4v"}; empty pieces are dropped.
std::vector<std::string> SplitExtensions(const std::string& list) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos) end = list.size();
        std::string_view piece(list.data() + start, end - start);
        while (!piece.empty() && (piece.front() == ' ' || piece.front() == '*' || piece.front() == '.'))
            piece.remove_prefix(1);
        while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
        if (!piece.empty()) out.emplace_back(piece);
        start = end + 1;
    }
    return out;
}

std::string EitherCasePattern(const std::string& extension) {
    std::string pattern = "*.";
    for (char c : extension) {
        unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) {
            pattern += '[';
            pattern += static_cast<char>(std::tolower(u));
            pattern += static_cast<char>(std::toupper(u));
            pattern += ']';
        } else {
            pattern += c;
        }
    }
    return pattern;
}

}  // namespace

std::string ZenityFileFilter(const std::string& extensions) {
    std::vector<std::string> list = SplitExtensions(extensions);
    if (list.empty()) return "";
    std::string filter = "--file-filter=Files |";
    for (const std::string& e : list) {
        filter += ' ';
        filter += EitherCasePattern(e);
    }
    return filter;
}

// ---------------------------------------------------------------------------
// Dialogs
// ---------------------------------------------------------------------------

std::string PickFolderDialog() {
    std::vector<std::string> args = ZenityArguments("Select a folder containing audio files to scan");
    args.push_back("--directory");
    return RunChooser(args);
}

std::string ExportDefaultName(const std::string& projectPath) {
    if (projectPath.empty()) return "Untitled";
    size_t slash = projectPath.find_last_of("/\\");
    std::string name = slash == std::string::npos ? projectPath : projectPath.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.resize(dot);
    return name.empty() ? "Untitled" : name;
}

std::string ExportSaveDialogFor(const std::string& projectPath) {
    std::vector<std::string> args = ZenityArguments("Export");
    args.push_back("--save");
    args.push_back("--confirm-overwrite");
    args.push_back("--filename=" + ExportDefaultName(projectPath));
    return RunChooser(args);
}

std::string OpenFileDialog(const char* title, const char* extension) {
    std::vector<std::string> args = ZenityArguments(title ? title : "");
    std::string filter = ZenityFileFilter(extension ? extension : "");
    if (!filter.empty()) args.push_back(filter);
    return RunChooser(args);
}

std::string SaveFileDialog(const char* title, const char* extension) {
    std::vector<std::string> args = ZenityArguments(title ? title : "");
    args.push_back("--save");
    args.push_back("--confirm-overwrite");
    std::vector<std::string> extensions = SplitExtensions(extension ? extension : "");
    std::string filter = ZenityFileFilter(extension ? extension : "");
    if (!filter.empty()) args.push_back(filter);
    std::string path = RunChooser(args);
    if (path.empty() || extensions.empty()) return path;

    // The default extension: a name typed without it gets it. The chooser
    // asked about replacing the name as typed, not this one, so a file that
    // already has the longer name is asked about here.
    const std::string tail = "." + extensions.front();
    if (EndsWithNoCase(path, tail)) return path;
    path += tail;
    if (Exists(path)) {
        std::string file = path.substr(path.find_last_of('/') + 1);
        if (!QuestionDialog(title, ("A file named \"" + file + "\" already exists. Replace it?").c_str())) return "";
    }
    return path;
}

bool QuestionDialog(const char* title, const char* text) {
    std::vector<std::string> ask = {"zenity", "--question", "--no-markup",
                                    "--title=" + std::string(title ? title : ""),
                                    "--text=" + std::string(text ? text : "")};
    AddParent(ask);
    ProcessWait wait;
    wait.pump = gHost.pump;
    wait.abandon = gHost.abandon;
    return RunProcess(ask, wait).exitCode == 0;
}
