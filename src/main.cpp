// main.cpp — the program's entry: the shell runs start-up, the frame loop and
// the shutdown (app/shell.h) with the interface handed in from above
// (ui/interface_install.h). The one file that sees every layer.
#include <curl/curl.h>

#include "app/shell.h"
#include "ui/interface_install.h"

int main(int argc, char** argv) {
    // Once, before any thread can make a request.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int code = RunShell(argc, argv, InterfaceForShell());
    curl_global_cleanup();
    return code;
}
