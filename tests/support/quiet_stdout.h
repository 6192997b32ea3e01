// quiet_stdout.h — standard output sent to /dev/null while a benchmark runs,
// so the program's own log lines do not drown its table.
#pragma once

// true: silence (once); false: restore what was silenced.
void QuietStdout(bool quiet);
