// desktop_open.h — handing files and addresses to the desktop.
//
// Index
//   RevealInExplorer      show a file in the desktop's file manager
//   WinMainOpenCallback   open an address or a document with its program
//   FileUri               "file://" address of a path
//
// Neither reports anything: a failure leaves the screen as it was. The
// helpers run with an argument list, never a shell, and are reaped. UI thread.
#pragma once

#include <string>

// Asks the file manager (org.freedesktop.FileManager1 on the session bus,
// through dbus-send) to show the file selected; without one, opens the
// file's folder with xdg-open.
void RevealInExplorer(const std::string& path);

// xdg-open with the target: a web address or a local document.
void WinMainOpenCallback(const std::string& target);

// "file://" + the path with every byte outside A–Z a–z 0–9 - . _ ~ / percent-encoded.
std::string FileUri(const std::string& path);
