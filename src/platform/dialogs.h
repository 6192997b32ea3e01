// dialogs.h — the file and folder dialogs, shown by zenity.
//
// Index
//   DialogHost            the parent window and the pump that keeps it alive
//                         (SetDialogHost, CurrentDialogHost)
//   PickFolderDialog      a folder to scan
//   ExportSaveDialogFor   where to export, proposing the project's name
//   ExportDefaultName     that proposal
//   OpenFileDialog / SaveFileDialog   a file of one type
//   QuestionDialog        a yes/no question
//   ZenityFileFilter      "--file-filter=" text for an extension list
//
// Each dialog runs zenity with an argument list (no shell) and returns the
// chosen path in UTF-8, or "" when the user cancels, zenity fails or is not
// installed. The dialog is modal to the main window; while it is open the
// host's pump runs, so the window keeps answering the desktop. UI thread.
#pragma once

#include <string>

struct DialogHost {
    unsigned long parentWindow = 0;  // X11 window id, 0 when unknown
    void (*pump)() = nullptr;        // called every ~20 ms while a dialog is open
    bool (*abandon)() = nullptr;     // true: the open dialog is closed as cancelled
};
void SetDialogHost(const DialogHost& host);
const DialogHost& CurrentDialogHost();

std::string PickFolderDialog();

// The proposed name is that of `projectPath` without folder and extension,
// "Untitled" when there is none.
std::string ExportSaveDialogFor(const std::string& projectPath);
std::string ExportDefaultName(const std::string& projectPath);

// `extension` is without its dot ("tlproj"); several may be given separated
// by ";", each optionally written "*.ext" ("mp4;*.mov"). Empty: any file.
std::string OpenFileDialog(const char* title, const char* extension);
// As the open dialog; a name typed without the (first) extension gets it.
std::string SaveFileDialog(const char* title, const char* extension);

// True when the user answers yes; false for no, a closed dialog or no zenity.
bool QuestionDialog(const char* title, const char* text);

// "--file-filter=Files | *.[mM][pP]4 ..." (the patterns match either case,
// as the names on the desktop's own dialogs do); "" for an empty list.
std::string ZenityFileFilter(const std::string& extensions);
