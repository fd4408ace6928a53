#include "signal_servant.h"

#include <omniORB4/omniORB.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "corba_values.h"

namespace velnor::server {

namespace {

// A stream pull waits this long for its block before it says "no data yet".
constexpr auto c_pullWait = std::chrono::milliseconds(100);
// Reads wait below the client library's call deadline (10 s).
constexpr auto c_readWait = std::chrono::seconds(8);
// A receiver that does not take a pushed block within this time is dropped.
constexpr CORBA::ULong c_pushTimeoutMs = wire::c_quickDeadline.count();

constexpr CORBA::Long c_modeNow = i_NET::MODE_NOW;
constexpr CORBA::Long c_modeLmt = i_NET::MODE_LMT;
constexpr CORBA::Long c_modePosition = i_NET::MODE_POSITION;
constexpr CORBA::Long c_modeEvent = i_NET::MODE_EVENT;
constexpr CORBA::Long c_modeSingleEvent = i_NET::MODE_SINGLE_EVENT;

bool IsDod(const SignalInfo& info) { return info.access == SignalInfo::Access::Dod; }

std::uint32_t ServedBlockAtoms(const SignalInfo& info, std::uint32_t atomBytes) {
    if (IsDod(info) || atomBytes == 0) return 0;
    const std::uint64_t fit = (wire::c_maxMessageBytes - c_messageHeadroom) / atomBytes;
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(info.block, fit)));
}

std::uint64_t StreamBufferAtoms(const SignalInfo& info, std::uint32_t blockAtoms) {
    const auto perSecond = static_cast<std::uint64_t>(info.rate * 2);
    return std::max<std::uint64_t>(std::uint64_t{blockAtoms} * 256, perSecond);
}

// start + delta within [0, 2^64), else false.
bool Offset(std::uint64_t start, std::int64_t delta, std::uint64_t& result) {
    if (delta >= 0) {
        const auto up = static_cast<std::uint64_t>(delta);
        if (start > std::numeric_limits<std::uint64_t>::max() - up) return false;
        result = start + up;
        return true;
    }
    const std::uint64_t down = static_cast<std::uint64_t>(-(delta + 1)) + 1;
    if (down > start) return false;
    result = start - down;
    return true;
}

}  // namespace

struct SignalServant::Registration {
    i_NET::SignalReceiver_var receiver;
    CORBA::Long mode = c_modeNow;
    std::uint64_t size = 0;
    std::int64_t offset = 0;
    std::uint32_t depth = 0;
    bool cancelled = false;  // unregistered, dropped or stopped
    std::deque<EventMark> events;  // Event mode: marks not yet pushed
    std::thread pusher;
};

std::string SignalObjectKey(const Tree& tree, const Node& node) {
    return wire::SignalKey(node.root != Root::Application, tree.DottedPath(node));
}

SignalServant::SignalServant(const Tree& tree, const Node& node)
    : m_name(tree.DottedPath(node)),
      m_info(*node.signal),
      m_generator(m_info),
      m_blockAtoms(ServedBlockAtoms(m_info, m_generator.AtomBytes())),
      m_streamBuffer(StreamBufferAtoms(m_info, m_blockAtoms)),
      m_start(Clock::now()),
      m_onDemand(IsDod(m_info) ? m_info.history : 0) {
    if (IsDod(m_info)) m_trigger = std::thread([this] { RunTrigger(); });
}

SignalServant::~SignalServant() { Stop(); }

void SignalServant::Stop() {
    std::vector<RegistrationPtr> all;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
        for (const RegistrationPtr& registration : m_registrations) registration->cancelled = true;
        all = std::move(m_registrations);
        m_registrations.clear();
        all.insert(all.end(), m_retired.begin(), m_retired.end());
        m_retired.clear();
    }
    m_changed.notify_all();
    if (m_trigger.joinable()) m_trigger.join();
    for (const RegistrationPtr& registration : all)
        if (registration->pusher.joinable()) registration->pusher.join();
}

