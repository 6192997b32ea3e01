// main.cpp — the program's entry: the shell runs start-up, the frame loop and
// the shutdown (app/shell.h).
#include "app/shell.h"

int main(int argc, char** argv) { return RunShell(argc, argv); }
