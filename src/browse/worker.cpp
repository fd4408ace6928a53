#include "browse/worker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "browse/acquisition.h"
#include "browse/value_text.h"
#include "istd/exception.h"
#include "istd/unique_fd.h"
#include "rove_complete.h"
#include "rove_handlers.h"
#include "rove_json.h"
#include "rove_node_value.h"
#include "snapshot/rove_snapshot.h"
#include "snapshot/rove_snapshot_tree.h"

namespace browse {
namespace {

// How often the connection is checked while nothing else is asked.
constexpr std::chrono::milliseconds c_checkPeriod{1000};
// The details pane reads at most this many elements of an array.
constexpr std::uint32_t c_detailElements = 4096;
// The details pane names at most this many children.
constexpr std::size_t c_detailChildren = 64;
// Subscriptions held beyond what the screen follows before they are made
// again from scratch.
constexpr std::size_t c_subscriptionsKept = 2000;
// A subtree watched at once may hold this many value nodes.
constexpr std::size_t c_maxWatchedAtOnce = 10000;
// The probe that tells a server that is gone from one that does not answer.
constexpr int c_probeMs = 500;

using Clock = std::chrono::steady_clock;

bool Says(const std::exception& e, const char* words) { return std::strstr(e.what(), words) != nullptr; }

// The registry's words when the connection is to blame.
bool IsTimeout(const std::exception& e) { return Says(e, "did not answer in time"); }
bool IsUnreachable(const std::exception& e) { return Says(e, "is not reachable"); }

// A refused TCP connection means the server is gone; one that is accepted
// (a stopped server's kernel still accepts) or that does not answer means
// it is there but does not answer.
bool ServerRefuses(const std::string& host, std::int32_t port) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) return true;
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(found, freeaddrinfo);
    const istd::UniqueFd fd(socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) return false;
    if (connect(fd.Get(), found->ai_addr, found->ai_addrlen) == 0) return false;
    if (errno != EINPROGRESS) return errno == ECONNREFUSED;
    pollfd p{fd.Get(), POLLOUT, 0};
    if (poll(&p, 1, c_probeMs) <= 0) return false;
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length);
    return error == ECONNREFUSED;
}

template <class T>
std::vector<istd::Any> ExtremeValues(std::uint32_t size) {
    const T high = std::numeric_limits<T>::max();
    const T low = std::numeric_limits<T>::lowest();
    const bool isArray = size != 1;
    return {istd::Any(std::vector<T>(size, high), isArray), istd::Any(std::vector<T>(size, low), isArray)};
}

std::vector<istd::Any> ProbeValues(const mci::Node& node) {
    const std::uint32_t size = node.GetSize();
    switch (node.GetValueType()) {
        case mci::enums::eInt32: return ExtremeValues<int>(size);
        case mci::enums::eUInt32: return ExtremeValues<unsigned int>(size);
        case mci::enums::eInt64: return ExtremeValues<long long>(size);
        case mci::enums::eUInt64: return ExtremeValues<unsigned long long>(size);
        case mci::enums::eDouble: return ExtremeValues<double>(size);
        case mci::enums::eFloat: return ExtremeValues<float>(size);
        default: return {};
    }
}

std::string ErrorText(const std::exception& e) {
    // As access reports it: the tool's own failures with "Error: ".
    if (dynamic_cast<const istd::Exception*>(&e)) return std::string("Error: ") + e.what();
    return e.what();
}

}  // namespace

std::string RegistryAddress(const WorkerConfig& config) {
    std::ostringstream text;
    text << (config.host.empty() ? std::string(mci::DefaultHost()) : config.host) << ":"
         << (config.port == 0 ? mci::DefaultPort() : config.port) << "/" << config.root;
    return text.str();
}

EditParts SplitEdit(const std::string& text, bool isArray) {
    if (isArray && !text.empty() && text.front() == '[') {
        const std::size_t end = text.find("]=");
        if (end != std::string::npos) return {text.substr(0, end + 1), text.substr(end + 2)};
    }
    return {std::string(), text};
}

