#pragma once
// A real velnor-registryd on 127.0.0.1, started with --port 0 (or a given
// port) and a fixture tree; the port is read from its ready line.
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace velnor::test {

class RegistryServer {
public:
    // `tree` is a path (FixturePath(...) for fixtures). Throws when the
    // server does not report ready within 10 s.
    explicit RegistryServer(const std::string& tree, std::vector<std::string> extraArgs = {}, int port = 0);
    ~RegistryServer();

    int Port() const { return m_port; }
    std::string PortText() const { return std::to_string(m_port); }
    // Ends the server with `signal` and waits for it; gives the exit status.
    int Stop(int signal = 15);
    // SIGKILL, no clean-up.
    void Kill();
    // Starts it again with the same tree, arguments and port.
    void Restart();
    Child& Process() { return *m_child; }

private:
    void Start();
    std::string m_tree;
    std::vector<std::string> m_extraArgs;
    int m_port;
    std::unique_ptr<Child> m_child;
};

// The local socket a server on `port` makes in the runtime directory `dir`:
// DIR/velnor-registryd-PORT.sock, as the README documents it (spelled here
// on its own, so that the tests check the rule rather than repeat it).
std::string SocketPathIn(const std::string& dir, int port);

// Runs build/bin/velnor-rove with `args` against the server's port.
RunResult Rove(const RegistryServer& server, std::vector<std::string> args, const RunOptions& options = {});

}  // namespace velnor::test
