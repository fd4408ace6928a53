#include "support/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace velnor::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (pipe2(fd, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    }
};

void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

int DecodeStatus(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

std::vector<std::string> BuildEnvironment(const RunOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry(*e);
        auto eq = entry.find('=');
        if (eq != std::string::npos) env[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    // Tests never take their port from the developer's shell.
    env.erase("VELNOR_APP_PORT");
    for (const auto& name : options.unsetEnv) env.erase(name);
    for (const auto& [k, v] : options.env) env[k] = v;
    std::vector<std::string> out;
    for (const auto& [k, v] : env) out.push_back(k + "=" + v);
    return out;
}

// In the child: puts `pipeEnd`, nothing or /dev/full on descriptor `fd`.
void Attach(Descriptor_e kind, int pipeEnd, int fd) {
    switch (kind) {
        case Descriptor_e::ePipe: dup2(pipeEnd, fd); break;
        case Descriptor_e::eClosed: close(fd); break;
        case Descriptor_e::eDevFull: {
            const int full = open("/dev/full", fd == 0 ? O_RDONLY : O_WRONLY);
            if (full < 0) _exit(126);
            dup2(full, fd);
            close(full);
            break;
        }
    }
}

// Writes all of `text` (blocking); stops when the reader has gone.
void WriteAll(int fd, const std::string& text) {
    signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t w = write(fd, text.data() + written, text.size() - written);
        if (w > 0)
            written += static_cast<std::size_t>(w);
        else if (w < 0 && errno != EINTR)
            return;
    }
}

// Forks and execs; gives the pid and the parent's ends of the three pipes.
int Spawn(const std::vector<std::string>& argv, const RunOptions& options, int& inFd, int& outFd, int& errFd) {
    Pipe in, out, err;
    std::vector<std::string> envStrings = BuildEnvironment(options);
    std::vector<char*> args, envp;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const auto& e : envStrings) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // A child (a registry server above all) does not outlive the test,
        // however the test ends: killed with it. (The signal comes when the
        // thread that forked ends: tests start children from their own thread.)
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);
        // A test runner may have signals blocked or ignored; the child starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) signal(s, SIG_DFL);
        Attach(options.in, in.fd[0], 0);
        Attach(options.out, out.fd[1], 1);
        dup2(err.fd[1], 2);
        if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in.fd[0]);
    close(out.fd[1]);
    close(err.fd[1]);
    inFd = in.fd[1];
    outFd = out.fd[0];
    errFd = err.fd[0];
    return pid;
}

// Reads what is available from the fds into the strings until both are
// closed or the deadline passes. Returns false on time-out.
bool PumpUntil(int& outFd, int& errFd, std::string& out, std::string& err, Clock::time_point deadline,
               const std::function<bool()>& done) {
    char buffer[65536];
    while (outFd >= 0 || errFd >= 0) {
        if (done && done()) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd fds[2];
        int n = 0;
        if (outFd >= 0) fds[n++] = {outFd, POLLIN, 0};
        if (errFd >= 0) fds[n++] = {errFd, POLLIN, 0};
        int r = poll(fds, n, static_cast<int>(std::min<long long>(left, 100)));
        if (r < 0 && errno != EINTR) return false;
        for (int i = 0; i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            bool isOut = fds[i].fd == outFd;
            if (got > 0) {
                (isOut ? out : err).append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
                CloseFd(isOut ? outFd : errFd);
            }
        }
    }
    return done ? done() : true;
}

}  // namespace

RunResult Run(const std::vector<std::string>& argv, const RunOptions& options) {
    int inFd, outFd, errFd;
    pid_t pid = Spawn(argv, options, inFd, outFd, errFd);
    // Feed standard input without blocking on a child that does not read it.
    signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    fcntl(inFd, F_SETFL, O_NONBLOCK);
    RunResult result;
    auto deadline = Clock::now() + options.timeout;
    while (written < options.input.size()) {
        ssize_t w = write(inFd, options.input.data() + written, options.input.size() - written);
        if (w > 0) {
            written += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EAGAIN) {
            PumpUntil(outFd, errFd, result.out, result.err, std::min(deadline, Clock::now() + std::chrono::milliseconds(5)),
                      nullptr);
            if (Clock::now() >= deadline) break;
            continue;
        }
        break;  // EPIPE: the child closed its input
    }
    CloseFd(inFd);
    if (!PumpUntil(outFd, errFd, result.out, result.err, deadline, nullptr)) {
        result.timedOut = true;
        kill(pid, SIGKILL);
    }
    CloseFd(outFd);
    CloseFd(errFd);
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    result.status = DecodeStatus(raw);
    return result;
}

