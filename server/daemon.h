#pragma once
// One run of velnor-registryd: the store, the ORB with both registries, the
// notifiers and the update thread, started and stopped in order.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>

#include "connection_limits.h"
#include "tree.h"

namespace velnor::server {

struct DaemonOptions {
    std::string treeFile;
    std::string listen = "127.0.0.1";
    std::uint16_t port = 0;  // 0: a free port
    std::string stateFile;   // empty: nothing persists
    // A damaged state file is set aside with a warning instead of stopping
    // the start: the tree's values are served, the next save replaces it.
    bool discardDamagedState = false;
    ConnectionLimits connections;
};

// Exit codes of the program.
constexpr int c_exitOk = 0;
constexpr int c_exitFailure = 1;  // could not serve (address in use, ...)
constexpr int c_exitBadInput = 2;  // bad options, tree file or state file

class Daemon {
public:
    Daemon();
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Reads the tree and state files. Returns an exit code other than
    // c_exitOk when it could not (reason on `err`). Creates nothing, so a
    // stop request may end the process at any point of it.
    int Load(const DaemonOptions& options, std::ostream& err);
    // After Load: listens and writes the ready line to `out`; an exit code
    // other than c_exitOk when it could not start serving.
    int Serve(const DaemonOptions& options, std::ostream& out, std::ostream& err);
    // Stops delivery, updates and the ORB, and removes the socket file.
    void Stop();

private:
    struct Parts;
    std::unique_ptr<Parts> m_parts;
};

}  // namespace velnor::server
