#pragma once
// The registry side of the browser: one thread makes every registry call
// (with the library's call deadline), in the order the UI thread asked for
// them, and posts the results to the inbox. Between jobs it checks the
// connection once a second: a server that stops answering, goes away or
// comes back (restarted) is reported, and a new connection reads the
// start node again and subscribes what the screen follows.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>

#include "browse/browser.h"
#include "browse/inbox.h"
#include "mci/mci.h"

namespace browse {

class Acquisition;

struct WorkerConfig {
    std::string host;            // as given; empty: the library's default
    mci::Root root = mci::eApplicationRoot;
    std::int32_t port = 0;       // 0: the default
    std::string startPath;
};

// "HOST:PORT/ROOT" as the status line shows the registry.
std::string RegistryAddress(const WorkerConfig& config);

// The value and element selection of an edit: "[1,3:5]=7" on an array
// node gives the index part "[1,3:5]" and the value "7"; anything else is
// the value alone.
struct EditParts {
    std::string index;
    std::string value;
};
EditParts SplitEdit(const std::string& text, bool isArray);

// The children and values of one level from a level dump (dumpSubTree at
// level 1): `children` in the registry's order, values matched by name and
// type. False when the text does not fit the children (the caller then
// reads the values one by one).
bool ValuesFromLevelDump(const std::string& dump, std::vector<ChildRow>& children);

class Worker : public RequestSink {
public:
    Worker(WorkerConfig config, Inbox& inbox);
    ~Worker() override;
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // UI thread.
    void Send(Request request) override;
    // Asks the thread to end after the call in progress.
    void Stop();
    // True once the thread has ended (false after `limit`).
    bool WaitStopped(std::chrono::milliseconds limit);

private:
    struct ReRead {
        std::string path;
        SteadyTime arrived;
        WallTime wallArrived;
    };

    void Run();
    void Execute(const Request& request);
    void CheckConnection();
    bool Connect(bool first);
    // The connection failed: "lost" when the server refuses connections,
    // "not answering" when it is there but silent.
    void Lose(const std::string& detail);
    void SetState(Connection_e state, const std::string& detail = std::string());
    // A call failed: when the connection is to blame, the state changes.
    void NoteFailure(const std::exception& e);

    void NewNotificationClient();
    void OnNotification(const mci::NotificationData& data);
    void OnLostNotifications(const mci::LostNotifications& lost);
    mci::Node NodeFor(const std::string& path);
    NodeFacts FactsOf(const mci::Node& node) const;
    ChildrenResult ReadLevel(const std::string& path);
    Details ReadDetails(const std::string& path);
    std::string Bounds(const mci::Node& node);

    void DoStart();
    void DoFollow(const FollowRequest& r);
    void DoWrite(const WriteRequest& r);
    void DoExecute(const ExecuteRequest& r);
    void DoReveal(const RevealRequest& r);
    void DoSave(const SaveRequest& r);
    void DoDiff(const DiffRequest& r);
    void DoWatchSubtree(const WatchSubtreeRequest& r);
    void DoPlotOpen(const PlotOpenRequest& r);
    void DoReRead(const ReRead& r);
    void Busy(const std::string& job);
    // How a failed job words its error: as access prints it ("Error: "
    // before the tool's own failures), or the failure's text alone.
    enum class Failure_e { eAsAccess, eAsItIs };
    // Runs a job the user waits for: its name on the status line while it
    // runs, its result (or the failure's text in result.error) posted after.
    template <class R, class Body>
    void RunJob(const std::string& job, R result, Body body, Failure_e words = Failure_e::eAsItIs);

    const WorkerConfig m_config;
    Inbox& m_inbox;
    const std::string m_address;

    // Shared with the UI thread and the notification threads.
    std::mutex m_queueLock;                 // guards the three fields below
    std::condition_variable m_queueChanged;
    std::deque<Request> m_requests;
    std::deque<ReRead> m_reReads;
    bool m_stop = false;
    std::mutex m_doneLock;                  // guards m_done
    std::condition_variable m_doneChanged;
    bool m_done = false;

    // The worker thread's own.
    Connection_e m_state = Connection_e::eConnecting;
    bool m_everConnected = false;
    mci::Node m_root;
    mci::Node m_start;
    std::unordered_map<std::string, mci::Node> m_nodes;
    std::unique_ptr<mci::NotificationClient> m_notifications;
    std::set<std::string> m_subscribed;
    std::unique_ptr<Acquisition> m_acquisition;
    std::chrono::steady_clock::time_point m_nextCheck;

    std::thread m_thread;
};

}  // namespace browse
