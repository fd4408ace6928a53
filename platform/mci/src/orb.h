#pragma once
// The process-wide CORBA runtime of the library: started on first use,
// destroyed by mci::Shutdown, and a lock that tells late users (handles and
// notification clients outliving Shutdown) whether it is still alive.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <omniORB4/CORBA.h>

namespace mci::detail {

class Connection;

class OrbRuntime {
public:
    static OrbRuntime& Instance();

    // Keeps a copy of the program name; nothing else of argv is used.
    void Init(int argc, char** argv);
    // Starts the ORB when it is not running. `host` is the first registry
    // host, which decides where a callback endpoint would listen. Throws
    // istd::Exception after Shutdown or when the runtime cannot start.
    CORBA::ORB_ptr Orb(const std::string& host);
    // The POA that holds notification sinks, activated on first use.
    // Call with Lock() held and IsAliveLocked() true.
    PortableServer::POA_ptr SinkPoaLocked();
    // A new reference to the running ORB, nil when none runs.
    CORBA::ORB_ptr OrbIfAlive();
    void Shutdown();
    void EndProcessAfterShutdown();

    // Held while a caller uses servants or object references that Shutdown
    // would destroy.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(m_mutex); }
    bool IsAliveLocked() const { return !CORBA::is_nil(m_orb) && !m_shutDown; }
    bool IsShutDown();

    // Connections release their object references at Shutdown.
    void Track(const std::shared_ptr<Connection>& connection);

private:
    OrbRuntime() = default;
    void StartLocked(const std::string& host);
    void ReleaseConnectionsLocked();

    std::mutex m_mutex;
    std::string m_programName = "velnor";
    CORBA::ORB_var m_orb;
    PortableServer::POA_var m_sinkPoa;
    bool m_shutDown = false;
    bool m_processEndsAfterShutdown = false;
    std::vector<std::weak_ptr<Connection>> m_connections;
};

}  // namespace mci::detail
