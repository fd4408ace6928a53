// listen: subscriptions of the selected nodes, then the listening phase.
#include <chrono>
#include <cstdint>
#include <iostream>

#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_params.h"
#include "velnor-rove-listener.h"
#include "velnor-rove-signal-handler.h"

void Listen(mci::Node& node) {
    ISTD_TRACE_FNC("void Listen(mci::Node&)", c_traceFile);
    VelnorRoveListener::Instance()->Register(node);
}

// Sleeps the listening time, or pings the connection every ping period until
// the listening time is over; a handled signal, or a notification that could
// not be written, ends the wait at once.
void ListeningPhase(const mci::Node& root) {
    const auto waitTime = static_cast<std::uint32_t>(g_params.waitTime);
    if (g_params.pingPeriod == 0) {
        sigHandler.WaitForSignal(std::chrono::seconds(waitTime));
        return;
    }
    if (waitTime == 0) return;
    std::uint32_t elapsed = 0;
    for (;;) {
        if (sigHandler.WaitForSignal(std::chrono::seconds(static_cast<std::uint32_t>(g_params.pingPeriod)))) return;
        if (mci::Ping(root) == 3) std::cerr << "Reconnected managed connection." << std::endl;
        elapsed += static_cast<std::uint32_t>(g_params.pingPeriod);
        if (waitTime <= elapsed) return;
    }
}