bool ValuesFromLevelDump(const std::string& dump, std::vector<ChildRow>& children) {
    std::istringstream lines(dump);
    std::string line;
    if (!std::getline(lines, line)) return children.empty();  // the node's own line
    for (auto& child : children) {
        if (!std::getline(lines, line)) return false;
        std::string head = "  " + child.facts.name;
        const std::string type = TypeText(child.facts);
        if (!type.empty()) head += " [" + type + "]";
        if (line == head) {
            child.hasValue = false;
            continue;
        }
        if (line.compare(0, head.size() + 3, head + " = ") != 0) return false;
        child.hasValue = true;
        child.value = line.substr(head.size() + 3);
    }
    return !std::getline(lines, line);
}

Worker::Worker(WorkerConfig config, Inbox& inbox)
    : m_config(std::move(config)), m_inbox(inbox), m_address(RegistryAddress(m_config)) {
    m_thread = std::thread([this] { Run(); });
}

Worker::~Worker() {
    Stop();
    if (m_thread.joinable()) m_thread.join();
}

void Worker::Send(Request request) {
    std::lock_guard<std::mutex> lock(m_queueLock);
    // Only the newest of these matters: an older one is dropped unread.
    auto replaces = [&](const Request& queued) {
        return queued.index() == request.index() &&
               (std::holds_alternative<DetailsRequest>(request) || std::holds_alternative<FollowRequest>(request) ||
                std::holds_alternative<CompleteRequest>(request));
    };
    for (auto& queued : m_requests) {
        if (replaces(queued)) {
            queued = std::move(request);
            return;
        }
    }
    m_requests.push_back(std::move(request));
    m_queueChanged.notify_one();
}

void Worker::Stop() {
    std::lock_guard<std::mutex> lock(m_queueLock);
    m_stop = true;
    m_queueChanged.notify_one();
}

bool Worker::WaitStopped(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_doneLock);
    return m_doneChanged.wait_for(lock, limit, [this] { return m_done; });
}

void Worker::Run() {
    m_nextCheck = Clock::now() + c_checkPeriod;
    while (true) {
        Request request;
        ReRead reRead;
        bool haveRequest = false;
        bool haveReRead = false;
        {
            std::unique_lock<std::mutex> lock(m_queueLock);
            m_queueChanged.wait_until(lock, m_nextCheck,
                                      [this] { return m_stop || !m_requests.empty() || !m_reReads.empty(); });
            if (m_stop) break;
            if (!m_requests.empty()) {
                request = std::move(m_requests.front());
                m_requests.pop_front();
                haveRequest = true;
            } else if (!m_reReads.empty()) {
                reRead = std::move(m_reReads.front());
                m_reReads.pop_front();
                haveReRead = true;
            }
        }
        if (haveRequest) Execute(request);
        if (haveReRead) DoReRead(reRead);
        if (Clock::now() >= m_nextCheck) {
            CheckConnection();
            m_nextCheck = Clock::now() + c_checkPeriod;
        }
    }
    // What the server holds for this client is given back while the
    // connection still answers (best effort, within the short deadline).
    m_acquisition.reset();
    m_notifications.reset();
    m_nodes.clear();
    m_start = mci::Node();
    m_root = mci::Node();
    std::lock_guard<std::mutex> lock(m_doneLock);
    m_done = true;
    m_doneChanged.notify_all();
}

void Worker::SetState(Connection_e state, const std::string& detail) {
    if (state == m_state && detail.empty()) return;
    m_state = state;
    m_inbox.Post(StateResult{state, detail});
}

void Worker::Busy(const std::string& job) { m_inbox.Post(BusyResult{job}); }

void Worker::NoteFailure(const std::exception& e) {
    if (IsTimeout(e))
        SetState(Connection_e::eNotAnswering, e.what());
    else if (IsUnreachable(e))
        SetState(Connection_e::eLost, e.what());
    else
        return;
    // The next check comes at once: a server that is back is found soon.
    m_nextCheck = Clock::now();
}

