// Signal sources on signal nodes.
#include "connection.h"
#include "deadlines.h"
#include "istd/exception.h"
#include "isig/remote.h"
#include "library.h"
#include "mci/mci.h"
#include "orb.h"
#include "velnor/wire.h"

namespace mci {

namespace {

// Object keys as the server activates its signals.
std::string SignalKey(const Node& node) {
    return velnor::wire::SignalKey(node.Connection()->GetRoot() == ePlatformRoot, ToString(node.GetRelPath()));
}

// A signal reference with the library's call deadline on it (and on every
// duplicate of it): signal calls are not made through Remote.
i_NET::RemoteSignal_ptr SignalAt(CORBA::ORB_ptr orb, const std::string& uri) {
    CORBA::Object_var object = orb->string_to_object(uri.c_str());
    i_NET::RemoteSignal_var remote = i_NET::RemoteSignal::_unchecked_narrow(object);
    omniORB::setClientCallTimeout(remote, static_cast<CORBA::ULong>(detail::ClientDeadlines().call.count()));
    return remote._retn();
}

// Over the local socket a stream may also pull over TCP, which moves large
// blocks with less work on the reader's processor.
// The source is named by the node's path, so that every message of its
// readers names the node whatever the server calls its signal.
isig::SignalSourceSharedPtr SourceOf(const detail::Connection& connection, const std::string& uri,
                                     const std::string& tcpUri, const std::string& path) {
    CORBA::ORB_var orb = detail::OrbRuntime::Instance().Orb(connection.Host());
    i_NET::RemoteSignal_var remote = SignalAt(orb, uri);
    i_NET::RemoteSignal_var bulk = tcpUri.empty() ? i_NET::RemoteSignal::_nil() : SignalAt(orb, tcpUri);
    return isig::CreateRemoteSignalSource(remote.in(), bulk.in(), detail::ClientDeadlines().call, path);
}

}  // namespace

isig::SignalSourceSharedPtr CreateRemoteSignal(const Node& node) {
    if (!node.IsValid() || !node.IsSignal()) return nullptr;
    const detail::Connection& connection = *node.Connection();
    const detail::CallTarget& target = connection.Target();
    const std::string key = SignalKey(node);
    const std::string uri = detail::CorbalocOf(target, key);
    // Over the unix socket, the same signal over TCP alone.
    const std::string tcpUri =
        target.unixPath.empty() ? "" : detail::CorbalocOf(detail::CallTarget{target.host, target.port, ""}, key);
    try {
        return SourceOf(connection, uri, tcpUri, ToString(node.GetRelPath()));
    } catch (const CORBA::OBJECT_NOT_EXIST&) {
        throw istd::Exception("Registry at " + connection.Address() + " does not serve the signal of node " +
                                  ToString(node.GetRelPath()),
                              true);
    } catch (...) {
        detail::RethrowTranslated(connection);
    }
}

}  // namespace mci
