#ifndef VELNOR_ISIG_DOD_CLIENT_BASE_H
#define VELNOR_ISIG_DOD_CLIENT_BASE_H
// Base of the data-on-demand clients: the signal's traits and the queue
// that holds pushed (Event mode) blocks. On its own it is a client that
// cannot read.
#include <cstdint>
#include <string>
#include <utility>

#include "isig/client_base.h"
#include "isig/isig_trace.h"
#include "isig/stream_queue.h"
#include "istd/exception.h"

namespace isig {

template <class TRAITS>
class DodClientBase : public SignalClientBase {
public:
    using Buffer = Array<TRAITS>;
    using Queue_t = StreamQueue<TRAITS>;

    // Blocks the queue holds for a reader that is behind.
    static constexpr std::uint32_t c_queueCapacity = 64;

    DodClientBase(std::string name, const TRAITS& traits)
        : m_name(std::move(name)), m_traits(traits), m_queue(traits, m_name, c_queueCapacity) {
        if (m_traits.GetComponents() == 0)
            istd::LoggedAssert(ISIG_TRACE_SOURCE, __LINE__, __PRETTY_FUNCTION__, "Assertion condition: a_traits.GetComponents() > 0");
        ISIG_TRACE(2, "Dod client, atom components: " << m_traits.GetComponents());
    }

    using SignalClientBase::Open;
    using SignalClientBase::Read;
    std::int32_t SignalAccessType() const override { return eAccessDod; }
    std::string GetName() const override { return m_name; }
    SignalStatistics GetStatistics() const override { return m_queue.GetStatistics(); }

    const TRAITS& GetTraits() const { return m_traits; }

protected:
    const std::string m_name;
    const TRAITS m_traits;
    Queue_t m_queue;
};

}  // namespace isig

#endif
