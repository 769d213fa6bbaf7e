#pragma once

// Runs the built kelvara-cli as a process.
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

struct Result {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// The command that runs a program under test: the words of the variable ("wine /path/x.exe": the
// Windows build under Wine), or the program built beside the tests.
inline std::vector<std::string> CommandFrom(const char* variable, const std::string& otherwise) {
    const char* given = std::getenv(variable);
    if (!given || !*given)
        return {otherwise};
    std::vector<std::string> words;
    std::istringstream in(given);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}
inline std::vector<std::string> CliCommand() { return CommandFrom("KELVARA_TEST_CLI", KELVARA_CLI_PATH); }

// Runs the command once and collects its streams and exit status.
inline Result RunOnce(std::vector<std::string> copies, const std::function<void(pid_t)>& whileRunning,
                      int stdinFd) {
    std::vector<char*> argv;
    for (auto& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, stdinFd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    std::thread watcher;
    if (spawned == 0 && whileRunning)
        watcher = std::thread(whileRunning, pid);

    // The streams are read until the program has ended and they are empty, not until they
    // close: under Wine, a program needing a desktop starts Wine's desktop process, which
    // inherits the program's streams and outlives it.
    Result result;
    std::array<pollfd, 2> fds{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
    std::array<std::string*, 2> sinks{&result.Out, &result.Err};
    int status = 0;
    bool ended = spawned != 0;
    for (int open = 2; open > 0;) {
        const int ready = poll(fds.data(), fds.size(), ended ? 0 : 20);
        if (ready == 0 && ended)
            break;
        if (ready == 0)
            ended = waitpid(pid, &status, WNOHANG) == pid;
        for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    if (watcher.joinable())
        watcher.join();
    if (spawned == 0 && (ended || waitpid(pid, &status, 0) == pid) && WIFEXITED(status))
        result.Status = WEXITSTATUS(status);
    return result;
}

// Runs kelvara-cli (or another program) with the arguments and collects its streams and exit
// status. While it runs, whileRunning (when given) is called with its process id from another
// thread. Standard input is the caller's, or stdinFd when given.
inline Result RunCli(const std::vector<std::string>& args,
                     const std::function<void(pid_t)>& whileRunning = {},
                     std::string program = KELVARA_CLI_PATH, int stdinFd = -1) {
    std::vector<std::string> copies =
        program == KELVARA_CLI_PATH ? CliCommand() : std::vector<std::string>{program};
    copies.insert(copies.end(), args.begin(), args.end());
    Result result = RunOnce(copies, whileRunning, stdinFd);
    // Wine now and then ends a program before a line of its own has run: status 1, nothing
    // printed (tests/windows/wine-run.sh). Ours never end so, for a status 1 always comes with
    // its reason, so such a start is made once more, unless the test acted on it meanwhile;
    // said, and counted where the stage counts them.
    if (copies.front().ends_with("wine") && result.Status == 1 && result.Out.empty() &&
        result.Err.empty() && !whileRunning) {
        std::fprintf(stderr, "RunCli: Wine ended %s at once (status 1, no output); starting it again\n",
                     copies[1].c_str());
        if (const char* count = std::getenv("KELVARA_WINE_RESTARTS"); count && *count) {
            if (std::FILE* file = std::fopen(count, "a")) {
                std::fprintf(file, "%s\n", copies[1].c_str());
                std::fclose(file);
            }
        }
        result = RunOnce(copies, whileRunning, stdinFd);
    }
    // The Windows program names the system's error when a port is lost; Wine's differ from
    // Windows' own (the port's own tests check them), so the words are compared without it.
    if (program == KELVARA_CLI_PATH && copies.front() != KELVARA_CLI_PATH) {
        for (std::size_t at; (at = result.Err.find(" (Windows error ")) != std::string::npos;)
            result.Err.erase(at, result.Err.find(')', at) - at + 1);
    }
    return result;
}
