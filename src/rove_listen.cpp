// listen: subscriptions of the selected nodes, then the listening phase.
#include <algorithm>
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

// Without --ping nothing subscribes again: this often the subscriptions are
// checked, so that a listener the server dropped ends rather than waiting
// silently for good.
constexpr std::uint32_t c_subscriptionCheckSeconds = 10;

// Prints what the server dropped, when a ping found it (it subscribed again).
void ReportLoss() {
    VelnorRoveListener* listener = VelnorRoveListener::Existing();
    const std::string report = listener ? listener->TakeLossReport() : std::string();
    if (!report.empty()) std::cerr << report << std::endl;
}

// Sleeps the listening time, checking the subscriptions in between; ends
// early when a signal arrived, at the time when the server dropped them.
WaitEnd_e WaitUnmanaged(const mci::Node& root, std::uint32_t waitTime) {
    std::uint32_t left = waitTime;
    for (;;) {
        const std::uint32_t step = std::min(left, c_subscriptionCheckSeconds);
        if (sigHandler.WaitForSignal(std::chrono::seconds(step))) return WaitEnd_e::eEndedEarly;
        left -= step;
        if (left == 0 || mci::CheckSubscriptions(root)) return WaitEnd_e::eOver;
    }
}

// Sleeps the listening time, or pings the connection every ping period until
// the listening time is over; a handled signal, a notification that could
// not be written, or the end condition of --count or --until ends the wait
// at once. After a reconnection the values that changed meanwhile are
// printed.
WaitEnd_e WaitForNotifications(const mci::Node& root, VelnorRoveListener& listener) {
    const auto waitTime = static_cast<std::uint32_t>(g_params.waitTime);
    if (g_params.pingPeriod == 0) {
        return WaitUnmanaged(root, waitTime);
    }
    if (waitTime == 0) return WaitEnd_e::eOver;
    listener.RememberCurrentValues();
    std::uint32_t elapsed = 0;
    bool lost = false;
    for (;;) {
        if (sigHandler.WaitForSignal(std::chrono::seconds(static_cast<std::uint32_t>(g_params.pingPeriod))))
            return WaitEnd_e::eEndedEarly;
        const int ping = mci::Ping(root);
        ReportLoss();
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
    // Without --ping the listening ends with the loss; a ping has already
    // subscribed again and reported it.
    if (const std::string loss = listener->TakeLossReport(); !loss.empty()) throw istd::Exception(loss, true);
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
