// quiet_stdout.cpp — swapping file descriptor 1 for /dev/null and back.
#include "support/quiet_stdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

void QuietStdout(bool quiet) {
    static int saved = -1;
    std::fflush(stdout);
    if (quiet && saved < 0) {
        saved = ::dup(1);
        int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::close(null);
        }
    } else if (!quiet && saved >= 0) {
        ::dup2(saved, 1);
        ::close(saved);
        saved = -1;
    }
}
