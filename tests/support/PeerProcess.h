// A peer program run by a test, with pipes on its standard input and
// output, in a process group of its own that is always killed and reaped
// when the object goes.
//
// Interactive peers are waited for until they say they are ready, then
// talked to one line at a time:
//
//     testsupport::PeerProcess peer({"/usr/bin/python3", "peer.py", "tcp", "0"});
//     const std::string ready = peer.WaitForLine("ready", std::chrono::seconds(20));
//     if (ready.empty()) { ... it did not start ... }
//     peer.Command("get hr 3");   // one line out, one line back
//
// Programs that just run to their end (mbpoll, say) go through RunProcess,
// which hands back what they printed and their exit code.
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

class PeerProcess {
public:
    enum class Errors { kInherited, kWithOutput };

    // The program is looked up on PATH when args[0] has no slash.
    explicit PeerProcess(const std::vector<std::string>& args, Errors errors = Errors::kInherited) {
        int in[2];
        int out[2];
        if (args.empty() || pipe2(in, O_CLOEXEC) != 0) {
            return;
        }
        if (pipe2(out, O_CLOEXEC) != 0) {
            close(in[0]);
            close(in[1]);
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        if (errors == Errors::kWithOutput) {
            posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
        }
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        // posix_spawn rather than fork: the test process has threads.
        if (posix_spawnp(&m_pid, argv[0], &actions, &attributes, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        close(in[0]);
        close(out[1]);
        m_in = in[1];
        m_out = out[0];
    }
    ~PeerProcess() { Kill(); }
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool IsRunning() const { return m_pid > 0; }

    // The next line of its output that starts with the prefix (earlier
    // lines are skipped), without the newline; empty when none came in
    // time or the peer ended.
    std::string WaitForLine(const std::string& prefix, std::chrono::milliseconds within) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        for (;;) {
            const std::size_t nEnd = m_pending.find('\n');
            if (nEnd != std::string::npos) {
                std::string line = m_pending.substr(0, nEnd);
                m_pending.erase(0, nEnd + 1);
                if (line.compare(0, prefix.size(), prefix) == 0) {
                    return line;
                }
                continue;
            }
            if (ReadSome(deadline) <= 0) {
                return {};
            }
        }
    }

    // Sends one line and gives the first line of its answer (empty when
    // none came within five seconds).
    std::string Command(const std::string& line) {
        const std::string text = line + "\n";
        if (m_in < 0 ||
            write(m_in, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            return {};
        }
        return WaitForLine("", std::chrono::seconds(5));
    }

    // Its standard input reaches its end.
    void CloseInput() {
        if (m_in >= 0) {
            close(m_in);
            m_in = -1;
        }
    }

    // All it prints until it closes its output (it has ended: true) or the
    // time is up (false).
    bool ReadToEnd(std::chrono::milliseconds within, std::string& output) {
        const auto deadline = std::chrono::steady_clock::now() + within;
        ssize_t n = 0;
        while ((n = ReadSome(deadline)) > 0) {
        }
        output.swap(m_pending);
        m_pending.clear();
        return n == 0;
    }

    // Reaps the process once it has ended: its exit code, or -1 when it was
    // ended by a signal.
    int WaitForExit() {
        int status = 0;
        while (m_pid > 0 && waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Stops and resumes the whole process: a peer that no longer answers
    // anything, then does again.
    // Pause returns once the process has stopped.
    void Pause() {
        if (m_pid > 0 && kill(m_pid, SIGSTOP) == 0) {
            int status = 0;
            waitpid(m_pid, &status, WUNTRACED);
        }
    }
    void Resume() {
        if (m_pid > 0) {
            kill(m_pid, SIGCONT);
        }
    }

    void Kill() {
        if (m_pid > 0) {
            kill(-m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        for (int* fd : {&m_in, &m_out}) {
            if (*fd >= 0) {
                close(*fd);
                *fd = -1;
            }
        }
    }

private:
    // Appends what comes before the deadline to m_pending: the byte count,
    // 0 at the end of its output, -1 when nothing came in time.
    ssize_t ReadSome(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (m_out < 0 || left.count() <= 0) {
                return -1;
            }
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;  // a signal, or the time is up: the next turn sees which
            }
            char chunk[4096];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n > 0) {
                m_pending.append(chunk, static_cast<std::size_t>(n));
            }
            return n < 0 ? 0 : n;
        }
    }

    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_pending;
};

struct ProcessResult {
    int nExitCode = -1;  // -1 when it did not start, was killed or timed out
    std::string output;  // standard output and error together
};

// Runs a program to its end; one still running at the deadline is killed
// with its process group.
inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                std::chrono::milliseconds within = std::chrono::seconds(20)) {
    ProcessResult result;
    PeerProcess process(args, PeerProcess::Errors::kWithOutput);
    process.CloseInput();
    if (process.IsRunning() && process.ReadToEnd(within, result.output)) {
        result.nExitCode = process.WaitForExit();
    }
    return result;
}

}  // namespace testsupport
