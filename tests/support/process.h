#pragma once
// Runs a child process with given arguments, standard input and extra
// environment, and collects its standard output, standard error and status.
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace velnor::test {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;      // exit status, or 128 + signal number
    bool timedOut = false;
};

// Where a child's standard input or output goes: the pipe to this process,
// nowhere (closed before the program starts), or /dev/full (every write
// fails with ENOSPC).
enum class Descriptor_e { ePipe, eClosed, eDevFull };

struct RunOptions {
    std::string input;                              // written to standard input, then closed
    bool holdInput = false;                         // Child: input stays open until CloseInput
    Descriptor_e in = Descriptor_e::ePipe;
    Descriptor_e out = Descriptor_e::ePipe;
    std::map<std::string, std::string> env;         // set (overrides) in the child
    std::vector<std::string> unsetEnv;              // removed in the child
    std::chrono::milliseconds timeout{20000};       // then SIGKILL and timedOut
    std::string workDir;                            // empty: inherit
};

RunResult Run(const std::vector<std::string>& argv, const RunOptions& options = {});

// A child whose output is read while it runs (for servers and listeners).
class Child {
public:
    Child(const std::vector<std::string>& argv, const RunOptions& options = {});
    ~Child();  // SIGKILL and reap when still running
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    int Pid() const { return m_pid; }
    // Writes `text` to standard input and closes it (with holdInput).
    void CloseInput(const std::string& text);
    // Reads standard output up to and including the next line end; false on
    // end of file or time-out.
    bool ReadLine(std::string& line, std::chrono::milliseconds timeout);
    // Waits until standard output holds `text` (everything read so far is
    // kept in Out()); false on time-out or end of file.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    // Waits until standard error holds `text` at least `times` times.
    bool WaitForError(const std::string& text, std::size_t times, std::chrono::milliseconds timeout);
    void Signal(int signal);
    // Waits for exit, reading the rest of both outputs; -1 on time-out.
    int Wait(std::chrono::milliseconds timeout);
    bool Running();
    const std::string& Out() const { return m_out; }
    const std::string& Err() const { return m_err; }

private:
    void Pump(std::chrono::milliseconds timeout);
    int m_pid = -1;
    int m_inFd = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    int m_status = -1;
    bool m_exited = false;
    std::string m_out;
    std::string m_err;
    std::size_t m_lineStart = 0;
};

std::string BinPath(const std::string& name);        // build/bin/<name>
std::string FixturePath(const std::string& name);    // tests/fixtures/<name>
std::string TempDir();                               // a fresh directory, removed at exit

// SIGSTOP takes effect asynchronously: waits until the process `pid` is
// stopped; false when it is not within `limit`.
bool WaitUntilStopped(int pid, std::chrono::milliseconds limit = std::chrono::seconds(5));

}  // namespace velnor::test
