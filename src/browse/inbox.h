#pragma once
// The UI thread's mailbox: any thread posts results; a descriptor becomes
// readable when something waits, so that the UI thread sleeps in poll()
// until there is work (no timer loop).
#include <mutex>
#include <vector>

#include "browse/messages.h"
#include "istd/unique_fd.h"

namespace browse {

class Inbox {
public:
    Inbox();
    Inbox(const Inbox&) = delete;
    Inbox& operator=(const Inbox&) = delete;

    // Any thread.
    void Post(Result result);
    // UI thread: everything posted so far, in order; clears the descriptor.
    std::vector<Result> Take();
    // Readable while results wait.
    int Fd() const { return m_event.Get(); }

private:
    std::mutex m_lock;              // guards m_results and m_signalled
    std::vector<Result> m_results;
    bool m_signalled = false;       // the eventfd holds a count
    istd::UniqueFd m_event;
};

}  // namespace browse
