#include "browse/inbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace browse {

Inbox::Inbox() : m_event(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!m_event.IsValid()) throw std::runtime_error("browse: cannot make an eventfd");
}

void Inbox::Post(Result result) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_results.push_back(std::move(result));
    if (m_signalled) return;
    const std::uint64_t one = 1;
    // A full counter cannot happen (it is read before it is written again).
    if (write(m_event.Get(), &one, sizeof one) == static_cast<ssize_t>(sizeof one)) m_signalled = true;
}

std::vector<Result> Inbox::Take() {
    std::vector<Result> taken;
    std::lock_guard<std::mutex> lock(m_lock);
    std::uint64_t count = 0;
    if (m_signalled && read(m_event.Get(), &count, sizeof count) < 0) {
        // Nothing to read: the count was already taken.
    }
    m_signalled = false;
    taken.swap(m_results);
    return taken;
}

}  // namespace browse
