// main.cpp — the program's entry: the shell runs start-up, the frame loop and
// the shutdown (app/shell.h).
#include <curl/curl.h>

#include "app/shell.h"

int main(int argc, char** argv) {
    // Once, before any thread can make a request.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int code = RunShell(argc, argv);
    curl_global_cleanup();
    return code;
}
