// A peer program run by a test: started with pipes on its standard input
// and output, waited for until it says it is ready, talked to one line at a
// time, and always killed and reaped when the object goes.
//
//     testsupport::PeerProcess peer({"/usr/bin/python3", "peer.py", "tcp", "0"});
//     const std::string ready = peer.WaitForLine("ready", std::chrono::seconds(20));
//     if (ready.empty()) { ... it did not start ... }
//     peer.Command("get hr 3");   // one line out, one line back
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

class PeerProcess {
public:
    explicit PeerProcess(const std::vector<std::string>& args) {
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
        std::vector<char*> argv;
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            m_pid = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
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
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{m_out, POLLIN, 0};
            if (m_out < 0 || left.count() <= 0 ||
                poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                return {};
            }
            char chunk[256];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0) {
                return {};
            }
            m_pending.append(chunk, static_cast<std::size_t>(n));
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
            kill(m_pid, SIGKILL);
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
    pid_t m_pid = -1;
    int m_in = -1;
    int m_out = -1;
    std::string m_pending;
};

}  // namespace testsupport
