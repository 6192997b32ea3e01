// run_command.cpp — fork, exec and collect the output of a helper program.
#include "support/run_command.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/temp_dir.h"

extern char** environ;

CommandResult RunCommand(const std::vector<std::string>& args,
                         const std::vector<std::string>& environment) {
    CommandResult result;
    if (args.empty()) return result;
    TempDir dir;
    std::string outPath = dir.File("out"), errPath = dir.File("err");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The given entries replace inherited ones of the same name.
    std::vector<std::string> envStrings = environment;
    for (char** e = environ; e && *e; ++e) {
        std::string entry = *e;
        bool replaced = false;
        for (const auto& mine : environment) {
            size_t eq = mine.find('=');
            if (eq != std::string::npos && entry.compare(0, eq + 1, mine, 0, eq + 1) == 0) replaced = true;
        }
        if (!replaced) envStrings.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        result.err = std::string("cannot run ") + args[0] + ": " + std::strerror(rc);
        return result;
    }
    int status = 0;
    pid_t waited = 0;
    while ((waited = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {}
    result.exitCode = waited == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadWholeFile(outPath);
    result.err = ReadWholeFile(errPath);
    return result;
}

std::string SharedMaterialDir(const std::string& relative, std::string* why) {
    std::string base = TL_SHARED_DIR;
    std::string path = base + "/" + relative;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (why)
            *why = "shared test material missing: " + path +
                   " (set the CMake setting TL_SHARED_DIR to the folder that holds it)";
        return "";
    }
    return path;
}