i_NET::SignalInfo* SignalServant::GetInfo() {
    auto* info = new i_NET::SignalInfo;
    info->name = m_name.c_str();
    info->atomType = static_cast<i_NET::AtomTypeCode>(m_generator.Type());
    info->components.length(static_cast<CORBA::ULong>(m_info.components.size()));
    for (CORBA::ULong i = 0; i < m_info.components.size(); ++i) info->components[i] = m_info.components[i].c_str();
    info->accessType = IsDod(m_info) ? i_NET::ACCESS_DOD : i_NET::ACCESS_STREAM;
    info->blockSize = m_blockAtoms;
    return info;
}

std::uint64_t SignalServant::Produced() const {
    if (m_info.rate <= 0) return m_onDemand.load();
    const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    const std::uint64_t base = IsDod(m_info) ? m_info.history : 0;
    return base + static_cast<std::uint64_t>(seconds * m_info.rate);
}

void SignalServant::Demand(std::uint64_t end) {
    if (m_info.rate > 0) return;
    std::uint64_t produced = m_onDemand.load();
    while (produced < end && !m_onDemand.compare_exchange_weak(produced, end)) {
    }
}

bool SignalServant::Ended(const Registration* registration) const {
    return m_stop || (registration && registration->cancelled);
}

bool SignalServant::WaitProduced(std::unique_lock<std::mutex>& lock, std::uint64_t end, Clock::time_point deadline,
                                 const Registration* registration) {
    for (;;) {
        if (Ended(registration)) return false;
        const std::uint64_t produced = Produced();
        if (produced >= end) return true;
        const auto now = Clock::now();
        if (now >= deadline) return false;
        // Rate 0 never gets here: Demand produced the atoms already.
        const double seconds = static_cast<double>(end - produced) / m_info.rate;
        const auto due = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                   std::min(seconds, 1.0)));
        m_changed.wait_until(lock, std::min(due, deadline));
    }
}

bool SignalServant::FitsOneMessage(std::uint64_t atoms) const {
    const std::uint64_t atomBytes = m_generator.AtomBytes();
    return atomBytes > 0 && atoms <= (wire::c_maxMessageBytes - c_messageHeadroom) / atomBytes;
}

bool SignalServant::LmtFits(std::uint64_t start, std::uint64_t atoms) const {
    const std::uint64_t step = std::max<std::uint64_t>(m_info.lmtStep, 1);
    const std::uint64_t last = atoms == 0 ? start : start + (atoms - 1);
    return last >= start && last <= std::numeric_limits<std::uint64_t>::max() / step;
}

void SignalServant::FillBlock(i_NET::Block& block, std::uint64_t start, std::uint64_t atoms,
                              std::int64_t event) const {
    // Fill or fail: a block is never sent with bytes or metadata it could
    // not give (the callers check these already; this is the last guard).
    if (!FitsOneMessage(atoms)) throw CORBA::IMP_LIMIT(0, CORBA::COMPLETED_NO);
    if (!LmtFits(start, atoms)) throw CORBA::BAD_PARAM(0, CORBA::COMPLETED_NO);
    block.info.atomType = static_cast<i_NET::AtomTypeCode>(m_generator.Type());
    block.info.components = m_generator.Components();
    block.info.atomCount = atoms;
    block.info.lmt = start * std::max<std::uint64_t>(m_info.lmtStep, 1);
    block.info.position = start;
    block.info.event = event;
    const auto bytes = static_cast<CORBA::ULong>(atoms * m_generator.AtomBytes());
    if (const unsigned char* slice = bytes > 0 ? m_generator.Slice(start, atoms) : nullptr) {
        // Sent straight from the generator's table, which lives as long as
        // this servant; the ORB only reads the octets it marshals.
        block.data.replace(bytes, bytes, const_cast<CORBA::Octet*>(slice), false);
        return;
    }
    block.data.length(bytes);
    if (bytes > 0) m_generator.Fill(start, atoms, block.data.get_buffer());
}

