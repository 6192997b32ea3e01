// path_refusal.h — what stands at a path the program was given, and the one
// sentence the user sees when the program will not use it.
//
// Index
//   PathKind / PathWanted   what a path turned out to be, what the caller needed
//   InspectPath             the kind at a path (links followed), without opening it
//   RefusalSentence         "“NAME” is a named pipe, not a file", one per kind
//   FolderRefusal           the sentence for a path that should be a readable folder
//
// Paths arrive from dialogs, drops, the command line and files strangers
// send. Whatever refuses one (opening a project, importing a video, adding a
// library, relinking a sound, a drop) says why with the same words, naming
// the file the user chose rather than the folder it lies in; the log keeps
// the whole path. Looking at a path never opens it: a named pipe opened for
// reading wakes the writer waiting on it, and some devices act when opened.
// Any thread.
#pragma once

#include <string>

enum class PathKind {
    Regular,
    Folder,
    NamedPipe,
    Socket,
    CharacterDevice,
    BlockDevice,
    OtherKind,   // anything else the file system may hold
    Missing,     // nothing there (or a link to nothing)
    Unreadable,  // there, but the system refuses to say or to open it
};

enum class PathWanted { File, Folder };

// stat(2) of `path`. *error gets the system's error number for Missing and
// Unreadable (0 otherwise) when given.
PathKind InspectPath(const std::string& path, int* error = nullptr);

// The sentence for a path of `kind` that the caller needed as `wanted`:
//   “NAME” is a folder, not a file      “NAME” is a file, not a folder
//   “NAME” is a named pipe, not a file  (a socket, a character device, a block device)
//   “NAME” was not found                “NAME” is unreadable (Permission denied)
// NAME is the last part of the path (the path itself when it has none);
// `error` gives the system's reason of an unreadable one. "" for a kind the
// caller can use (a regular file wanted as a file, a folder as a folder).
std::string RefusalSentence(const std::string& path, PathKind kind, PathWanted wanted, int error = 0);

// "" when `path` is a folder whose entries can be listed; otherwise its
// sentence (a file, a pipe, a missing or unreadable folder).
std::string FolderRefusal(const std::string& path);
