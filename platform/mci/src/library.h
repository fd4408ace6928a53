#pragma once
#include <cstdint>
#include <string>

// Process-wide switches of the library.
namespace mci::detail {

// Where the calls of one connection go.
struct CallTarget {
    std::string host;      // as given to Connect
    std::int32_t port = 0;
    std::string unixPath;  // the local server's socket; empty when the connection uses TCP only
};

// True once mci::ExposeHiddenRegistry was called: lookups, child lists and
// dumps then include hidden nodes.
bool HiddenExposed();

// True once mci::FailFastAfterNoAnswer(true) was called.
bool FailsFastAfterNoAnswer();

// Runs the observer's `begin` (set by mci::ObserveCalls) when made and its
// `end` when destroyed: one remote call.
class ObservedCall {
public:
    ObservedCall();
    ~ObservedCall();
    ObservedCall(const ObservedCall&) = delete;
    ObservedCall& operator=(const ObservedCall&) = delete;

private:
    void (*m_end)();
};

// The URI of the object under `key` on the target's server (its unix
// socket first when it has one).
std::string CorbalocOf(const CallTarget& target, const std::string& key);

}  // namespace mci::detail
