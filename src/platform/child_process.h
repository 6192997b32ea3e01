// child_process.h — running helper programs (dialogs, the file manager, the
// browser) with an argument list, never through a shell.
//
// Index
//   ProcessWait / ProcessResult   how to wait, and what came back
//   RunProcess                    start, collect standard output, wait
//   SpawnDetachedProcess          start and forget (reaped later)
//   ReapChildProcesses            collect the exit of detached children
//
// Every child gets /dev/null as standard input and standard error (helpers
// print toolkit warnings there that are no business of ours); only the
// standard output of RunProcess is read. Children that are not waited for
// are remembered and reaped, so none stays behind as a zombie. Any thread.
#pragma once

#include <string>
#include <vector>

struct ProcessWait {
    // Called about every 20 ms while the child runs (the window keeps
    // answering the desktop meanwhile). Null: just wait.
    void (*pump)() = nullptr;
    // 0: wait for the child however long it takes. Otherwise give up after
    // this many milliseconds; the child then runs on and is reaped later.
    int timeoutMs = 0;
    // Asked as often as `pump`; true: the child is sent SIGTERM and left to
    // be reaped later, and the result is as if it had failed (exit code -1).
    // A dialog open when the program must end goes away this way. Null: never.
    bool (*abandon)() = nullptr;
};

struct ProcessResult {
    bool started = false;   // false when the program could not be run at all
    bool timedOut = false;
    int exitCode = -1;      // -1 unless the child exited normally
    std::string out;        // its standard output
};

// args[0] is looked up on PATH.
ProcessResult RunProcess(const std::vector<std::string>& args, const ProcessWait& wait = {});

// False when the program could not be started.
bool SpawnDetachedProcess(const std::vector<std::string>& args);

// Collects every remembered child that has ended; never blocks. Returns how
// many are still running.
int ReapChildProcesses();
