// Signal sources on signal nodes.
#include "connection.h"
#include "istd/exception.h"
#include "isig/remote.h"
#include "library.h"
#include "mci/mci.h"
#include "orb.h"

namespace mci {

namespace {

// Object keys as the server activates its signals.
std::string SignalKey(const Node& node) {
    const char* prefix = node.Connection()->GetRoot() == ePlatformRoot ? "signal-platform:" : "signal:";
    return prefix + ToString(node.GetRelPath());
}

isig::SignalSourceSharedPtr SourceOf(const detail::Connection& connection, const std::string& uri) {
    CORBA::ORB_var orb = detail::OrbRuntime::Instance().Orb(connection.Host());
    CORBA::Object_var object = orb->string_to_object(uri.c_str());
    i_NET::RemoteSignal_var remote = i_NET::RemoteSignal::_unchecked_narrow(object);
    // Signal calls are not made through Remote: their deadline goes on the
    // reference (and every duplicate of it).
    omniORB::setClientCallTimeout(remote, static_cast<CORBA::ULong>(detail::c_callDeadline.count()));
    return isig::CreateRemoteSignalSource(remote.in());
}

}  // namespace

isig::SignalSourceSharedPtr CreateRemoteSignal(const Node& node) {
    if (!node.IsValid() || !node.IsSignal()) return nullptr;
    const detail::Connection& connection = *node.Connection();
    const std::string uri = detail::CorbalocFor(connection.Host(), connection.Port(), SignalKey(node));
    try {
        return SourceOf(connection, uri);
    } catch (const CORBA::OBJECT_NOT_EXIST&) {
        throw istd::Exception("Registry at " + connection.Address() + " does not serve the signal of node " +
                                  ToString(node.GetRelPath()),
                              true);
    } catch (...) {
        detail::RethrowTranslated(connection);
    }
}

}  // namespace mci
