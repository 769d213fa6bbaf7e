#pragma once

// Starting a program from a benchmark, its standard streams where the benchmark wants them.
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

extern char** environ;

// Where a started program's standard streams go: a descriptor each, or one of these.
constexpr int kKept = -1;    // the benchmark's own
constexpr int kNowhere = -2; // /dev/null
struct TStreams {
    int In = kKept;
    int Out = kNowhere;
    int Err = kKept;
};

// Starts the program (a path, or a name looked for on the PATH); its process id, or -1. Pipes
// made with O_CLOEXEC reach it only as the streams given.
inline pid_t Spawn(std::vector<std::string> args, TStreams streams = {}) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [from, to] : {std::pair{streams.In, STDIN_FILENO}, std::pair{streams.Out, STDOUT_FILENO},
                                  std::pair{streams.Err, STDERR_FILENO}}) {
        if (from == kNowhere)
            posix_spawn_file_actions_addopen(&actions, to, "/dev/null", to == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
        else if (from >= 0)
            posix_spawn_file_actions_adddup2(&actions, from, to);
    }
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}