CORBA::Long SignalServant::Pull(CORBA::ULongLong position, CORBA::ULong maxAtoms, i_NET::Block_out b) {
    b = new i_NET::Block;
    // An answer without atoms still says where: "no data yet" names the
    // position to ask for next.
    FillBlock(*b.ptr(), 0, 0, -1);
    const std::uint64_t atoms = std::min<std::uint64_t>(maxAtoms, m_blockAtoms);
    if (IsDod(m_info) || atoms == 0) return i_NET::SIG_FAILED;
    std::uint64_t start = position;
    const std::uint64_t produced = Produced();
    // The newest: the block in production, the next one to be complete.
    if (position == i_NET::POSITION_NEWEST) start = m_info.rate > 0 ? produced / m_blockAtoms * m_blockAtoms : produced;
    const std::uint64_t oldest = produced > m_streamBuffer ? produced - m_streamBuffer : 0;
    start = std::max(start, oldest);  // a puller that fell behind sees the gap in the position
    if (start > std::numeric_limits<std::uint64_t>::max() - atoms) return i_NET::SIG_FAILED;
    const std::uint64_t end = start + atoms;
    Demand(end);
    if (Produced() < end) {
        // A block slower than the wait is asked for again at the same
        // position, however long it takes: no call waits long.
        std::unique_lock<std::mutex> lock(m_lock);
        if (!WaitProduced(lock, end, Clock::now() + c_pullWait, nullptr)) {
            lock.unlock();
            FillBlock(*b.ptr(), start, 0, -1);
            return i_NET::SIG_NO_DATA;
        }
    }
    // Filled in place: assigning a new block to `b` would leak the one
    // given to it at entry (an out argument does not free what it holds).
    FillBlock(*b.ptr(), start, atoms, -1);
    return i_NET::SIG_OK;
}

SignalServant::RegistrationPtr SignalServant::FindLocked(i_NET::SignalReceiver_ptr receiver) const {
    if (CORBA::is_nil(receiver)) return nullptr;
    for (const RegistrationPtr& registration : m_registrations)
        if (registration->receiver->_is_equivalent(receiver)) return registration;
    return nullptr;
}

CORBA::Long SignalServant::RegisterReceiver(i_NET::SignalReceiver_ptr receiver, CORBA::Long mode,
                                            CORBA::ULongLong size, CORBA::LongLong offset, CORBA::ULong depth) {
    JoinRetired();
    const bool knownMode = mode >= c_modeNow && mode <= c_modeSingleEvent;
    if (!IsDod(m_info) || !knownMode || CORBA::is_nil(receiver)) return i_NET::SIG_FAILED;
    if (size == 0 || size > m_info.history) return i_NET::SIG_FAILED;
    // As for texts of the registry: a block that cannot travel in one
    // message is the ORB's implementation limit.
    if (!FitsOneMessage(size)) throw CORBA::IMP_LIMIT(0, CORBA::COMPLETED_NO);
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_stop) return i_NET::SIG_CANCELLED;
    if (const RegistrationPtr known = FindLocked(receiver)) {
        if (known->mode != mode) return i_NET::SIG_OTHER_MODE;
        known->size = size;
        known->offset = offset;
        return i_NET::SIG_OK;
    }
    auto registration = std::make_shared<Registration>();
    registration->receiver = i_NET::SignalReceiver::_duplicate(receiver);
    omniORB::setClientCallTimeout(registration->receiver.in(), c_pushTimeoutMs);
    registration->mode = mode;
    registration->size = size;
    registration->offset = offset;
    registration->depth = std::max<CORBA::ULong>(depth, 1);
    if (mode == c_modeEvent) registration->pusher = std::thread([this, registration] { RunPusher(registration); });
    m_registrations.push_back(registration);
    return i_NET::SIG_OK;
}

