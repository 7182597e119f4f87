// Runs a peer program (mbpoll, say) to its end with a deadline, and hands
// back what it printed (standard output and error together) and how it
// ended. A program still running at the deadline is killed with its whole
// process group and reaped, so no test leaves a peer behind.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

struct ProcessResult {
    bool bStarted = false;
    bool bTimedOut = false;
    int nExitCode = -1;  // -1 when killed or not started
    std::string output;
};

inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    ProcessResult result;
    int fds[2];
    if (args.empty() || pipe2(fds, O_CLOEXEC) != 0) {
        return result;
    }
    // posix_spawn rather than fork: the test process has threads.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int nSpawn = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(fds[1]);
    if (nSpawn != 0) {
        close(fds[0]);
        return result;
    }
    result.bStarted = true;

    // Read until the program closes its end (it has ended) or time is up.
    const auto end = std::chrono::steady_clock::now() + deadline;
    char chunk[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.bTimedOut = true;
            break;
        }
        pollfd entry{fds[0], POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            continue;  // the next turn sees whether time is up
        }
        const ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n <= 0) {
            break;
        }
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    if (result.bTimedOut) {
        kill(-pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!result.bTimedOut && WIFEXITED(status)) {
        result.nExitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace testsupport
