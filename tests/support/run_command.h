// run_command.h — runs a program for a test and collects what it printed.
//
// Index
//   CommandResult / RunCommand   exit status, standard output and standard error
//   SharedMaterialDir            the tests' shared folder (oracles, fixtures)
#pragma once

#include <string>
#include <vector>

struct CommandResult {
    int exitCode = -1;  // -1 when the program could not run or was killed
    std::string out;
    std::string err;
};

// Runs `args` (no shell) with `environment` entries ("NAME=value") added.
CommandResult RunCommand(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment = {});

// The folder named by the TL_SHARED_DIR build setting; empty, with `why`
// filled, when `relative` does not exist inside it.
std::string SharedMaterialDir(const std::string& relative, std::string* why);
