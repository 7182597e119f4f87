// A program run by a test to its end (mbpoll, say), with its standard input
// empty and its standard output and error caught together.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int nExitCode = -1;  // -1 when it did not start or was killed at the deadline
    std::string output;
};

// The words go to the shell as they stand, so none may need quoting. One
// still running at the deadline is killed.
inline ProcessResult RunProcess(const std::vector<std::string>& args,
                                std::chrono::seconds within = std::chrono::seconds(20)) {
    std::string command = "exec timeout -s KILL " + std::to_string(within.count());
    for (const std::string& word : args) {
        command += " " + word;
    }
    ProcessResult result;
    FILE* pipe = popen((command + " </dev/null 2>&1").c_str(), "re");
    if (pipe == nullptr) {
        return result;
    }
    char chunk[4096];
    for (std::size_t n = 0; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        result.output.append(chunk, n);
    }
    // timeout's own codes, from 124 up: killed, or not started.
    const int nStatus = pclose(pipe);
    if (WIFEXITED(nStatus) && WEXITSTATUS(nStatus) < 124) {
        result.nExitCode = WEXITSTATUS(nStatus);
    }
    return result;
}

}  // namespace testsupport
