#pragma once
// The CORBA face of the signal nodes: one RemoteSignal servant per signal
// node, serving stream pulls and data-on-demand reads of simulated atoms.
//
// Production: a signal's atoms are numbered from 0. A data-on-demand signal
// starts with a full history (atoms 0 .. history - 1). With a rate, atoms
// are produced in real time after that; with rate 0 they are produced on
// demand: as far as the furthest block any client asked for. LMT of atom
// p = p * lmt_step.
//
// Trigger events (data on demand) come every `trigger` seconds and mark
// the next atom to be produced; an event's block starts at that atom plus
// the receiver's offset.
#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "idl/signal.hh"
#include "signal_generator.h"
#include "tree.h"

namespace velnor::server {

// The object key of a signal node (wire::SignalKey of its registry and its
// dotted path).
std::string SignalObjectKey(const Tree& tree, const Node& node);

class SignalServant : public POA_i_NET::RemoteSignal {
public:
    SignalServant(const Tree& tree, const Node& node);
    ~SignalServant() override;
    SignalServant(const SignalServant&) = delete;
    SignalServant& operator=(const SignalServant&) = delete;

    // Ends the trigger thread, every wait and every event receiver. Idempotent.
    void Stop();

    i_NET::SignalInfo* GetInfo() override;
    CORBA::Long Pull(CORBA::ULongLong position, CORBA::ULong maxAtoms, i_NET::Block_out b) override;
    CORBA::Long RegisterReceiver(i_NET::SignalReceiver_ptr receiver, CORBA::Long mode, CORBA::ULongLong size,
                                 CORBA::LongLong offset, CORBA::ULong depth) override;
    void UnregisterReceiver(i_NET::SignalReceiver_ptr receiver) override;
    CORBA::Long Read(i_NET::SignalReceiver_ptr receiver, CORBA::ULongLong lmt, CORBA::LongLong offset,
                     CORBA::ULongLong size, i_NET::Block_out b) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Registration;
    using RegistrationPtr = std::shared_ptr<Registration>;
    struct EventMark {
        std::int64_t event;
        std::uint64_t trigger;  // the atom the event marks
    };

    // Atoms produced so far (the next atom's position).
    std::uint64_t Produced() const;
    // Rate 0: produces up to `end` at once.
    void Demand(std::uint64_t end);
    // Waits (with `lock` on m_lock) until `end` atoms are produced; false on
    // the deadline, a cancelled registration or Stop.
    bool WaitProduced(std::unique_lock<std::mutex>& lock, std::uint64_t end, Clock::time_point deadline,
                      const Registration* registration);
    bool Ended(const Registration* registration) const;
    // True when the LMT of every atom of [start, start + atoms) fits 64 bits.
    bool LmtFits(std::uint64_t start, std::uint64_t atoms) const;
    // Fills every field of `block`, which comes fresh from `new` (out
    // arguments get theirs at entry, so that each early return has one).
    // Throws a CORBA system exception instead of sending a block it cannot
    // fill whole: more than one message, or LMTs past 64 bits.
    void FillBlock(i_NET::Block& block, std::uint64_t start, std::uint64_t atoms, std::int64_t event) const;
    bool FitsOneMessage(std::uint64_t atoms) const;

    RegistrationPtr FindLocked(i_NET::SignalReceiver_ptr receiver) const;
    CORBA::Long ReadLocked(std::unique_lock<std::mutex>& lock, const RegistrationPtr& registration,
                           std::uint64_t lmt, std::int64_t offset, std::uint64_t atoms, i_NET::Block_out b);
    bool StartOf(const Registration& registration, std::uint64_t lmt, std::int64_t offset, std::uint64_t atoms,
                 std::uint64_t& start) const;
    bool WaitForEvent(std::unique_lock<std::mutex>& lock, const Registration& registration, EventMark& mark);

    void RunTrigger();
    void FireEvent();
    void RunPusher(const RegistrationPtr& registration);
    bool PushEvent(const RegistrationPtr& registration, const EventMark& mark, std::unique_lock<std::mutex>& lock);
    void JoinRetired();

    const std::string m_name;
    const SignalInfo m_info;
    const SignalGenerator m_generator;
    const std::uint32_t m_blockAtoms;
    const std::uint64_t m_streamBuffer;  // atoms a stream keeps for slow pullers
    const Clock::time_point m_start;

    std::atomic<std::uint64_t> m_onDemand;  // rate 0: atoms produced so far

    mutable std::mutex m_lock;  // guards everything below
    std::condition_variable m_changed;
    bool m_stop = false;
    std::int64_t m_event = 0;           // number of the last trigger event
    std::uint64_t m_lastTrigger = 0;    // the atom it marked
    std::vector<RegistrationPtr> m_registrations;
    std::vector<RegistrationPtr> m_retired;  // unregistered, pusher still to join
    std::thread m_trigger;
};

// Every signal node of the tree, activated in the given POA under its key.
class SignalServants {
public:
    SignalServants() = default;
    ~SignalServants() { Stop(); }
    SignalServants(const SignalServants&) = delete;
    SignalServants& operator=(const SignalServants&) = delete;

    void Activate(PortableServer::POA_ptr poa, const Tree& tree);
    // Before the ORB shuts down: ends the servants' threads and waits.
    void Stop();

private:
    std::vector<PortableServer::Servant_var<SignalServant>> m_servants;
};

}  // namespace velnor::server