void Worker::Lose(const std::string& detail) {
    const std::string host = m_config.host.empty() ? std::string(mci::DefaultHost()) : m_config.host;
    const std::int32_t port = m_config.port == 0 ? mci::DefaultPort() : m_config.port;
    // Before the first connection there is nothing to lose yet; once lost,
    // the attempts that follow show as reconnecting until one succeeds.
    if (!m_everConnected)
        SetState(Connection_e::eConnecting, detail);
    else if (ServerRefuses(host, port))
        SetState(m_state == Connection_e::eReconnecting ? Connection_e::eReconnecting : Connection_e::eLost, detail);
    else
        SetState(Connection_e::eNotAnswering, detail);
}

// --- the connection ----------------------------------------------------------------

bool Worker::Connect(bool first) {
    // A connection of its own each time after the first: the old one (and
    // every handle on it) belongs to a server run that has ended.
    m_acquisition.reset();
    m_notifications.reset();
    m_nodes.clear();
    m_subscribed.clear();
    m_start = mci::Node();
    m_root = mci::Connect(m_config.host, m_config.root, m_config.port, !first);
    if (!m_root.IsValid()) {
        Lose("No registry answers at " + m_address);
        return false;
    }
    try {
        m_start = m_config.startPath.empty() ? m_root : m_root.GetNode(mci::Tokenize(m_config.startPath));
    } catch (const istd::Exception& e) {
        if (IsTimeout(e) || IsUnreachable(e)) {
            NoteFailure(e);
            return false;
        }
        m_inbox.Post(StartFailedResult{e.what()});
        return false;
    }
    m_nodes[m_config.startPath] = m_start;
    NewNotificationClient();
    StartedResult started;
    started.start = FactsOf(m_start);
    started.address = m_address;
    if (IsValueNode(started.start)) {
        started.startValue = m_start.ToString(c_valueChars);
        started.startHasValue = true;
    }
    m_everConnected = true;
    m_inbox.Post(std::move(started));
    SetState(Connection_e::eConnected);
    return true;
}

void Worker::DoStart() {
    try {
        Connect(true);
    } catch (const std::exception& e) {
        Lose(e.what());
    }
}

void Worker::CheckConnection() {
    try {
        switch (m_state) {
            case Connection_e::eConnected: {
                const int answer = mci::Ping(m_root);
                if (answer == 3) {
                    // Another server run: every handle and subscription is new.
                    SetState(Connection_e::eReconnecting, "the registry was restarted");
                    Connect(false);
                } else if (answer != 0) {
                    Lose("Registry at " + m_address + " did not answer");
                }
                return;
            }
            case Connection_e::eNotAnswering:
                // Still there: it answers again, or it went away meanwhile.
                if (m_root.IsValid() && mci::Ping(m_root) != 1) {
                    SetState(Connection_e::eReconnecting, "the registry answers again");
                    Connect(false);
                } else {
                    Lose("Registry at " + m_address + " did not answer");
                }
                return;
            case Connection_e::eConnecting:
            case Connection_e::eLost:
            case Connection_e::eReconnecting:
                SetState(m_everConnected ? Connection_e::eReconnecting : Connection_e::eConnecting);
                Connect(!m_everConnected);
                return;
        }
    } catch (const std::exception& e) {
        Lose(e.what());
    }
}

// --- jobs ------------------------------------------------------------------------------

