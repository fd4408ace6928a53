#include "socket_tuning.h"

#include <sys/socket.h>

#include <atomic>

#include <omniORB4/CORBA.h>
#include <omniORB4/omniInterceptors.h>
// The accepted connection's socket is only reachable through the ORB's
// own connection classes.
#include <omniORB4/internal/giopStrand.h>
#include <omniORB4/unixConnection.h>

namespace velnor::server {
namespace {

std::atomic<int> g_unixSendBufferBytes{0};

CORBA::Boolean TuneAccepted(omni::omniInterceptors::serverAcceptConnection_T::info_T& info) {
    if (auto* connection = dynamic_cast<omni::unixConnection*>(info.strand.connection)) {
        const int bytes = g_unixSendBufferBytes.load();
        // A refusal leaves the default: slower, never wrong.
        setsockopt(connection->handle(), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    }
    return true;
}

}  // namespace

void SetUnixSendBuffer(int bytes) {
    if (g_unixSendBufferBytes.exchange(bytes) == 0) omniORB::getInterceptors()->serverAcceptConnection.add(TuneAccepted);
}

}  // namespace velnor::server
