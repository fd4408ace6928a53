#include "daemon.h"

#include <omniORB4/CORBA.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "corba_values.h"
#include "endpoint.h"
#include "loader.h"
#include "memory_trim.h"
#include "notifier.h"
#include "servant.h"
#include "signal_servant.h"
#include "updater.h"
#include "value_store.h"
#include "velnor/wire.h"

namespace velnor::server {

namespace {

void Activate(PortableServer::POA_ptr poa, const char* key, PortableServer::ServantBase* servant) {
    PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId(key);
    poa->activate_object_with_id(id, servant);
    // The POA holds the servant from here on and deletes it at ORB destruction.
    servant->_remove_ref();
}

// One line per listener the server gives up on, for whoever watches the
// service: the client learns it too, when it next checks its subscription.
void LogDrop(const DropReport& report) {
    std::ostringstream line;
    line << "velnor-registryd: dropped listener " << report.key << ": " << report.reason << "; "
         << report.missed << " notification" << (report.missed == 1 ? "" : "s") << " lost\n";
    std::cerr << line.str() << std::flush;
}

// How long a reply may wait for its peer to read it.
const char* const c_sendTimeoutText = "10000";
// Bytes of replies the kernel holds for one connection.
const char* const c_sendBufferText = "262144";

}  // namespace

struct Daemon::Parts {
    std::unique_ptr<ValueStore> store;
    std::unique_ptr<Notifier> applicationNotifier;
    std::unique_ptr<Notifier> platformNotifier;
    std::unique_ptr<ChangeRouter> router;
    std::unique_ptr<Updater> updater;
    std::unique_ptr<SignalServants> signals;
    std::unique_ptr<ConnectionGuard> guard;
    std::unique_ptr<MemoryTrimmer> trimmer;
    CORBA::ORB_var orb;
    PortableServer::POAManager_var manager;
    std::string socketPath;
    std::uint16_t port = 0;
    std::uint64_t runId = 0;

