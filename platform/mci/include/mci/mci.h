#pragma once
// Registry client library: reaches the node tree of an application (root 1)
// or of the platform (root 0) served by velnor-registryd.
//
// No CORBA type appears here. Every failure reaches the caller as
// istd::Exception with a message a user understands (mci::NoAnswer when the
// registry may have done what it was asked).
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "istd/any.h"
#include "istd/enum_map.h"
#include "istd/exception.h"
#include "istd/id.h"
#include "isig/signal_source.h"

namespace mci {

namespace enums {
enum NodeValType_e : std::int32_t {
    eNoValue = 0,
    eBool = 1,
    eInt32 = 2,
    eUInt32 = 3,
    eInt64 = 4,
    eUInt64 = 5,
    eDouble = 6,
    eFloat = 7,
    eString = 8,
    eEnum = 9,
};
}  // namespace enums

// Which registry: 1 the application's, 0 the platform's.
enum Root : std::int32_t { ePlatformRoot = 0, eApplicationRoot = 1 };
// "application" or "platform" (the number for any other value).
std::ostream& operator<<(std::ostream& os, Root root);

// The port used when 0 is given, and the host used when the host is empty.
std::int32_t DefaultPort();
const char* DefaultHost();

// A list of node names. Written with operator<< as the names joined by ".".
struct Path : std::vector<std::string> {
    using std::vector<std::string>::vector;
    Path() = default;
    Path(const std::vector<std::string>& names) : std::vector<std::string>(names) {}
};
// Splits a dotted path into names (empty names are dropped: "" is the root).
Path Tokenize(const std::string& path);
// Joins names with ".".
std::string ToString(const Path& path);
std::ostream& operator<<(std::ostream& os, const Path& path);

// Node flag bits as GetFlags reports them.
enum NodeFlag_e : std::uint32_t {
    eReadable = 0x01,
    eWritable = 0x02,
    eConstant = 0x04,
    eExecutable = 0x08,
    eArray = 0x10,
    ePersistent = 0x20,
    eHidden = 0x40,
    eSignal = 0x80,
};

namespace detail {
class Connection;
struct NodeFacts;
}  // namespace detail

// The registry could not be asked: it did not answer, could not be
// reached, or the exchange with it broke down. Unlike a refusal (a node
// that is not there, a value the registry does not take), which leaves the
// connection sound, this tells that the next calls to the same registry
// will most likely fail too.
class ConnectionFailure : public istd::Exception {
public:
    explicit ConnectionFailure(const std::string& message) : istd::Exception(message, true) {}
};

// A call that got no answer: the registry did not answer within the call
// deadline ("Registry at HOST:PORT did not answer in time"), or the
// connection was lost when the request may already have reached it. What
// the call asked for (a write, say) may or may not have been done, or may
// still be done when the registry resumes.
class NoAnswer : public ConnectionFailure {
public:
    using ConnectionFailure::ConnectionFailure;
};

// A copyable handle on one registry node. A default-constructed handle is
// invalid; every query on it throws istd::Exception.
class Node {
public:
    Node();
    ~Node();
    Node(const Node&);
    Node& operator=(const Node&);
    Node(Node&&) noexcept;
    Node& operator=(Node&&) noexcept;

    bool IsValid() const;

    // Navigation. GetNode throws istd::Exception naming the path when absent.
    Node GetNode(const Path& relPath) const;
    Node operator[](const std::string& childName) const;
    std::vector<Node> GetNodes() const;
    std::uint32_t GetNodeCount() const;
    Node GetParent() const;
    bool IsRoot() const;
    bool IsLeaf() const;

    // Names. GetFullPath(false): the registry host name, then the names below
    // the root; GetFullPath(true): the names below the root (as GetRelPath).
    std::string GetName() const;
    Path GetFullPath(bool relative) const;
    Path GetRelPath() const;

    // Flags.
    std::uint32_t GetFlags() const;
    bool IsReadable() const;
    bool IsWritable() const;
    bool IsConstant() const;
    bool IsExecutable() const;
    bool IsArray() const;
    bool IsPersistent() const;
    bool IsSignal() const;

    // Values. Get of a scalar reads the element at `pos`; the list forms read
    // or write `count` (or the list's size) elements from `pos`. An element
    // type other than the node's is converted when the value fits, else the
    // call throws.
    enums::NodeValType_e GetValueType() const;
    std::uint32_t GetSize() const;

