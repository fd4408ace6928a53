#pragma once
// A real velnor-registryd on 127.0.0.1 with a fixture tree, on a port of
// its own: without a given port, the object first holds a free one (bound,
// not listening, with SO_REUSEADDR, which the server's own socket shares)
// for its whole life, so that no other process's --port 0 server or client
// can take it while this one restarts. The port is read from the ready line.
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
    // Starts it again with the same tree, arguments and port (held in between).
    void Restart();
    Child& Process() { return *m_child; }

private:
    void Start();
    std::string m_tree;
    std::vector<std::string> m_extraArgs;
    int m_port;
    std::unique_ptr<Child> m_child;
    int m_heldPort = -1;  // the socket that holds the port, or -1
};

// The local socket a server on `port` makes in the runtime directory `dir`:
// DIR/velnor-registryd-PORT.sock, as the README documents it (spelled here
// on its own, so that the tests check the rule rather than repeat it).
std::string SocketPathIn(const std::string& dir, int port);

// Runs build/bin/velnor-rove with `args` against the server's port.
RunResult Rove(const RegistryServer& server, std::vector<std::string> args, const RunOptions& options = {});

}  // namespace velnor::test
