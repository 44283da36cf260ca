#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace Brelso::Bench {

std::unique_ptr<ChildProcess> ChildProcess::start(const std::vector<std::string>& argv,
                                                  bool captureOutput, bool showErrors) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipe2(in, O_CLOEXEC) != 0) return nullptr;
    if (captureOutput && pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    if (captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    if (!showErrors) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    if (captureOutput) close(out[1]);
    if (rc != 0) {
        close(in[1]);
        if (captureOutput) close(out[0]);
        return nullptr;
    }
    std::unique_ptr<ChildProcess> child(new ChildProcess());
    child->m_pid = pid;
    child->m_stdin = in[1];
    child->m_stdout = captureOutput ? out[0] : -1;
    return child;
}

ChildProcess::~ChildProcess() {
    if (!m_exited) end(std::chrono::milliseconds(3000));
    if (m_stdin >= 0) close(m_stdin);
    if (m_stdout >= 0) close(m_stdout);
}

std::optional<double> ChildProcess::cpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return std::nullopt;
    // Fields after the command name (which may hold spaces) start after the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 4 && field == "Z") return std::nullopt;
        if (index == 14) utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

bool ChildProcess::reap(bool wait) {
    if (m_exited) return true;
    int status = 0;
    const pid_t rc = waitpid(m_pid, &status, wait ? 0 : WNOHANG);
    if (rc == m_pid) {
        m_exited = true;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return m_exited;
}

bool ChildProcess::alive() {
    return !reap(false);
}

bool ChildProcess::fill(std::chrono::milliseconds timeout) {
    if (m_stdout < 0) return false;
    pollfd fd{m_stdout, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t n = read(m_stdout, buffer, sizeof(buffer));
    if (n <= 0) {
        close(m_stdout);
        m_stdout = -1;
        return false;
    }
    m_pending.append(buffer, static_cast<size_t>(n));
    return true;
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto newline = m_pending.find('\n');
        if (newline != std::string::npos) {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !fill(left)) return std::nullopt;
    }
}

std::string ChildProcess::finish(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_stdout >= 0 && std::chrono::steady_clock::now() < deadline) {
        fill(std::chrono::milliseconds(100));
    }
    while (!reap(false) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!m_exited) end(std::chrono::milliseconds(2000));
    std::string all;
    all.swap(m_pending);
    return all;
}

void ChildProcess::signal(int number) {
    if (!m_exited) kill(m_pid, number);
}

void ChildProcess::end(std::chrono::milliseconds grace) {
    if (m_exited) return;
    kill(m_pid, SIGINT);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (!reap(false) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!m_exited) {
        kill(m_pid, SIGKILL);
        reap(true);
    }
}

}  // namespace Brelso::Bench