    void Get(bool& value, std::uint32_t pos) const;
    void Get(int& value, std::uint32_t pos) const;
    void Get(unsigned int& value, std::uint32_t pos) const;
    void Get(long long& value, std::uint32_t pos) const;
    void Get(unsigned long long& value, std::uint32_t pos) const;
    void Get(double& value, std::uint32_t pos) const;
    void Get(float& value, std::uint32_t pos) const;
    void Get(std::string& value, std::uint32_t pos) const;

    void Get(std::vector<bool>& values, std::uint32_t pos, std::uint32_t count) const;
    void Get(std::vector<int>& values, std::uint32_t pos, std::uint32_t count) const;
    void Get(std::vector<unsigned int>& values, std::uint32_t pos, std::uint32_t count) const;
    void Get(std::vector<long long>& values, std::uint32_t pos, std::uint32_t count) const;
    void Get(std::vector<unsigned long long>& values, std::uint32_t pos, std::uint32_t count) const;
    void Get(std::vector<double>& values, std::uint32_t pos, std::uint32_t count) const;
    void Get(std::vector<float>& values, std::uint32_t pos, std::uint32_t count) const;
    void Get(std::vector<std::string>& values, std::uint32_t pos, std::uint32_t count) const;

    void Set(const std::vector<bool>& values, std::uint32_t pos) const;
    void Set(const std::vector<int>& values, std::uint32_t pos) const;
    void Set(const std::vector<unsigned int>& values, std::uint32_t pos) const;
    void Set(const std::vector<long long>& values, std::uint32_t pos) const;
    void Set(const std::vector<unsigned long long>& values, std::uint32_t pos) const;
    void Set(const std::vector<double>& values, std::uint32_t pos) const;
    void Set(const std::vector<float>& values, std::uint32_t pos) const;
    void Set(const std::vector<std::string>& values, std::uint32_t pos) const;

    // Convenience forms that report failure as false instead of throwing.
    bool GetValue(std::string& value, std::uint32_t pos = 0) const;
    bool SetValue(int value, std::uint32_t pos = 0) const;

    // The value text, cut to maxLength characters and followed by "..." when
    // longer (0: no limit).
    std::string ToString(std::uint32_t maxLength) const;
    bool GetDomainValues(std::vector<std::string>& domain) const;
    bool GetValidatorExpression(std::string& expression) const;
    bool Execute() const;
    // The subtree rendered by the server: level -1 all, 0 the node alone;
    // flags 1 full path, 2 flags, 4 compact (the server's dump flag bits);
    // values cut to maxLength.
    std::string DumpSubTree(std::int32_t level, unsigned long flags, std::uint32_t maxLength) const;

