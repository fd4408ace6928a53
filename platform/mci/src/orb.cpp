#include "orb.h"

#include <algorithm>

#include "connection.h"
#include "deadlines.h"
#include "istd/exception.h"
#include "istd/signal_handler.h"
#include "velnor/wire.h"

namespace mci::detail {

namespace {

#ifdef VELNOR_FULL_TEARDOWN
constexpr bool c_fullTeardown = true;  // leak checks need everything freed
#else
constexpr bool c_fullTeardown = false;
#endif

// Callback servants listen on the loopback interface when the registry is
// local, so that nothing else on the network can reach them.
std::string CallbackEndpoint(const std::string& host) {
    return velnor::wire::IsLoopbackHost(host) ? "giop:tcp:127.0.0.1:" : "giop:tcp::";
}

}  // namespace

OrbRuntime& OrbRuntime::Instance() {
    // Never destroyed: handles and notification clients may outlive every
    // other static and still ask whether the runtime is alive.
    static OrbRuntime* instance = new OrbRuntime;
    return *instance;
}

void OrbRuntime::Init(int argc, char** argv) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (argc > 0 && argv && argv[0]) m_programName = argv[0];
}

CORBA::ORB_ptr OrbRuntime::Orb(const std::string& host) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutDown) throw istd::Exception("The registry library was shut down", true);
    if (CORBA::is_nil(m_orb)) StartLocked(host);
    return CORBA::ORB::_duplicate(m_orb);
}

CORBA::ORB_ptr OrbRuntime::OrbIfAlive() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutDown || CORBA::is_nil(m_orb)) return CORBA::ORB::_nil();
    return CORBA::ORB::_duplicate(m_orb);
}

void OrbRuntime::StartLocked(const std::string& host) {
    const std::string endpoint = CallbackEndpoint(host);
    const std::string connectTimeout = std::to_string(ClientDeadlines().connect.count());
    const std::string maxMessage = std::to_string(velnor::wire::c_maxMessageBytes);
    const char* options[][2] = {
        {"clientConnectTimeOutPeriod", connectTimeout.c_str()},
        // No clientCallTimeOutPeriod: each reference the library calls
        // through gets its deadline set on it.
        // Large arrays travel in one message; the server allows the same.
        {"giopMaxMsgSize", maxMessage.c_str()},
        // Every reference comes from a corbaloc URI and is used at once:
        // no LocateRequest round trip before the first call.
        {"verifyObjectExistsAndType", "0"},
        // Only opened when a notification sink is activated.
        {"endPoint", endpoint.c_str()},
        // No scavenger thread: a client of one registry keeps its one
        // connection for the run; idle connections end with the process
        // or at Shutdown. Starting and joining that thread (and the
        // unwinder library that its pthread_exit loads) cost a one-shot
        // run more than its call.
        {"scanGranularity", "0"},
        {nullptr, nullptr}};
    // ORB_init may take arguments away; the caller's argv stays untouched.
    std::vector<char> name(m_programName.begin(), m_programName.end());
    name.push_back('\0');
    char* args[] = {name.data(), nullptr};
    int argc = 1;
    // Threads the ORB starts inherit this mask: the handled signals reach
    // only the signal-handling thread.
    istd::ScopedSignalBlock block;
    try {
        m_orb = CORBA::ORB_init(argc, args, "omniORB4", options);
    } catch (const CORBA::Exception& e) {
        throw istd::Exception(std::string("The CORBA runtime could not start: ") + e._name(), true);
    }
}

PortableServer::POA_ptr OrbRuntime::SinkPoaLocked() {
    if (!IsAliveLocked()) throw istd::Exception("The registry library was shut down", true);
    if (CORBA::is_nil(m_sinkPoa)) {
        istd::ScopedSignalBlock block;
        try {
            CORBA::Object_var object = m_orb->resolve_initial_references("RootPOA");
            PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
            PortableServer::POAManager_var manager = poa->the_POAManager();
            manager->activate();
            m_sinkPoa = poa._retn();
        } catch (const CORBA::Exception& e) {
            throw istd::Exception(std::string("Cannot receive notifications: ") + e._name(), true);
        }
    }
    return PortableServer::POA::_duplicate(m_sinkPoa);
}

bool OrbRuntime::IsShutDown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_shutDown;
}

void OrbRuntime::Track(const std::shared_ptr<Connection>& connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_connections.erase(std::remove_if(m_connections.begin(), m_connections.end(),
                                       [](const std::weak_ptr<Connection>& c) { return c.expired(); }),
                        m_connections.end());
    m_connections.push_back(connection);
}

void OrbRuntime::ReleaseConnectionsLocked() {
    for (const auto& weak : m_connections)
        if (auto connection = weak.lock()) connection->Release();
    m_connections.clear();
}

void OrbRuntime::EndProcessAfterShutdown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_processEndsAfterShutdown = true;
}

void OrbRuntime::Shutdown() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_shutDown) return;
    m_shutDown = true;
    ReleaseConnectionsLocked();
    const bool servantsActivated = !CORBA::is_nil(m_sinkPoa);
    m_sinkPoa = PortableServer::POA::_nil();
    if (CORBA::is_nil(m_orb)) return;
    if (m_processEndsAfterShutdown && !servantsActivated && !c_fullTeardown) {
        // A client-only ORB runs no thread of its own here (no scavenger, no
        // servants): the tear-down would only free memory and send the
        // closing message that the kernel's close at exit makes redundant.
        static_cast<void>(m_orb._retn());
        return;
    }
    try {
        // Waits for deliveries in progress; deletes the sink servants.
        m_orb->destroy();
    } catch (const CORBA::Exception&) {
        // Nothing left to clean up that a caller could act on.
    }
    m_orb = CORBA::ORB::_nil();
}

}  // namespace mci::detail
