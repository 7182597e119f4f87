// A program run by a test to its end (mbpoll, say), with its standard input
// empty and its standard output and error caught together.
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

// The program is looked up on PATH when args[0] has no slash. It runs in a
// process group of its own, which is killed if it is still running at the
// deadline.
inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                std::chrono::milliseconds within = std::chrono::seconds(20)) {
    ProcessResult result;
    int out[2];
    if (args.empty() || pipe2(out, O_CLOEXEC) != 0) {
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    // posix_spawn rather than fork: the test process has threads.
    pid_t pid = -1;
    const bool bStarted =
        posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(out[1]);

    const auto deadline = std::chrono::steady_clock::now() + within;
    bool bEnded = false;
    while (bStarted && !bEnded) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0) {
            break;
        }
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            continue;  // a signal, or the time is up: the next turn sees which
        }
        char chunk[4096];
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n > 0) {
            result.output.append(chunk, static_cast<std::size_t>(n));
        }
        bEnded = n == 0 || (n < 0 && errno != EINTR);
    }
    close(out[0]);
    if (bStarted) {
        if (!bEnded) {
            kill(-pid, SIGKILL);
        }
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (bEnded && WIFEXITED(status)) {
            result.nExitCode = WEXITSTATUS(status);
        }
    }
    return result;
}

}  // namespace testsupport
