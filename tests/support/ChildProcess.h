// Runs a peer program (mbpoll, say) to its end and hands back what it
// printed (standard output and error together) and its exit code. One still
// running at the deadline is killed with its process group and reaped, so
// no test leaves a peer behind.
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
    int nExitCode = -1;  // -1 when it did not start, was killed or timed out
    std::string output;
};

inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                std::chrono::milliseconds deadline = std::chrono::seconds(20)) {
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
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
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
    // Its output until it closes it (it has ended) or the time is up.
    const auto end = std::chrono::steady_clock::now() + deadline;
    bool bEnded = nSpawn != 0;
    while (!bEnded) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd entry{fds[0], POLLIN, 0};
        if (poll(&entry, 1, static_cast<int>(left.count())) <= 0) {
            continue;  // a signal, or the time is up: the next turn sees which
        }
        char chunk[4096];
        const ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n <= 0) {
            bEnded = true;
        } else {
            result.output.append(chunk, static_cast<std::size_t>(n));
        }
    }
    close(fds[0]);
    if (nSpawn != 0) {
        return result;
    }
    if (!bEnded) {
        kill(-pid, SIGKILL);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (bEnded && WIFEXITED(status)) {
        result.nExitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace testsupport
