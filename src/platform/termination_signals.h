// termination_signals.h — SIGTERM, SIGHUP and SIGINT noted for the main loop.
//
// Index
//   InstallTerminationHandlers   a handler for the three that only notes the signal
//   PendingTerminationSignal     the signal noted (0: none)
//
// A logout, a shutdown or a service manager ends a program with SIGTERM; a
// closed terminal sends SIGHUP; Ctrl+C in the terminal that started the
// program sends SIGINT. The default action of each ends the process
// at once, losing every unsaved change, and a window toolkit that turns them
// into an ordinary quit leaves the program waiting on its unsaved-changes
// question. Here the handler does nothing but note which signal came (the
// only thing a handler may safely do); the main loop serves it on its next
// pass (app/shell_quit.h): it keeps a recovery backup and ends the program
// as a crash would leave it, without asking. A second signal changes nothing.
// Any thread may read the note.
#pragma once

// Installs the handler for SIGTERM, SIGHUP and SIGINT (restarting
// interrupted system calls), replacing whatever handled them before.
void InstallTerminationHandlers();

// SIGTERM, SIGHUP or SIGINT once one has arrived since the handlers were
// installed.
int PendingTerminationSignal();

// "SIGTERM", "SIGHUP", "SIGINT", else "signal N".
const char* TerminationSignalName(int signal);
