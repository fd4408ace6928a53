#pragma once
// What the screen side and the registry side of the browser tell each
// other. The screen (the UI thread) sends requests to the registry worker
// and never calls the registry itself; the worker, the notification
// client and the signal acquisition send results back through the inbox.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "istd/any.h"

namespace browse {

class PlotBuffer;

using SteadyTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;

// What the registry says of a node that does not change while it runs.
struct NodeFacts {
    std::string path;              // dotted, below the registry root; "" is the root
    std::string name;
    std::int32_t type = 0;         // mci::enums::NodeValType_e
    std::uint32_t flags = 0;       // mci::NodeFlag_e bits
    std::uint32_t size = 0;        // elements of the value
    std::uint32_t childCount = 0;
};

// One child as a level read gives it: its facts and its value text, cut as
// the registry cuts values ("..." after the cut).
struct ChildRow {
    NodeFacts facts;
    std::string value;
    bool hasValue = false;
};

enum class Connection_e {
    eConnecting,    // the first connection is being made
    eConnected,
    eNotAnswering,  // the server is there but does not answer in time
    eLost,          // the server went away (refused, closed)
    eReconnecting,  // a new connection is being tried
};

// Everything info reports of one node, its whole value (arrays up to a
// bound), and what limits its values.
struct Details {
    NodeFacts facts;
    std::string hostName;        // the first component of the full path
    std::string parentName;      // empty for the root
    std::vector<std::string> children;  // names
    bool hasValue = false;
    istd::Any value;             // the value, or its first elements
    std::uint32_t elementsShown = 0;    // of an array: how many `value` holds
    bool hasDomain = false;
    std::vector<std::string> domain;
    bool hasValidator = false;
    std::string validator;
    std::string bounds;          // "[0, 10]" when the registry checks bounds
    std::string error;           // why they could not be read
};

// --- requests: UI thread to worker ---------------------------------------

// Connects (again) and reads the start node, the levels below the expanded
// paths (in the given order) and the values of `values`.
struct StartRequest {
    std::vector<std::string> expanded;
};
struct LoadChildrenRequest {
    std::string path;
};
struct DetailsRequest {
    std::string path;
};
// Paths whose values must follow the registry (on screen or watched); the
// worker subscribes the ones it has not and reads their values once.
struct FollowRequest {
    std::vector<std::string> paths;
};
// `path=text` as access takes it; `text` may begin with an element selection
// "[1,3:5]=".
struct WriteRequest {
    std::string path;
    std::string text;
};
struct ExecuteRequest {
    std::string path;
};
struct CompleteRequest {
    std::string text;
};
// The chain of levels from the start node down to `path`, to select it.
struct RevealRequest {
    std::string path;
};
struct SaveRequest {
    std::string path;
    std::string file;
};
struct DiffRequest {
    std::string path;
    std::string file;
};
// The nodes with a value below `path`, to watch them.
struct WatchSubtreeRequest {
    std::string path;
};
// Starts the acquisition of a signal into `buffer`; one at a time.
struct PlotOpenRequest {
    std::string path;
    std::shared_ptr<PlotBuffer> buffer;
};
struct PlotCloseRequest {};

using Request = std::variant<StartRequest, LoadChildrenRequest, DetailsRequest, FollowRequest, WriteRequest,
                             ExecuteRequest, CompleteRequest, RevealRequest, SaveRequest, DiffRequest,
                             WatchSubtreeRequest, PlotOpenRequest, PlotCloseRequest>;

// --- results: worker, notification client, acquisition to the UI thread ---

struct StateResult {
    Connection_e state = Connection_e::eConnecting;
    std::string detail;          // why, as the registry library words it
};
// The worker started (or finished) a job the user waits for.
struct BusyResult {
    std::string job;             // empty: idle again
};
// The start node was found (again) after a connection.
struct StartedResult {
    NodeFacts start;
    std::string startValue;
    bool startHasValue = false;
    std::string address;         // HOST:PORT/ROOT
};
struct StartFailedResult {
    std::string error;
};
struct ChildrenResult {
    std::string path;
    std::vector<ChildRow> children;
    std::string error;           // the level could not be read (node gone, no answer)
    SteadyTime issued;           // when the values were read
};
struct DetailsResult {
    std::string path;
    Details details;
};
struct ValueResult {
    std::string path;
    std::string value;           // cut like a level's values
    SteadyTime issued;
};
struct NotificationResult {
    std::string path;
    istd::Any value;
    std::uint32_t first = 0;     // of an array: the first element the value covers
    std::uint32_t nodeSize = 0;
    SteadyTime arrived;
    WallTime wallArrived;
};
struct WriteResult {
    std::string path;
    std::string error;           // as access prints it; empty on success
    std::string readBack;        // the value read after the write
};
struct ExecuteResult {
    std::string path;
    std::string error;
    bool done = false;           // the registry's answer: done or failed
};
struct CompleteResult {
    std::string text;
    std::vector<std::string> candidates;  // full paths; "." ends a node with children
};
struct RevealResult {
    std::string path;
    std::vector<ChildrenResult> levels;   // from the start node down
    std::string error;
};
struct SaveResult {
    std::string file;
    std::size_t count = 0;
    std::string error;
};
struct DiffEntry {
    std::string path;
    std::string text;            // "1.5 -> 2.5", "missing in registry", ...
};
struct DiffResult {
    std::string file;
    std::vector<DiffEntry> differences;
    std::size_t compared = 0;
    std::string error;
};
struct WatchSubtreeResult {
    std::string path;
    std::vector<std::string> paths;
    std::vector<std::string> values;
    std::string error;
};
struct PlotOpenedResult {
    std::string path;
    std::vector<std::string> components;
    bool stream = false;
    std::string error;
};

using Result = std::variant<StateResult, BusyResult, StartedResult, StartFailedResult, ChildrenResult,
                            DetailsResult, ValueResult, NotificationResult, WriteResult, ExecuteResult,
                            CompleteResult, RevealResult, SaveResult, DiffResult, WatchSubtreeResult,
                            PlotOpenedResult>;

}  // namespace browse