void Worker::Execute(const Request& request) {
    // Without a connection a job fails at once (rather than after a
    // deadline); the screen asks again when the connection is back.
    const bool connected = m_state == Connection_e::eConnected;
    std::visit(
        [&](const auto& r) {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, StartRequest>) {
                DoStart();
            } else if constexpr (std::is_same_v<R, FollowRequest>) {
                if (connected) DoFollow(r);
            } else if constexpr (std::is_same_v<R, PlotCloseRequest>) {
                m_acquisition.reset();
            } else if (!connected) {
                const std::string why = "Registry at " + m_address + " is " +
                                        (m_state == Connection_e::eNotAnswering ? "not answering" : "not connected");
                if constexpr (std::is_same_v<R, LoadChildrenRequest>) {
                    ChildrenResult failed;
                    failed.path = r.path;
                    failed.error = why;
                    m_inbox.Post(std::move(failed));
                } else if constexpr (std::is_same_v<R, WriteRequest>) {
                    m_inbox.Post(WriteResult{r.path, "Error: " + why, std::string()});
                } else if constexpr (std::is_same_v<R, ExecuteRequest>) {
                    m_inbox.Post(ExecuteResult{r.path, "Error: " + why, false});
                } else if constexpr (std::is_same_v<R, RevealRequest>) {
                    m_inbox.Post(RevealResult{r.path, {}, why});
                } else if constexpr (std::is_same_v<R, SaveRequest>) {
                    m_inbox.Post(SaveResult{r.file, 0, why});
                } else if constexpr (std::is_same_v<R, DiffRequest>) {
                    m_inbox.Post(DiffResult{r.file, {}, 0, why});
                } else if constexpr (std::is_same_v<R, WatchSubtreeRequest>) {
                    m_inbox.Post(WatchSubtreeResult{r.path, {}, {}, why});
                } else if constexpr (std::is_same_v<R, PlotOpenRequest>) {
                    m_inbox.Post(PlotOpenedResult{r.path, {}, false, why});
                }
            } else if constexpr (std::is_same_v<R, LoadChildrenRequest>) {
                Busy("reading " + (r.path.empty() ? std::string("the registry") : r.path));
                m_inbox.Post(ReadLevel(r.path));
                Busy(std::string());
            } else if constexpr (std::is_same_v<R, DetailsRequest>) {
                m_inbox.Post(DetailsResult{r.path, ReadDetails(r.path)});
            } else if constexpr (std::is_same_v<R, WriteRequest>) {
                DoWrite(r);
            } else if constexpr (std::is_same_v<R, ExecuteRequest>) {
                DoExecute(r);
            } else if constexpr (std::is_same_v<R, CompleteRequest>) {
                CompleteResult result{r.text, {}};
                try {
                    result.candidates = PathsContinuing(m_root, r.text);
                } catch (const std::exception& e) {
                    NoteFailure(e);
                }
                m_inbox.Post(std::move(result));
            } else if constexpr (std::is_same_v<R, RevealRequest>) {
                DoReveal(r);
            } else if constexpr (std::is_same_v<R, SaveRequest>) {
                DoSave(r);
            } else if constexpr (std::is_same_v<R, DiffRequest>) {
                DoDiff(r);
            } else if constexpr (std::is_same_v<R, WatchSubtreeRequest>) {
                DoWatchSubtree(r);
            } else if constexpr (std::is_same_v<R, PlotOpenRequest>) {
                DoPlotOpen(r);
            }
        },
        request);
}

mci::Node Worker::NodeFor(const std::string& path) {
    auto it = m_nodes.find(path);
    if (it != m_nodes.end()) return it->second;
    mci::Node node = path.empty() ? m_root : m_root.GetNode(mci::Tokenize(path));
    m_nodes[path] = node;
    return node;
}

NodeFacts Worker::FactsOf(const mci::Node& node) const {
    NodeFacts f;
    f.path = mci::ToString(node.GetRelPath());
    f.name = node.GetName();
    f.type = node.GetValueType();
    f.flags = node.GetFlags();
    f.size = node.GetSize();
    f.childCount = node.GetNodeCount();
    return f;
}

ChildrenResult Worker::ReadLevel(const std::string& path) {
    ChildrenResult result;
    result.path = path;
    result.issued = Clock::now();
    try {
        const mci::Node node = NodeFor(path);
        // Two calls a level, whatever its size: the children's facts, and
        // their values as the level's dump renders them.
        const std::vector<mci::Node> children = node.GetNodes();
        result.children.reserve(children.size());
        for (const auto& child : children) {
            ChildRow row;
            row.facts = FactsOf(child);
            m_nodes[row.facts.path] = child;
            result.children.push_back(std::move(row));
        }
        const std::string dump = node.DumpSubTree(1, 0, c_valueChars);
        const bool fromDump = ValuesFromLevelDump(dump, result.children);
        for (std::size_t i = 0; i < children.size(); ++i) {
            ChildRow& row = result.children[i];
            // The dump writes a text on one line, with control characters
            // and bytes that are not UTF-8 as \xNN: such a text is read
            // itself, so that it is shown as every other read shows it.
            if (fromDump && (!row.hasValue || row.value.find('\\') == std::string::npos)) continue;
            row.hasValue = IsValueNode(row.facts);
            row.value = row.hasValue ? children[i].ToString(c_valueChars) : std::string();
        }
    } catch (const std::exception& e) {
        NoteFailure(e);
        result.children.clear();
        result.error = e.what();
    }
    return result;
}