Child::Child(const std::vector<std::string>& argv, const RunOptions& options) {
    m_pid = Spawn(argv, options, m_inFd, m_outFd, m_errFd);
    if (!options.holdInput) CloseInput(options.input);
}

void Child::CloseInput(const std::string& text) {
    if (m_inFd < 0) return;
    WriteAll(m_inFd, text);
    CloseFd(m_inFd);
}

Child::~Child() {
    if (!m_exited && m_pid > 0) {
        kill(m_pid, SIGKILL);
        int raw;
        waitpid(m_pid, &raw, 0);
    }
    CloseFd(m_inFd);
    CloseFd(m_outFd);
    CloseFd(m_errFd);
}

void Child::Pump(std::chrono::milliseconds timeout) {
    PumpUntil(m_outFd, m_errFd, m_out, m_err, Clock::now() + timeout, [] { return true; });
}

bool Child::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    auto hasLine = [&] { return m_out.find('\n', m_lineStart) != std::string::npos; };
    bool ok = PumpUntil(m_outFd, m_errFd, m_out, m_err, deadline, [&] { return hasLine(); });
    if (!ok || !hasLine()) return false;
    auto end = m_out.find('\n', m_lineStart);
    line = m_out.substr(m_lineStart, end - m_lineStart);
    m_lineStart = end + 1;
    return true;
}

bool Child::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    return PumpUntil(m_outFd, m_errFd, m_out, m_err, deadline,
                     [&] { return m_out.find(text) != std::string::npos; });
}

bool Child::WaitForError(const std::string& text, std::size_t times, std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    auto count = [&] {
        std::size_t n = 0;
        for (auto at = m_err.find(text); at != std::string::npos; at = m_err.find(text, at + text.size())) ++n;
        return n;
    };
    return PumpUntil(m_outFd, m_errFd, m_out, m_err, deadline, [&] { return count() >= times; }) && count() >= times;
}

void Child::Signal(int signal) {
    if (!m_exited) kill(m_pid, signal);
}

bool Child::Running() {
    if (m_exited) return false;
    int raw;
    pid_t r = waitpid(m_pid, &raw, WNOHANG);
    if (r == m_pid) {
        m_exited = true;
        m_status = DecodeStatus(raw);
    }
    return !m_exited;
}

int Child::Wait(std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    PumpUntil(m_outFd, m_errFd, m_out, m_err, deadline, [&] { return !Running(); });
    // Both pipes can close a moment before the process can be reaped.
    while (m_outFd < 0 && m_errFd < 0 && Running() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (Running()) return -1;
    // Collect what is left in the pipes.
    PumpUntil(m_outFd, m_errFd, m_out, m_err, Clock::now() + std::chrono::milliseconds(500), nullptr);
    return m_status;
}

std::string BinPath(const std::string& name) { return std::string(VELNOR_BIN_DIR) + "/" + name; }
std::string FixturePath(const std::string& name) { return std::string(VELNOR_FIXTURE_DIR) + "/" + name; }

bool WaitUntilStopped(int pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("State:", 0) == 0 && line.find('T') != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string TempDir() {
    static std::mutex mutex;
    static std::vector<std::string> made;
    std::lock_guard<std::mutex> lock(mutex);
    std::string pattern = (std::filesystem::temp_directory_path() / "velnor-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    if (made.empty())
        std::atexit([] {
            for (const auto& d : made) {
                std::error_code ec;
                std::filesystem::remove_all(d, ec);
            }
        });
    made.emplace_back(buf.data());
    return made.back();
}

}  // namespace velnor::test
