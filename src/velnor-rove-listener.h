#pragma once
// The one notification listener of the process: announces and subscribes
// the nodes given to `listen` and prints every notification as one line.
#include <atomic>
#include <ios>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mci/mci.h"

class VelnorRoveListener {
public:
    // The one listener; the first call constructs it (once, even when two
    // threads ask together; a construction that throws is tried again by the
    // next call). It is destroyed at process exit.
    static VelnorRoveListener* Instance();
    // Withdraws the subscriptions of the listener, when there is one.
    static void ReleaseInstanceSubscriptions();

    // The listener when one was made, else null.
    static VelnorRoveListener* Existing();

    // Announces the node on standard output (not with --json) and subscribes it.
    void Register(mci::Node& node);
    // listen --initial: prints the current value of every registered node
    // as a notification line.
    void PrintInitialValues();
    // With a ping: the current value of every registered node becomes the
    // one to compare with after a reconnection, unless a line printed it
    // already.
    void RememberCurrentValues();
    // After a reconnection: prints the current value of every registered
    // node that differs from the last one known (a change made while the
    // registry was away, or by its restart); with --initial, of every node.
    // A node that cannot be read is left out.
    void PrintValuesChangedMeanwhile();
    // True once --count or --until ended the listening: no line follows.
    bool EndReached() const;
    // Prints one notification; called by the registry library's threads.
    void CallbackSimpleNotification(const mci::NotificationData& data);
    // The server dropped the subscriptions: keeps the report of the loss.
    void CallbackLostNotifications(const mci::LostNotifications& lost);
    // The report of the last loss not yet taken, or an empty text.
    std::string TakeLossReport();
    // Ends every subscription at the server and waits for a delivery in
    // progress: no line is printed after it. Register afterwards fails.
    void ReleaseSubscriptions();

    ~VelnorRoveListener();
    VelnorRoveListener(const VelnorRoveListener&) = delete;
    VelnorRoveListener& operator=(const VelnorRoveListener&) = delete;

private:
    VelnorRoveListener();
    void WriteLine(const std::string& line);
    // Writes the line of one notification (or initial value) and checks the
    // end conditions of --count and --until.
    void WriteNotification(const mci::NotificationData& data, bool initial);
    // The value of the node after this notification, when it can be known.
    void RememberLocked(const mci::NotificationData& data);

    mci::Callback m_callback;
    std::optional<mci::NotificationClient> m_notificationClient;  // empty once released
    // Whole lines reach standard output under this lock, so concurrent
    // deliveries and announcements never interleave.
    std::mutex m_outputLock;
    std::uint64_t m_notificationLines = 0;  // guarded by m_outputLock
    std::string m_lossReport;               // guarded by m_outputLock
    std::vector<mci::Node> m_registered;    // main thread only
    // The last value printed (or read) of each node, by path; with a ping only.
    std::map<std::string, istd::Any> m_lastValues;  // guarded by m_outputLock
    std::atomic<bool> m_endReached{false};

    static std::atomic<VelnorRoveListener*> s_instance;
};

// Formats one notification line (without the line end): the full path, the
// element range when the value is not the whole array, "=" and the value.
// `format` gives the number formatting of standard output.
std::string NotificationLine(const mci::NotificationData& data, const std::ios& format);

// "Notifications of PATH, ... were lost (the listener fell behind); N missed."
std::string LossReport(const mci::LostNotifications& lost);

// The value part of a notification line (after "="), as listen --until compares it.
std::string NotificationValueText(const istd::Any& value, const std::ios& format);

// The time of arrival as listen --time and --json write it: ISO 8601, UTC,
// microseconds ("2026-12-09T02:40:00.123456Z").
std::string ArrivalTime();