    // Internal: handles are made by the library.
    Node(std::shared_ptr<detail::Connection> connection, std::shared_ptr<const detail::NodeFacts> facts);
    const std::shared_ptr<detail::Connection>& Connection() const { return m_connection; }
    const std::shared_ptr<const detail::NodeFacts>& Facts() const { return m_facts; }

private:
    const detail::NodeFacts& Checked() const;
    std::shared_ptr<detail::Connection> m_connection;
    std::shared_ptr<const detail::NodeFacts> m_facts;
};

// One node of a subtree as ReadSubtree gives it.
struct SubtreeEntry {
    Node node;
    istd::Any value;                  // the whole value; empty when the node has none or is not readable
    std::vector<std::string> domain;  // enumerations: the names a value may take
};

// Every node of the subtree at `start` (itself first, parents before
// children, children in tree order) with whole values: one remote call.
std::vector<SubtreeEntry> ReadSubtree(const Node& start);

// One node of a subtree as VisitSubtree hands it over; valid during the
// call only.
struct SubtreeNodeView {
    std::uint32_t depth;             // levels below the start node (0: the start node)
    std::string_view name;
    std::uint32_t flags;             // NodeFlag_e bits
    enums::NodeValType_e valueType;
    const istd::Any& value;          // as SubtreeEntry::value
};
// The nodes of the subtree at `start` down to `level` levels below it (-1:
// all), in ReadSubtree's order, handed to `visit` one by one without a node
// handle each: for a caller that only prints them. One remote call.
void VisitSubtree(const Node& start, std::int32_t level, const std::function<void(const SubtreeNodeView&)>& visit);

// For each node and whole value (nodes of one registry): the reason the
// registry would refuse to set the node to the value (flags, size, type,
// domain, bounds), or an empty text when it would take it. Nothing is
// written; one remote call.
std::vector<std::string> CheckValues(const std::vector<Node>& nodes, const std::vector<istd::Any>& values);

// Process set-up. Init keeps the arguments (the command line is not changed)
// and prepares the CORBA runtime; the runtime itself starts on first use, so
// a run that never connects pays nothing for it. Shutdown is safe to call
// whatever happened before, and more than once.
void Init(int argc, char** argv);
void ExposeHiddenRegistry();
void Shutdown();
// Tells the library that the process ends right after Shutdown (a one-shot
// run of a command-line tool). Shutdown then leaves the CORBA runtime's
// memory to the end of the process instead of tearing it down, unless
// notification servants were activated (their deliveries in progress are
// waited for). Builds that check for leaks (sanitizers) always tear down.
void EndProcessAfterShutdown();

// A handle on the registry root; invalid (IsValid false) when nothing answers
// at host:port within about two seconds, and for a host or port no registry
// can have (a port outside 1..65535, a host with characters other than
// letters, digits and ".-_:"). Never throws for an address. Empty host and
// port 0 select the defaults. `fresh` asks for a new connection rather than
// a cached one.
Node Connect(const std::string& host, Root root, std::int32_t port, bool fresh);

// Checks the connection of a root handle: 0 the same server answers, 3 the
// server was restarted (or the connection re-made) since the last check and
// the notification subscriptions were registered again, 1 no answer.
int Ping(const Node& root);

// For a client that goes over many nodes in one run: once a call to a
// registry went unanswered (NoAnswer), every later call to it fails at once
// with the same error instead of waiting out the deadline again, until a
// Ping gets an answer from it. Off unless turned on.
void FailFastAfterNoAnswer(bool on);

// Tells when the calling thread waits for a registry: `begin` runs before
// every remote call the library makes through a node handle, `end` after
// it, however it ended, both on the calling thread. For a caller that must
// act while a call is blocked (an interrupt that cannot wait for the
// deadline). Set it before the calls it is to observe are made. Both null
// (the default): nothing is called.
struct CallObserver {
    void (*begin)() = nullptr;
    void (*end)() = nullptr;
};
void ObserveCalls(CallObserver observer);

// For a connection whose subscriptions are not managed by Ping: true when
// the server dropped a notification client's subscriptions there (reported
// to its `lost` callback, once per drop); nothing is subscribed again.
// False too when the server does not answer.
bool CheckSubscriptions(const Node& root);

// Notifications.
struct NotificationData {
    Node node;
    istd::Any value;
    std::uint32_t first = 0;  // index of the first element the value covers
};

// The server dropped a client's subscriptions (it fell behind, or stopped
// answering): the notifications of `paths` since then are not delivered.
struct LostNotifications {
    std::vector<Path> paths;  // every path subscribed on that connection
    std::uint64_t missed = 0;  // discarded by the server, or not acknowledged
};

struct IdRoveCallback {};
using CallbackId = istd::Id<IdRoveCallback, unsigned long long>;

struct Callback {
    CallbackId id;
    std::function<void(const NotificationData&)> function;
    // Optional: told once per drop, by the Ping or CheckSubscriptions that
    // found it, on the thread that called them.
    std::function<void(const LostNotifications&)> lost;
};

// Subscribes nodes; the callback runs on library threads, one delivery at a
// time per client. Destroying the client withdraws its subscriptions; it may
// be destroyed after Shutdown.
class NotificationClient {
public:
    explicit NotificationClient(const Callback& callback);
    ~NotificationClient();
    NotificationClient(const NotificationClient&) = delete;
    NotificationClient& operator=(const NotificationClient&) = delete;

    void Register(Node& node);

    class Impl;

private:
    std::shared_ptr<Impl> m_impl;
};

// A signal source on a signal node: its atom type, components and access
// type are asked from the server once. Empty when the node is no signal
// node; istd::Exception when the server does not answer.
isig::SignalSourceSharedPtr CreateRemoteSignal(const Node& node);

}  // namespace mci

namespace istd {
template <>
const BiMap<mci::enums::NodeValType_e> EnumMap<mci::enums::NodeValType_e>::items;
template <>
unsigned long long IdCounter<mci::IdRoveCallback, unsigned long long>::s_value;
template <>
std::mutex IdCounter<mci::IdRoveCallback, unsigned long long>::s_mutex;
}  // namespace istd