std::string Worker::Bounds(const mci::Node& node) {
    // The registry says what it would refuse: its reasons for the largest
    // and the lowest value of the type name the bounds it checks.
    if (!node.IsWritable() || node.GetSize() == 0 || node.GetSize() > c_detailElements) return std::string();
    const std::vector<istd::Any> values = ProbeValues(node);
    if (values.empty()) return std::string();
    // "Value ... is out of range [0, 10] for node ...": the range, as it is.
    const std::string words = "out of range [";
    for (const auto& reason : mci::CheckValues({node, node}, values)) {
        const std::size_t at = reason.find(words);
        const std::size_t end = at == std::string::npos ? at : reason.find(']', at);
        if (end != std::string::npos) return reason.substr(at + words.size() - 1, end - at - words.size() + 2);
    }
    return std::string();
}

Details Worker::ReadDetails(const std::string& path) {
    Details d;
    try {
        const mci::Node node = NodeFor(path);
        d.facts = FactsOf(node);
        const mci::Path full = node.GetFullPath(false);
        d.hostName = full.empty() ? std::string() : full.front();
        if (node.IsRoot())
            d.parentName = "none (the registry root)";
        else
            d.parentName = full.size() > 2 ? full[full.size() - 2] : d.hostName + " (the registry root)";
        if (d.facts.childCount > 0) {
            for (const auto& child : node.GetNodes()) {
                if (d.children.size() == c_detailChildren) {
                    d.children.push_back("...");
                    break;
                }
                d.children.push_back(child.GetName());
            }
        }
        if (IsValueNode(d.facts)) {
            const bool partial = node.IsArray() && d.facts.size > c_detailElements;
            d.value = partial ? ReadNodeElements(node, 0, c_detailElements) : ReadNodeValue(node);
            d.elementsShown = partial ? c_detailElements : d.facts.size;
            d.hasValue = true;
        }
        d.hasDomain = node.GetDomainValues(d.domain);
        d.hasValidator = node.GetValidatorExpression(d.validator);
        d.bounds = Bounds(node);
    } catch (const std::exception& e) {
        NoteFailure(e);
        d.error = e.what();
    }
    return d;
}

void Worker::DoFollow(const FollowRequest& r) {
    if (!m_notifications) return;
    std::vector<std::pair<std::string, mci::Node>> added;
    try {
        // Subscriptions cannot be withdrawn one by one: once far more are held
        // than the screen follows (a long scroll through a large level), the
        // client is made again with the ones followed now.
        if (m_subscribed.size() > std::max(c_subscriptionsKept, 2 * r.paths.size())) {
            m_notifications.reset();
            m_subscribed.clear();
            NewNotificationClient();
        }
        for (const auto& path : r.paths) {
            if (m_subscribed.count(path)) continue;
            mci::Node node;
            try {
                node = NodeFor(path);
            } catch (const istd::Exception& e) {
                if (IsTimeout(e) || IsUnreachable(e)) throw;
                m_inbox.Post(ValueResult{path, "(" + std::string(e.what()) + ")", Clock::now()});
                m_subscribed.insert(path);
                continue;
            }
            // Subscribed before it is read: no change falls between the two.
            m_notifications->Register(node);
            m_subscribed.insert(path);
            added.emplace_back(path, node);
        }
        for (const auto& [path, node] : added) {
            const SteadyTime issued = Clock::now();
            m_inbox.Post(ValueResult{path, node.ToString(c_valueChars), issued});
        }
    } catch (const std::exception& e) {
        NoteFailure(e);
    }
}

