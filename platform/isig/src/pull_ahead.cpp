#include "isig/pull_ahead.h"

#include <omniORB4/omniORB.h>

#include <algorithm>
#include <limits>
#include <utility>

#include "isig/isig_trace.h"

namespace isig {

namespace {

// A reference to the same signal that no other thread calls through.
i_NET::RemoteSignal_ptr OwnReference(i_NET::RemoteSignal_ptr remote) {
    try {
        int argc = 0;
        CORBA::ORB_var orb = CORBA::ORB_init(argc, nullptr);  // the process's running ORB
        CORBA::String_var text = orb->object_to_string(remote);
        CORBA::Object_var object = orb->string_to_object(text.in());
        return i_NET::RemoteSignal::_unchecked_narrow(object);
    } catch (const CORBA::Exception&) {
        // Shared, then: its time-out is set to nearly the same value by each.
        return i_NET::RemoteSignal::_duplicate(remote);
    }
}

i_NET::Block* NoAtomsAt(std::uint64_t position) {
    auto* block = new i_NET::Block;
    block->info.atomType = 0;
    block->info.components = 0;
    block->info.atomCount = 0;
    block->info.lmt = 0;
    block->info.position = position;
    block->info.event = -1;
    return block;
}

}  // namespace

std::chrono::milliseconds PullTime::Limit(Clock::time_point now, bool& cut) const {
    cut = false;
    if (!m_readersGiveUp) return m_callDeadline;
    const Clock::time_point giveUp = m_readersGiveUp();
    if (giveUp <= now) {
        cut = true;
        return std::chrono::milliseconds(0);
    }
    if (giveUp - now >= m_callDeadline) return m_callDeadline;
    cut = true;
    // Rounded up: a pull never ends before the readers give up.
    return std::chrono::ceil<std::chrono::milliseconds>(giveUp - now);
}

PullWayChooser::PullWayChooser(std::uint32_t ways, std::uint32_t trialBlocks, Clock::duration keep,
                               std::vector<std::uint32_t> leadIns)
    : m_trialBlocks(trialBlocks > 1 ? trialBlocks : 2),
      m_keep(keep),
      m_leadIns(std::move(leadIns)),
      m_perBlock(ways > 0 ? ways : 1) {
    m_leadIns.resize(m_perBlock.size(), 0);
    BeginTrial(0, Clock::time_point{});
}

void PullWayChooser::BeginTrial(std::uint32_t way, Clock::time_point now) {
    m_keeping = false;
    m_way = way;
    m_blocks = 0;
    m_untimed = m_leadIns[way] + 1;
    m_leadIns[way] = 0;
    m_timedFrom = now;
}

std::uint32_t PullWayChooser::Fastest() const {
    const auto best = std::min_element(m_perBlock.begin(), m_perBlock.end());
    // Another way must beat way 0 by more than 5%: when the ways differ,
    // they differ by far more than that.
    if (*best * 105 < m_perBlock.front() * 100) return static_cast<std::uint32_t>(best - m_perBlock.begin());
    return 0;
}

std::uint32_t PullWayChooser::Next(Clock::time_point now) {
    if (m_perBlock.size() == 1) return 0;  // nothing to choose
    if (m_keeping) {
        if (now - m_keptSince >= m_keep) BeginTrial(0, now);
    } else if (m_blocks == m_untimed + m_trialBlocks - 1) {
        m_perBlock[m_way] = (now - m_timedFrom) / (m_trialBlocks - 1);
        if (m_way + 1 < m_perBlock.size()) {
            BeginTrial(m_way + 1, now);
        } else {
            m_way = Fastest();
            m_keeping = true;
            m_keptSince = now;
        }
    }
    if (!m_keeping) {
        if (m_blocks == m_untimed) m_timedFrom = now;
        ++m_blocks;
    }
    return m_way;
}

SuccessCode_e PullBlock(i_NET::RemoteSignal_ptr remote, std::uint64_t position, std::uint32_t atoms,
                        i_NET::Block_var& block, const std::string& name, const PullTime& time,
                        RemoteFailureNote* failures) {
    bool cut = false;
    const std::chrono::milliseconds limit = time.Limit(PullTime::Clock::now(), cut);
    if (limit.count() <= 0) {
        block = NoAtomsAt(position);
        return eNoData;
    }
    try {
        omniORB::setClientCallTimeout(remote, static_cast<CORBA::ULong>(limit.count()));
        return ToSuccessCode(remote->Pull(position, atoms, block.out()));
    } catch (const CORBA::TIMEOUT& e) {
        if (cut) {
            ISIG_TRACE(3, name << ": The readers gave up waiting during a pull.");
            block = NoAtomsAt(position);
            return eNoData;
        }
        ISIG_TRACE(1, name << ": Can't access remote signal: " << e._name() << " (minor " << e.minor() << ")");
        if (failures) failures->Note(RemoteFailure_e::eNoAnswer);
    } catch (const CORBA::SystemException& e) {
        ISIG_TRACE(1, name << ": Can't access remote signal: " << e._name() << " (minor " << e.minor() << ")");
        if (failures) failures->Note(ClassifyCurrentFailure());
    } catch (const CORBA::Exception& e) {
        ISIG_TRACE(1, name << ": Can't access remote signal: " << e._name());
        if (failures) failures->Note(RemoteFailure_e::eOther);
    }
    return eRemoteFailed;
}

PullAhead::PullAhead(i_NET::RemoteSignal_ptr remote, std::uint32_t blockAtoms, std::uint32_t depth, std::string name,
                     PullTime time, RemoteFailureNote* failures)
    : m_remote(i_NET::RemoteSignal::_duplicate(remote)),
      m_blockAtoms(blockAtoms > 0 ? blockAtoms : 1),
      m_depth(depth > 0 ? depth : 1),
      m_name(std::move(name)),
      m_time(std::move(time)),
      m_failures(failures) {
    try {
        for (std::uint32_t i = 1; i < m_depth; ++i) m_pullers.emplace_back([this] { Run(); });
    } catch (...) {
        StopAll();
        throw;
    }
}

PullAhead::~PullAhead() { StopAll(); }

void PullAhead::StopAll() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread& puller : m_pullers)
        if (puller.joinable()) puller.join();
    m_pullers.clear();
}

