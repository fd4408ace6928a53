// listen: subscriptions of the selected nodes, then the listening phase.
#include <chrono>
#include <cstdint>
#include <iostream>
#include <sstream>
#include <string>

#include "istd/exception.h"
#include "istd/strings.h"
#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_params.h"
#include "velnor-rove-listener.h"
#include "velnor-rove-signal-handler.h"

void Listen(mci::Node& node) {
    ISTD_TRACE_FNC("void Listen(mci::Node&)", c_traceFile);
    VelnorRoveListener::Instance()->Register(node);
}

namespace {

// "Connection to HOST:PORT/ROOT lost.", with the address actually used.
std::string LostConnectionText() {
    std::ostringstream text;
    text << "Connection to " << RegistryAddress() << "/" << g_params.root << " lost.";
    return text.str();
}

// With -v a failed ping is reported once per outage; a ping that answers
// again ends the outage.
void ReportPing(int result, bool& lost) {
    if (result == 3) std::cerr << "Reconnected managed connection." << std::endl;
    if (result == 1 && g_params.verbose && !lost) std::cerr << LostConnectionText() << std::endl;
    lost = result == 1;
}

// How the wait for notifications ended.
enum class WaitEnd_e { eOver, eEndedEarly, eConnectionLost };

// Sleeps the listening time, or pings the connection every ping period until
// the listening time is over; a handled signal, a notification that could
// not be written, or the end condition of --count or --until ends the wait
// at once. After a reconnection the values that changed meanwhile are
// printed.
WaitEnd_e WaitForNotifications(const mci::Node& root, VelnorRoveListener& listener) {
    const auto waitTime = static_cast<std::uint32_t>(g_params.waitTime);
    if (g_params.pingPeriod == 0) {
        return sigHandler.WaitForSignal(std::chrono::seconds(waitTime)) ? WaitEnd_e::eEndedEarly : WaitEnd_e::eOver;
    }
    if (waitTime == 0) return WaitEnd_e::eOver;
    listener.RememberCurrentValues();
    std::uint32_t elapsed = 0;
    bool lost = false;
    for (;;) {
        if (sigHandler.WaitForSignal(std::chrono::seconds(static_cast<std::uint32_t>(g_params.pingPeriod))))
            return WaitEnd_e::eEndedEarly;
        const int ping = mci::Ping(root);
        ReportPing(ping, lost);
        if (ping == 3) listener.PrintValuesChangedMeanwhile();
        elapsed += static_cast<std::uint32_t>(g_params.pingPeriod);
        if (waitTime <= elapsed) return lost ? WaitEnd_e::eConnectionLost : WaitEnd_e::eOver;
    }
}

}  // namespace

void ListeningPhase(const mci::Node& root) {
    VelnorRoveListener* listener = VelnorRoveListener::Existing();
    // With --json every path may have failed: nothing to wait for.
    if (!listener) {
        if (g_params.json) return;
        listener = VelnorRoveListener::Instance();
    }
    if (g_params.initial) listener->PrintInitialValues();
    const WaitEnd_e end = WaitForNotifications(root, *listener);
    if (listener->EndReached() || sigHandler.Signal() != 0 || !std::cout.good()) return;
    // The registry never came back: what the listener printed may be stale.
    // With -v the loss was reported when it began.
    if (end == WaitEnd_e::eConnectionLost) {
        if (g_params.verbose) throw FailureAlreadyReported();
        throw istd::Exception(LostConnectionText(), true);
    }
    if (!g_params.hasUntil) return;
    throw istd::Exception("Timed out waiting for " + istd::StringVecIntoString(g_params.paths, ", ") +
                              " to become " + g_params.until,
                          true);
}
