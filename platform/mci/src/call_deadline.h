#pragma once
// Deadlines for registry calls without omniORB's own call timeout. The
// ORB's timeout polls the socket before every send and every receive: two
// more system calls per call, a fifth of a small call's cost when client
// and server share a core. Here a call only marks itself in flight; a
// watchdog thread looks at the calls once per tick and, when one has run
// past the deadline, shuts down the process's sockets to that registry.
// The blocked send or receive then fails at once and the caller reports
// the timeout.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace mci::detail {

// Where the calls of one connection go: the sockets a timeout shuts down.
struct CallTarget {
    std::string host;      // as given to Connect
    std::int32_t port = 0;
    std::string unixPath;  // empty when the connection uses TCP only
};

struct CallSlot;

// Marks one remote call of this thread as in flight, from construction to
// destruction. Cheap: no clock, no system call, one uncontended lock.
class CallDeadline {
public:
    explicit CallDeadline(const CallTarget& target);
    ~CallDeadline();
    CallDeadline(const CallDeadline&) = delete;
    CallDeadline& operator=(const CallDeadline&) = delete;

    // True when the watchdog ended this call because it ran too long.
    bool Expired() const;

private:
    CallSlot& m_slot;
    std::uint64_t m_call;
};

// Starts the watchdog (idempotent). Threads it starts inherit the
// caller's signal mask.
void StartCallWatchdog(std::chrono::milliseconds deadline);
// Stops and joins the watchdog; calls made afterwards have no deadline.
void StopCallWatchdog();

// Shuts down (does not close: the ORB owns them) every connected socket of
// this process whose peer is `target`, holding the ORB's transport lock so
// that none is closed meanwhile. Gives how many were shut down.
int ShutDownSocketsTo(const CallTarget& target);

}  // namespace mci::detail
