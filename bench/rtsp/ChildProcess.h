// ChildProcess: a program the benchmark driver starts, watches and ends: its CPU time and
// resident memory from /proc, its standard output line by line.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Brelso::Bench {

class ChildProcess {
public:
    // Starts argv[0] (searched in PATH) with stdin from a pipe the driver holds (closed when
    // the child is destroyed) and stdout captured when captureOutput, else /dev/null; stderr
    // goes to /dev/null unless showErrors. Null when the program cannot be started.
    static std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                               bool captureOutput, bool showErrors = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // User plus system CPU seconds so far (all threads); nullopt once the process is gone.
    std::optional<double> cpuSeconds() const;
    bool alive();
    // Next output line, waiting at most timeout; nullopt at the timeout or the end of output.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Waits for the exit (at most timeout), then returns all output not read yet.
    std::string finish(std::chrono::milliseconds timeout);
    void signal(int number);
    // Sends SIGINT, waits up to grace, then SIGKILL; reaps the process.
    void end(std::chrono::milliseconds grace);
    int exitStatus() const { return m_status; }

private:
    ChildProcess() = default;
    bool fill(std::chrono::milliseconds timeout);
    bool reap(bool wait);

    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    std::string m_pending;
    bool m_exited = false;
    int m_status = -1;
};

}  // namespace Brelso::Bench