template <class R, class Body>
void Worker::RunJob(const std::string& job, R result, Body body, Failure_e words) {
    Busy(job);
    try {
        body(result);
    } catch (const std::exception& e) {
        NoteFailure(e);
        result.error = words == Failure_e::eAsAccess ? ErrorText(e) : std::string(e.what());
    }
    Busy(std::string());
    m_inbox.Post(std::move(result));
}

void Worker::DoWrite(const WriteRequest& r) {
    RunJob("writing " + r.path, WriteResult{r.path, std::string(), std::string()}, [&](WriteResult& result) {
        const mci::Node node = NodeFor(r.path);
        const EditParts parts = SplitEdit(r.text, node.IsArray());
        // access reads for an empty value, and standard input is the
        // terminal the browser runs in.
        if (parts.value.empty())
            throw istd::Exception("An empty value writes nothing (path= is a read, as in access)", true);
        if (parts.value == "@-")
            throw istd::Exception("A value from standard input (@-) cannot be written in browse", true);
        ValueAccess(node, r.path, parts.value, parts.index);
        result.readBack = ValueText(ReadNodeValue(node), c_valueChars);
    }, Failure_e::eAsAccess);
}

void Worker::DoExecute(const ExecuteRequest& r) {
    RunJob("running " + r.path, ExecuteResult{r.path, std::string(), false},
           [&](ExecuteResult& result) { result.done = NodeFor(r.path).Execute(); }, Failure_e::eAsAccess);
}

void Worker::DoReveal(const RevealRequest& r) {
    RunJob("finding " + r.path, RevealResult{r.path, {}, std::string()}, [&](RevealResult& result) {
        NodeFor(r.path);  // the node exists, or "Node not found"
        // Every level from the start node down to the node's parent.
        const mci::Path names = mci::Tokenize(r.path);
        const std::size_t startDepth = mci::Tokenize(m_config.startPath).size();
        std::string level = m_config.startPath;
        for (std::size_t i = startDepth; i < names.size(); ++i) {
            result.levels.push_back(ReadLevel(level));
            if (!result.levels.back().error.empty()) throw istd::Exception(result.levels.back().error, true);
            level += (level.empty() ? "" : ".") + names[i];
        }
    });
}

void Worker::DoSave(const SaveRequest& r) {
    const std::string what = r.path.empty() ? std::string("the registry") : r.path;
    RunJob("saving " + what, SaveResult{r.file, 0, std::string()}, [&](SaveResult& result) {
        const Snapshot snapshot = SnapshotOf(
            m_root, SubtreeLimits(r.path.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.path}));
        std::ofstream out(r.file, std::ios::binary | std::ios::trunc);
        if (out) out << SnapshotText(snapshot);
        if (out) out.close();
        if (!out)
            throw std::runtime_error("Error: cannot write the snapshot to " + r.file + " (" + std::strerror(errno) +
                                     ")");
        result.count = snapshot.entries.size();
    });
}

void Worker::DoDiff(const DiffRequest& r) {
    RunJob("comparing with " + r.file, DiffResult{r.file, {}, 0, std::string()}, [&](DiffResult& result) {
        const Snapshot snapshot = ReadSnapshotFile(r.file);
        const std::vector<std::string> limits = SubtreeLimits(r.path.empty() ? std::vector<std::string>{}
                                                                             : std::vector<std::string>{r.path});
        const LiveTree live = ReadLiveTree(m_root, limits, false);
        for (const auto& entry : snapshot.entries)
            if (IsUnder(entry.path, limits)) ++result.compared;
        for (const auto& d : SnapshotDifferences(snapshot, live, limits)) {
            std::string text = d.live ? ::ValueText(d.saved->value) + " -> " + ::ValueText(d.live->value) : d.mismatch;
            result.differences.push_back({d.saved->path, std::move(text)});
        }
    });
}