std::uint64_t PullAhead::GetPullCount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_pulls;
}

// Every depth-th pull from where the reader (re)started is the reader's own.
bool PullAhead::ReadersTurnLocked() const { return m_sequence % m_depth == 0; }

bool PullAhead::MayIssueLocked() const { return m_issuing && !ReadersTurnLocked(); }

std::uint64_t PullAhead::IssueLocked() {
    const std::uint64_t position = m_issue;
    // Positions end below POSITION_NEWEST; the server refuses the last one.
    m_issuing = m_issue < std::numeric_limits<std::uint64_t>::max() - 2 * std::uint64_t{m_blockAtoms};
    m_issue += m_blockAtoms;
    ++m_sequence;
    ++m_pulls;
    return position;
}

void PullAhead::AimAtLocked(std::uint64_t position) {
    const bool onCourse = m_window.empty() ? m_issuing && m_issue == position : m_window.front()->position == position;
    if (onCourse) return;
    ISIG_TRACE(3, m_name << ": pulling ahead from " << position << ", " << m_window.size() << " pulls dropped");
    m_window.clear();  // a puller still waiting for a dropped pull drops its block
    m_issue = position;
    m_issuing = true;
    m_sequence = 0;
}

SuccessCode_e PullAhead::Take(std::uint64_t position, i_NET::Block_var& block) {
    SlotPtr slot;
    std::uint64_t own = 0;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        AimAtLocked(position);
        if (m_window.empty() && ReadersTurnLocked()) {
            own = IssueLocked();
        } else {
            m_changed.wait(lock, [this] { return !m_window.empty() && m_window.front()->done; });
            slot = std::move(m_window.front());
            m_window.pop_front();
        }
    }
    m_changed.notify_all();  // the pullers' turn
    // The reader's own pull needs no hand-over from another thread.
    if (!slot) return PullBlock(m_remote.in(), own, m_blockAtoms, block, m_name, m_time, m_failures);
    block = slot->block._retn();
    return slot->code;
}

void PullAhead::Run() {
    const i_NET::RemoteSignal_var remote = OwnReference(m_remote.in());
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || MayIssueLocked(); });
        if (m_stop) return;
        auto slot = std::make_shared<Slot>();
        slot->position = IssueLocked();
        m_window.push_back(slot);
        lock.unlock();
        i_NET::Block_var block;
        const SuccessCode_e code = PullBlock(remote.in(), slot->position, m_blockAtoms, block, m_name, m_time, m_failures);
        lock.lock();
        slot->block = block._retn();
        slot->code = code;
        slot->done = true;
        m_changed.notify_all();
    }
}

}  // namespace isig
