#pragma once
// A `velnor-rove listen` process against a real registry server, and the
// writes that make it print.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/registry_server.h"

namespace listen_test {

using namespace std::chrono_literals;

// Generous bounds for things that happen at once on an idle machine; they
// only stop a broken run from hanging, they assert no timing.
constexpr std::chrono::milliseconds c_patience = 10s;

class ListenSession {
public:
    // Starts `velnor-rove listen <args> --port <port>` (tracing into a file
    // of its own) and waits until every node is announced (`announced` lines
    // after the heading) and subscribed. With `announces` false (--json) no
    // heading or announcement is read.
    ListenSession(const velnor::test::RegistryServer& server, const std::vector<std::string>& args,
                  std::size_t announced, const velnor::test::RunOptions& options = {}, bool announces = true);

    velnor::test::Child& Process() { return *m_child; }
    // The next notification line; empty when none came.
    std::string NextLine();
    // The next `count` lines.
    std::vector<std::string> NextLines(std::size_t count);
    // Stops the listener with `signal` and gives its exit status.
    int StopWith(int signal);

private:
    std::unique_ptr<velnor::test::Child> m_child;
};

// A node is announced before it is subscribed; the trace (--debug FILE 4)
// shows when the handler call of each node has returned, i.e. the
// subscription is in place. False when `nodes` are not within `patience`.
bool AwaitSubscriptions(const std::string& trace, std::size_t nodes, std::chrono::milliseconds patience);

// Runs velnor-rove (access) with `args`; expects success and no output on
// standard error.
void Write(const velnor::test::RegistryServer& server, const std::vector<std::string>& args);

// The announcement block printed before any notification.
std::string Announcement(const std::vector<std::string>& names);

}  // namespace listen_test