void Worker::DoWatchSubtree(const WatchSubtreeRequest& r) {
    const std::string what = r.path.empty() ? std::string("the registry") : r.path;
    RunJob("reading " + what, WatchSubtreeResult{r.path, {}, {}, std::string()}, [&](WatchSubtreeResult& result) {
        // One call for the whole subtree's values.
        std::vector<std::string> paths, values;
        for (const auto& entry : mci::ReadSubtree(NodeFor(r.path))) {
            if (entry.value.IsEmpty() || entry.node.IsSignal()) continue;
            paths.push_back(rove_json::PathOf(entry.node));
            values.push_back(ValueText(entry.value, c_valueChars));
            m_nodes[paths.back()] = entry.node;
        }
        if (paths.size() > c_maxWatchedAtOnce)
            throw istd::Exception(std::to_string(paths.size()) + " value nodes below " + what + ": at most " +
                                      std::to_string(c_maxWatchedAtOnce) + " are watched at once",
                                  true);
        for (const auto& path : paths) {
            if (m_subscribed.count(path) || !m_notifications) continue;
            mci::Node node = m_nodes[path];
            m_notifications->Register(node);
            m_subscribed.insert(path);
        }
        result.paths = std::move(paths);
        result.values = std::move(values);
    });
}

void Worker::DoPlotOpen(const PlotOpenRequest& r) {
    PlotOpenedResult result{r.path, {}, false, std::string()};
    m_acquisition.reset();
    try {
        isig::SignalSourceSharedPtr source = mci::CreateRemoteSignal(NodeFor(r.path));
        if (!source) throw istd::Exception("signal: not a signal node: " + r.path, true);
        m_acquisition = std::make_unique<Acquisition>(source, r.buffer);
        result.components = m_acquisition->Components();
        result.stream = m_acquisition->IsStream();
    } catch (const std::exception& e) {
        NoteFailure(e);
        result.error = e.what();
    }
    m_inbox.Post(std::move(result));
}

// --- notifications ---------------------------------------------------------------------

void Worker::NewNotificationClient() {
    m_notifications = std::make_unique<mci::NotificationClient>(
        mci::Callback{mci::CallbackId(), [this](const mci::NotificationData& data) { OnNotification(data); },
                      [this](const mci::LostNotifications& lost) { OnLostNotifications(lost); }});
}

// The server dropped changes it could not deliver (the browser fell behind):
// every watched value is read again, so that none stays stale on screen.
// Told by the Ping of CheckConnection, on the worker's thread.
void Worker::OnLostNotifications(const mci::LostNotifications& lost) {
    const SteadyTime now = Clock::now();
    const WallTime wallNow = std::chrono::system_clock::now();
    std::lock_guard<std::mutex> lock(m_queueLock);
    for (const auto& path : lost.paths) m_reReads.push_back(ReRead{mci::ToString(path), now, wallNow});
    m_queueChanged.notify_one();
}

void Worker::OnNotification(const mci::NotificationData& data) {
    // A library thread: nothing here may block on the registry.
    try {
        NotificationResult result;
        result.path = rove_json::PathOf(data.node);
        result.arrived = Clock::now();
        result.wallArrived = std::chrono::system_clock::now();
        result.first = data.first;
        result.nodeSize = data.node.GetSize();
        const bool whole = data.first == 0 && data.value.Size() == result.nodeSize;
        if (!whole) {
            // Part of an array: the worker reads the whole value.
            std::lock_guard<std::mutex> lock(m_queueLock);
            m_reReads.push_back(ReRead{result.path, result.arrived, result.wallArrived});
            m_queueChanged.notify_one();
            return;
        }
        result.value = data.value;
        m_inbox.Post(std::move(result));
    } catch (...) {
        // A notification that cannot be shown is dropped; the next one
        // shows the value.
    }
}

void Worker::DoReRead(const ReRead& r) {
    if (m_state != Connection_e::eConnected) return;
    try {
        NotificationResult result;
        result.path = r.path;
        result.arrived = r.arrived;
        result.wallArrived = r.wallArrived;
        const mci::Node node = NodeFor(r.path);
        result.value = ReadNodeValue(node);
        result.nodeSize = node.GetSize();
        m_inbox.Post(std::move(result));
    } catch (const std::exception& e) {
        NoteFailure(e);
    }
}

}  // namespace browse