void SignalServant::UnregisterReceiver(i_NET::SignalReceiver_ptr receiver) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const RegistrationPtr registration = FindLocked(receiver);
        if (!registration) return;
        registration->cancelled = true;
        m_registrations.erase(std::remove(m_registrations.begin(), m_registrations.end(), registration),
                              m_registrations.end());
        if (registration->pusher.joinable() && !m_stop) m_retired.push_back(registration);
    }
    m_changed.notify_all();
}

void SignalServant::JoinRetired() {
    std::vector<RegistrationPtr> retired;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        retired.swap(m_retired);
    }
    for (const RegistrationPtr& registration : retired)
        if (registration->pusher.joinable()) registration->pusher.join();
}

CORBA::Long SignalServant::Read(i_NET::SignalReceiver_ptr receiver, CORBA::ULongLong lmt, CORBA::LongLong offset,
                                CORBA::ULongLong size, i_NET::Block_out b) {
    b = new i_NET::Block;
    b->info.event = -1;
    std::unique_lock<std::mutex> lock(m_lock);
    const RegistrationPtr registration = FindLocked(receiver);
    if (!registration || m_stop) return i_NET::SIG_CANCELLED;
    const std::uint64_t atoms = std::min<std::uint64_t>(size, registration->size);
    if (atoms == 0 || registration->mode == c_modeEvent) return i_NET::SIG_FAILED;
    return ReadLocked(lock, registration, lmt, offset, atoms, b);
}

bool SignalServant::StartOf(const Registration& registration, std::uint64_t lmt, std::int64_t offset,
                            std::uint64_t atoms, std::uint64_t& start) const {
    switch (registration.mode) {
        case c_modeNow: {
            const std::uint64_t produced = Produced();
            return produced >= atoms && Offset(produced - atoms, offset, start);
        }
        case c_modeLmt: {
            const std::uint64_t step = std::max<std::uint64_t>(m_info.lmtStep, 1);
            return Offset(lmt / step + (lmt % step != 0 ? 1 : 0), offset, start);
        }
        case c_modePosition:
            return Offset(0, offset, start);
        default:
            return false;
    }
}

CORBA::Long SignalServant::ReadLocked(std::unique_lock<std::mutex>& lock, const RegistrationPtr& registration,
                                      std::uint64_t lmt, std::int64_t offset, std::uint64_t atoms,
                                      i_NET::Block_out b) {
    std::uint64_t start = 0;
    std::int64_t event = -1;
    if (registration->mode == c_modeSingleEvent) {
        EventMark mark{};
        if (!WaitForEvent(lock, *registration, mark)) return Ended(registration.get()) ? i_NET::SIG_CANCELLED : i_NET::SIG_NO_DATA;
        if (!Offset(mark.trigger, offset, start)) return i_NET::SIG_FAILED;
        event = mark.event;
    } else if (!StartOf(*registration, lmt, offset, atoms, start)) {
        return i_NET::SIG_FAILED;
    }
    const std::uint64_t produced = Produced();
    const std::uint64_t oldest = produced > m_info.history ? produced - m_info.history : 0;
    if (start < oldest || start > std::numeric_limits<std::uint64_t>::max() - atoms || !LmtFits(start, atoms))
        return i_NET::SIG_FAILED;
    const std::uint64_t end = start + atoms;
    Demand(end);
    if (!WaitProduced(lock, end, Clock::now() + c_readWait, registration.get()))
        return Ended(registration.get()) ? i_NET::SIG_CANCELLED : i_NET::SIG_NO_DATA;
    lock.unlock();
    FillBlock(*b.ptr(), start, atoms, event);
    return i_NET::SIG_OK;
}

bool SignalServant::WaitForEvent(std::unique_lock<std::mutex>& lock, const Registration& registration,
                                 EventMark& mark) {
    const std::int64_t before = m_event;
    const auto deadline = Clock::now() + c_readWait;
    const bool fired = m_changed.wait_until(lock, deadline, [&] { return Ended(&registration) || m_event != before; });
    if (!fired || Ended(&registration)) return false;
    mark = EventMark{m_event, m_lastTrigger};
    return true;
}

