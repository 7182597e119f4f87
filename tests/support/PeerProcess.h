// Programs a test runs beside it: a peer that serves while the test runs
// (PeerProcess: socat, say) and a program run to its end (RunProcess:
// mbpoll, say), with its standard input empty and its standard output and
// error caught together.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

// Started in a process group of its own, which is killed and reaped when
// the object goes. The program is looked up on PATH.
class PeerProcess {
public:
    explicit PeerProcess(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        // posix_spawn rather than fork: the test process has threads.
        if (args.empty() ||
            posix_spawnp(&m_pid, argv[0], nullptr, &attributes, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawnattr_destroy(&attributes);
    }
    ~PeerProcess() {
        if (m_pid > 0) {
            kill(-m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool IsRunning() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};

struct ProcessResult {
    int nExitCode = -1;  // -1 when it did not start or was killed at the deadline
    std::string output;
};

// The words go to the shell as they stand, so none may need quoting. One
// still running at the deadline is killed; timeout's own codes, from 124
// up, mean killed or not started.
inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                std::chrono::seconds within = std::chrono::seconds(20)) {
    std::string command = "exec timeout -s KILL " + std::to_string(within.count());
    for (const std::string& word : args) {
        command += " " + word;
    }
    ProcessResult result;
    if (FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "re")) {
        char chunk[4096];
        for (std::size_t n = 0; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
            result.output.append(chunk, n);
        }
        const int nStatus = pclose(pipe);
        result.nExitCode =
            WIFEXITED(nStatus) && WEXITSTATUS(nStatus) < 124 ? WEXITSTATUS(nStatus) : -1;
    }
    return result;
}

}  // namespace testsupport