    int Load(const DaemonOptions& options, std::ostream& err);
    int Listen(const DaemonOptions& options, std::ostream& err);
};

int Daemon::Parts::Load(const DaemonOptions& options, std::ostream& err) {
    try {
        store = std::make_unique<ValueStore>(LoadTreeFile(options.treeFile, MachineHostName()));
    } catch (const LoadError& e) {
        err << "velnor-registryd: " << e.what() << std::endl;
        return c_exitBadInput;
    }
    if (options.stateFile.empty()) return c_exitOk;
    std::unique_ptr<StateFile> state;
    try {
        state = std::make_unique<StateFile>(options.stateFile);
        if (const std::size_t removed = state->RemoveStaleTemporaries())
            err << "velnor-registryd: removed " << removed << " temporary file" << (removed == 1 ? "" : "s")
                << " left by an interrupted save of " << options.stateFile << std::endl;
        store->Restore(state->Load(store->GetTree(), err));
    } catch (const DamagedStateError& e) {
        if (!options.discardDamagedState) {
            err << "velnor-registryd: cannot use the state file: " << e.what() << std::endl;
            return c_exitBadInput;
        }
        err << "velnor-registryd: warning: discarding the state file: " << e.what() << std::endl;
    } catch (const std::exception& e) {
        err << "velnor-registryd: cannot use the state file: " << e.what() << std::endl;
        return c_exitBadInput;
    }
    store->SetStateFile(std::move(state));
    return c_exitOk;
}

// With --port 0 the port must be known before ORB_init, because the Unix
// socket path is derived from it: a TCP socket bound to port 0 tells a free
// port, which is released again and handed to the ORB. Another process could
// take it in between; the ORB then fails to listen and the start fails
// cleanly instead of serving on a surprise port.
int Daemon::Parts::Listen(const DaemonOptions& options, std::ostream& err) {
    port = options.port;
    try {
        if (port == 0) port = PickFreePort(options.listen);
        socketPath = UnixSocketPath(port);
        RemoveStaleSocket(socketPath);
    } catch (const std::exception& e) {
        err << "velnor-registryd: " << e.what() << std::endl;
        return c_exitFailure;
    }
    const std::string tcp = TcpEndpoint(options.listen, port);
    const std::string unixEndpoint = "giop:unix:" + socketPath;
    const std::string maxMessage = std::to_string(wire::c_maxMessageBytes);
    const std::string connectTimeout = std::to_string(wire::c_connectTimeout.count());
    const char* orbOptions[][2] = {
        {"endPoint", tcp.c_str()},
        {"endPoint", unixEndpoint.c_str()},
        {"giopMaxMsgSize", maxMessage.c_str()},
        // Callbacks to listeners travel back over the client's connection.
        {"acceptBiDirectionalGIOP", "1"},
        {"serverTransportRule", "* unix,ssl,tcp,bidir"},
        {"clientConnectTimeOutPeriod", connectTimeout.c_str()},
        // One request of a connection at a time: a peer that pipelines
        // requests and never reads the replies holds one reply, not one
        // per request (omniORB would take up to 100 in parallel). Clients
        // that call concurrently open a connection per call in progress.
        {"maxServerThreadPerConnection", "1"},
        // A reply the peer does not take within this time closes its
        // connection: a peer that never reads holds no reply for longer.
        {"serverCallTimeOutPeriod", c_sendTimeoutText},
        // The kernel holds at most this much of a connection's replies:
        // left to itself it grows a loopback connection's buffer to 4 MB,
        // so a peer that never reads would take whole replies into the
        // kernel, and have its next requests served, before a send blocked
        // and the time-out above could close it.
        {"socketSendBuffer", c_sendBufferText},
        {nullptr, nullptr},
    };
    int argc = 1;
    char name[] = "velnor-registryd";
    char* argv[] = {name, nullptr};
    try {
        orb = CORBA::ORB_init(argc, argv, "omniORB4", orbOptions);
        ConnectionLimits limits = options.connections;
        limits.total = TotalWithinDescriptors(limits.total, RaiseDescriptorLimit());
        guard = std::make_unique<ConnectionGuard>(port, socketPath, limits);
        CORBA::Object_var object = orb->resolve_initial_references("omniINSPOA");
        PortableServer::POA_var poa = PortableServer::POA::_narrow(object);
        Activate(poa, wire::c_applicationKey, new RegistryServant(*store, *applicationNotifier, *trimmer, Root::Application, runId));
        Activate(poa, wire::c_platformKey, new RegistryServant(*store, *platformNotifier, *trimmer, Root::Platform, runId));
        signals = std::make_unique<SignalServants>();
        signals->Activate(poa, store->GetTree());
        manager = poa->the_POAManager();
        manager->activate();
    } catch (const CORBA::Exception& e) {
        err << "velnor-registryd: cannot listen on " << options.listen << ":" << port << " (" << e._name()
            << "; is the port in use?)" << std::endl;
        return c_exitFailure;
    }
    return c_exitOk;
}

Daemon::Daemon() : m_parts(std::make_unique<Parts>()) {}

Daemon::~Daemon() { Stop(); }

int Daemon::Load(const DaemonOptions& options, std::ostream& err) { return m_parts->Load(options, err); }

int Daemon::Serve(const DaemonOptions& options, std::ostream& out, std::ostream& err) {
    Parts& p = *m_parts;
    p.runId = NewRunId();
    const Tree& tree = p.store->GetTree();
    p.applicationNotifier = std::make_unique<Notifier>(tree);
    p.platformNotifier = std::make_unique<Notifier>(tree);
    p.trimmer = std::make_unique<MemoryTrimmer>();
    p.applicationNotifier->OnDrop(LogDrop);
    p.platformNotifier->OnDrop(LogDrop);
    p.router = std::make_unique<ChangeRouter>(*p.applicationNotifier, *p.platformNotifier);
    p.store->SetChangeSink(p.router.get());
    if (int code = p.Listen(options, err); code != c_exitOk) return code;
    p.updater = std::make_unique<Updater>(*p.store, p.runId);
    p.updater->Start();
    out << "velnor-registryd listening on " << options.listen << ":" << p.port << std::endl;
    return c_exitOk;
}

void Daemon::Stop() {
    Parts& p = *m_parts;
    // From here on a request is turned away as by a server that is not
    // there (TRANSIENT: "not reachable"), not answered by adapters half
    // taken down (OBJ_ADAPTER). Requests in progress still end: the
    // servants' stops below wake those that wait.
    if (!CORBA::is_nil(p.manager)) {
        try {
            p.manager->discard_requests(false);
        } catch (const CORBA::Exception&) {
            // Already inactive: it takes no request either.
        }
        p.manager = PortableServer::POAManager::_nil();
    }
    if (p.updater) p.updater->Stop();
    if (p.signals) p.signals->Stop();
    if (p.applicationNotifier) p.applicationNotifier->Shutdown();
    if (p.platformNotifier) p.platformNotifier->Shutdown();
    if (!CORBA::is_nil(p.orb)) {
        try {
            p.orb->shutdown(true);
            p.orb->destroy();
        } catch (const CORBA::Exception&) {
            // Already down; nothing left to release.
        }
        p.orb = CORBA::ORB::_nil();
    }
    p.guard.reset();
    p.trimmer.reset();
    if (!p.socketPath.empty()) {
        ::unlink(p.socketPath.c_str());
        p.socketPath.clear();
    }
}

}  // namespace velnor::server