void SignalServant::RunTrigger() {
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_info.trigger));
    auto next = m_start + period;
    std::unique_lock<std::mutex> lock(m_lock);
    while (!m_stop) {
        if (m_changed.wait_until(lock, next, [this] { return m_stop; })) return;
        FireEvent();
        next += period;
        // A server that was held up (suspended, overloaded) does not fire a
        // burst of late events.
        if (next < Clock::now()) next = Clock::now() + period;
    }
}

// With m_lock held.
void SignalServant::FireEvent() {
    ++m_event;
    m_lastTrigger = Produced();
    for (const RegistrationPtr& registration : m_registrations) {
        if (registration->mode != c_modeEvent) continue;
        // A receiver that is behind by its whole depth misses events.
        if (registration->events.size() < registration->depth)
            registration->events.push_back(EventMark{m_event, m_lastTrigger});
        // Rate 0: the event's block is produced now, so that the next event
        // marks the atom after it whenever the pusher gets to run.
        std::uint64_t start = 0;
        if (Offset(m_lastTrigger, registration->offset, start) &&
            start <= std::numeric_limits<std::uint64_t>::max() - registration->size)
            Demand(start + registration->size);
    }
    m_changed.notify_all();
}

void SignalServant::RunPusher(const RegistrationPtr& registration) {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_changed.wait(lock, [&] { return Ended(registration.get()) || !registration->events.empty(); });
        if (Ended(registration.get())) break;
        const EventMark mark = registration->events.front();
        registration->events.pop_front();
        if (!PushEvent(registration, mark, lock)) return;  // dropped: nobody to tell
    }
    const bool unregistered = registration->cancelled && !m_stop;
    lock.unlock();
    if (!unregistered) return;
    // Tells the client's receiver that its event wait is over.
    try {
        registration->receiver->Cancel(i_NET::SIG_CANCELLED);
    } catch (const CORBA::Exception&) {
        // The client went away already.
    }
}

// With `lock` on m_lock; false when the receiver is gone or dropped.
bool SignalServant::PushEvent(const RegistrationPtr& registration, const EventMark& mark,
                              std::unique_lock<std::mutex>& lock) {
    std::uint64_t start = 0;
    const std::uint64_t atoms = registration->size;
    if (!Offset(mark.trigger, registration->offset, start) || start > std::numeric_limits<std::uint64_t>::max() - atoms ||
        !LmtFits(start, atoms))
        return true;  // this event's block lies outside the signal; the next may not
    const std::uint64_t produced = Produced();
    if (produced > m_info.history && start < produced - m_info.history) return true;
    Demand(start + atoms);
    if (!WaitProduced(lock, start + atoms, Clock::time_point::max(), registration.get())) return false;
    lock.unlock();
    bool delivered = true;
    try {
        i_NET::Block_var block = new i_NET::Block;
        FillBlock(block.inout(), start, atoms, mark.event);
        registration->receiver->Push(block.in());
    } catch (const CORBA::Exception&) {
        delivered = false;
    }
    lock.lock();
    if (!delivered) {
        // A receiver whose push failed is dropped.
        registration->cancelled = true;
        m_registrations.erase(std::remove(m_registrations.begin(), m_registrations.end(), registration),
                              m_registrations.end());
        // After Stop, Stop itself joins this pusher.
        if (!m_stop) m_retired.push_back(registration);
    }
    return delivered;
}

void SignalServants::Activate(PortableServer::POA_ptr poa, const Tree& tree) {
    for (const Node& node : tree.nodes) {
        if (!node.signal) continue;
        PortableServer::Servant_var<SignalServant> servant(new SignalServant(tree, node));
        PortableServer::ObjectId_var id = PortableServer::string_to_ObjectId(SignalObjectKey(tree, node).c_str());
        poa->activate_object_with_id(id, servant.in());
        m_servants.push_back(servant);
    }
}

void SignalServants::Stop() {
    for (auto& servant : m_servants) servant->Stop();
}

}  // namespace velnor::server
