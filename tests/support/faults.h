#pragma once
// Faults for the end-to-end tests: a server that stops answering, the short
// call deadline the runs under test get, and ways to wait for a run to
// reach the point where the fault is to strike.
#include <chrono>
#include <map>
#include <string>

#include "support/registry_server.h"

namespace velnor::test {

// The call deadline of the runs under test (VELNOR_CALL_DEADLINE_MS), and
// the bound within which a run that meets a fault must have ended: wide,
// so that a loaded machine does not fail the test. Sanitized programs run
// several times slower: a 4 MiB dump under TSan on a busy machine took
// more than a second, so their calls get a longer deadline.
#ifdef VELNOR_SANITIZED
constexpr const char* c_faultDeadlineMs = "4000";
#else
constexpr const char* c_faultDeadlineMs = "1000";
#endif
constexpr std::chrono::seconds c_faultBound{30};

// The environment of a run under test: the short deadline, and `more`.
std::map<std::string, std::string> FaultEnvironment(std::map<std::string, std::string> more = {});

// Stops the server with SIGSTOP until destroyed (then SIGCONT). The
// constructor returns once the process is stopped.
class PausedServer {
public:
    explicit PausedServer(RegistryServer& server);
    ~PausedServer();
    PausedServer(const PausedServer&) = delete;
    PausedServer& operator=(const PausedServer&) = delete;

private:
    RegistryServer& m_server;
};

// A TCP port of 127.0.0.1 that no server listens on: bound by this process,
// without listening, until destroyed, so that no one else can take it and a
// connection to it is refused.
class ReservedPort {
public:
    ReservedPort();
    ~ReservedPort();
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    int Port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
};

// Sets a variable of this process (which servers started from it inherit)
// until destroyed.
class ScopedEnvironment {
public:
    ScopedEnvironment(const std::string& name, const std::string& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

// Waits until the file at `path` holds `text`; false after `timeout`.
bool WaitForFileText(const std::string& path, const std::string& text, std::chrono::milliseconds timeout);

// A named pipe that a run reads a value from (`@PATH`): the writer's end
// opens once the run has come as far as reading it.
class ValuePipe {
public:
    explicit ValuePipe(const std::string& path);
    ~ValuePipe();
    ValuePipe(const ValuePipe&) = delete;
    ValuePipe& operator=(const ValuePipe&) = delete;

    const std::string& Path() const { return m_path; }
    // Waits until a reader opened the pipe; false after `timeout`.
    bool WaitForReader(std::chrono::milliseconds timeout);
    // Writes `text` and closes the pipe (the reader then sees its end).
    void WriteAndClose(const std::string& text);

private:
    std::string m_path;
    int m_fd = -1;
};

}  // namespace velnor::test
