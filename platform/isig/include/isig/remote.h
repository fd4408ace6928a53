#pragma once
// The CORBA side of the signal library: remote sources, the remote
// data-on-demand read and the receiver servant. Only the tool's signal
// readers include this header; everything else uses the CORBA-free ones.
#include <algorithm>
#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "idl/signal.hh"
#include "isig/array.h"
#include "isig/client_base.h"
#include "isig/codes.h"
#include "isig/failure.h"
#include "isig/isig_trace.h"
#include "isig/pull_ahead.h"
#include "isig/signal_meta.h"
#include "isig/signal_source.h"
#include "isig/signal_traits.h"
#include "isig/stream.h"

namespace isig {

// The metadata that travels with a block.
SignalMeta MetaOf(const i_NET::BlockInfo& info);

// Checks a received block against what the reader expects: atom type,
// component count, octet count (overflow checked) and room in bytes.
// Gives eSuccess or eFailure.
SuccessCode_e CheckBlock(const i_NET::Block& block, std::int32_t atomType, std::uint32_t components,
                         std::uint64_t roomBytes);

// A data-on-demand read (modes other than Event) of the registered
// receiver: at most `room` elements into `buffer`, whose atoms have
// `components` elements of the given atom type. Sets `elementsRead` and
// `meta`. CORBA exceptions are left to the caller.
SuccessCode_e ReadDodRemoteBytes(i_NET::RemoteSignal_ptr remote, i_NET::SignalReceiver_ptr receiver,
                                 std::uint64_t lmt, std::int64_t offset, std::int32_t atomType,
                                 std::uint32_t components, void* buffer, std::uint64_t room, SignalMeta& meta,
                                 std::uint64_t& elementsRead);

template <class T>
SuccessCode_e ReadDodRemote(i_NET::RemoteSignal_ptr remote, i_NET::SignalReceiver_ptr receiver, std::uint64_t lmt,
                            std::int64_t offset, std::uint32_t components, T* buffer, std::uint64_t room,
                            SignalMeta& meta, std::uint64_t& elementsRead) {
    return ReadDodRemoteBytes(remote, receiver, lmt, offset, AtomTypeOf<T>::c_code, components, buffer, room, meta,
                              elementsRead);
}

// The receiver servant: hands blocks pushed by the server to a dispatch
// target, typed by the block's atom type. Destroy detaches the target and
// returns only when no call into it is running any more.
class i_SignalReceiver_impl : public POA_i_NET::SignalReceiver {
public:
    // A servant activated in the ORB's root POA, or an exception.
    static i_SignalReceiver_impl* Create(SignalDispatchBase* target);
    // Deactivates the servant and drops the creator's reference.
    static void Destroy(i_SignalReceiver_impl* servant);

    // A new reference to the activated servant.
    i_NET::SignalReceiver_ptr Reference();

    void Push(const i_NET::Block& block) override;
    void Cancel(CORBA::Long code) override;

private:
    explicit i_SignalReceiver_impl(SignalDispatchBase* target) : m_target(target) {}
    ~i_SignalReceiver_impl() override = default;

    // The target with a running-call count taken, or null once detached.
    SignalDispatchBase* Enter();
    void Leave();
    void Detach();

    std::mutex m_lock;  // guards m_target and m_calls
    std::condition_variable m_idle;
    SignalDispatchBase* m_target;
    int m_calls = 0;
    PortableServer::POA_var m_poa;
    PortableServer::ObjectId_var m_id;
};

// A data-on-demand source. Keeps the remote signal reference (whose calls
// give up after `callDeadline`) and the set of its open clients.
template <class TRAITS>
class DataOnDemandRemoteSource : public TypedSignalSource<TRAITS> {
public:
    DataOnDemandRemoteSource(i_NET::RemoteSignal_ptr remote, std::string name, TRAITS traits,
                             std::chrono::milliseconds callDeadline = c_defaultCallDeadline)
        : TypedSignalSource<TRAITS>(std::move(name), std::move(traits)),
          m_remote(i_NET::RemoteSignal::_duplicate(remote)),
          m_callDeadline(callDeadline) {}

    std::int32_t SignalAccessType() const override { return eAccessDod; }
    SignalStatistics GetStatistics() const override {
        return {SignalStatItem{this->GetName(), m_atomsRead.load(), 0, this->GetTraits().GetAtomSize()}};
    }

    // Borrowed; callers duplicate it to keep it.
    i_NET::RemoteSignal_ptr GetRemote() const { return m_remote.in(); }
    // How long a call through the reference may take.
    std::chrono::milliseconds GetCallDeadline() const { return m_callDeadline; }

    // A share of this source (throws std::bad_weak_ptr when it is not shared).
    std::shared_ptr<DataOnDemandRemoteSource> GetSharedPtr() {
        return std::static_pointer_cast<DataOnDemandRemoteSource>(this->shared_from_this());
    }

    void AddClient(SignalClientBase* client) {
        std::lock_guard<std::mutex> lock(m_clientsLock);
        m_clients.insert(client);
    }
    void RemoveClient(SignalClientBase* client) {
        std::lock_guard<std::mutex> lock(m_clientsLock);
        m_clients.erase(client);
    }
    std::size_t GetOpenClientCount() const {
        std::lock_guard<std::mutex> lock(m_clientsLock);
        return m_clients.size();
    }
    void CountRead(std::uint64_t atoms) { m_atomsRead += atoms; }

private:
    const i_NET::RemoteSignal_var m_remote;
    const std::chrono::milliseconds m_callDeadline;
    mutable std::mutex m_clientsLock;  // guards m_clients
    std::set<SignalClientBase*> m_clients;
    std::atomic<std::uint64_t> m_atomsRead{0};
};

// A stream source: the dispatcher takes block after block. After the first
// block (whose position the server chooses) `pullDepth` pulls are kept in
// flight ahead of it (PullAhead), or blocks are pulled one at a time, over
// the signal's reference or, for blocks of c_bulkBlockBytes and more, over
// `bulk`, another reference to the same signal by another transport (nil
// when there is none): whichever of these ways proves fastest
// (PullWayChooser). A depth of 1 pulls one block at a time. No pull lasts
// beyond the time the readers give up waiting (PullTime): once they have,
// the stream ends their reads with eNoData and stops, so that a reader's
// time-out is kept whatever the server does.
template <class TRAITS>
class RemoteStream : public Stream<TRAITS> {
public:
    static constexpr std::uint32_t c_defaultPullDepth = 2;
    // Up to here the local socket keeps within some 10% of TCP even where
    // TCP is faster (the reader on a processor of its own), and trying TCP
    // costs more than that where it is slower (one shared processor).
    static constexpr std::uint64_t c_bulkBlockBytes = 1024 * 1024;

    RemoteStream(i_NET::RemoteSignal_ptr remote, std::string name, TRAITS traits, std::uint32_t blockSize,
                 std::uint32_t pullDepth = c_defaultPullDepth, i_NET::RemoteSignal_ptr bulk = i_NET::RemoteSignal::_nil(),
                 std::chrono::milliseconds callDeadline = c_defaultCallDeadline)
        : Stream<TRAITS>(std::move(name), std::move(traits), eDispatcherThread),
          m_time(callDeadline, [this] { return this->ReadersGiveUpTime(); }),
          m_blockSize(blockSize > 0 ? blockSize : 1),
          m_pullDepth(pullDepth > 0 ? pullDepth : 1),
          m_trialBlocks(TrialBlocks(BlockBytes())),
          m_remotes(RemotesOf(remote, BlockBytes() >= c_bulkBlockBytes ? bulk : i_NET::RemoteSignal::_nil())),
          m_ways(WaysOf(m_remotes.size(), m_pullDepth)),
          m_ahead(m_remotes.size()),
          m_chooser(static_cast<std::uint32_t>(m_ways.size()), m_trialBlocks, std::chrono::seconds(2),
                    BulkLeadIns(m_ways, m_trialBlocks)) {}
    ~RemoteStream() override { this->Shutdown(); }

    std::uint32_t GetBlockSize() override { return m_blockSize; }

    // Why the last pull that failed did (eNone while none did): the cause
    // behind the eRemoteFailed that ends the readers' reads.
    RemoteFailure_e LastFailure() const { return m_failures.Last(); }

protected:
    void StartSource() override {
        m_next = i_NET::POSITION_NEWEST;
        m_waiting = false;
    }

    // The pullers end with the dispatcher: none outlives a dispatch.
    void EndSource() override {
        for (auto& ahead : m_ahead) ahead.reset();
    }

    SuccessCode_e ReadBlock(Array<TRAITS>& array, SignalMeta& meta) override {
        i_NET::Block_var block;
        const SuccessCode_e code = Fetch(block);
        if (code == eNoData && this->ReadersGiveUpTime() <= PullTime::Clock::now()) {
            ISIG_TRACE(2, this->GetName() << ": No block before the readers' time-out.");
            this->CancelAllClients(eNoData);
            return eNoData;
        }
        m_waiting = code == eNoData;
        // The block the server chose stays the one to wait for; asking for
        // the newest again would chase a block that is never complete.
        if (code == eNoData && m_next == i_NET::POSITION_NEWEST && block->info.atomCount == 0)
            m_next = block->info.position;
        if (code != eSuccess) return code;
        const TRAITS& traits = this->GetTraits();
        const std::uint64_t room = std::uint64_t{m_blockSize} * traits.GetAtomSize();
        if (CheckBlock(block.in(), TRAITS::c_baseEnumType, traits.GetComponents(), room) != eSuccess) return eFailure;
        const i_NET::BlockInfo& info = block->info;
        if (m_next != i_NET::POSITION_NEWEST && info.position > m_next) this->CountLostAtoms(info.position - m_next);
        m_next = info.position + info.atomCount;
        meta = MetaOf(info);
        TakeAtoms(block->data, static_cast<std::uint32_t>(info.atomCount), array);
        return eSuccess;
    }

    bool ProvidesBlockBuffers() const override { return true; }

private:
    using Element_t = typename TRAITS::Element_t;

    struct Way {
        std::size_t remote;  // index into m_remotes
        bool ahead;
    };

    static std::vector<i_NET::RemoteSignal_var> RemotesOf(i_NET::RemoteSignal_ptr remote,
                                                          i_NET::RemoteSignal_ptr bulk) {
        std::vector<i_NET::RemoteSignal_var> remotes;
        remotes.emplace_back(i_NET::RemoteSignal::_duplicate(remote));
        if (!CORBA::is_nil(bulk)) remotes.emplace_back(i_NET::RemoteSignal::_duplicate(bulk));
        return remotes;
    }

    // Way 0, the one kept unless another proves faster: pulling ahead over
    // the bulk reference when there is one, else over the signal's own.
    static std::vector<Way> WaysOf(std::size_t remotes, std::uint32_t pullDepth) {
        std::vector<Way> ways;
        for (std::size_t remote = remotes; remote-- > 0;) {
            if (pullDepth > 1) ways.push_back({remote, true});
            ways.push_back({remote, false});
        }
        return ways;
    }

    // The first trial of a way over the bulk reference begins with another
    // trial's length untimed: its connections are new.
    static std::vector<std::uint32_t> BulkLeadIns(const std::vector<Way>& ways, std::uint32_t trialBlocks) {
        std::vector<std::uint32_t> leadIns;
        for (const Way& way : ways) leadIns.push_back(way.remote > 0 ? trialBlocks : 0);
        return leadIns;
    }

    std::uint64_t BlockBytes() const { return std::uint64_t{m_blockSize} * this->GetTraits().GetAtomSize(); }

    // Trials of some 8 MiB (4 to 32 blocks): long enough to time, short
    // enough that the slower ways cost little of a run.
    static std::uint32_t TrialBlocks(std::uint64_t blockBytes) {
        const std::uint64_t blocks = blockBytes > 0 ? (std::uint64_t{8} << 20) / blockBytes : 32;
        return static_cast<std::uint32_t>(std::clamp<std::uint64_t>(blocks, 4, 32));
    }

    static void FreeOctets(void* octets) { i_NET::OctetSeq::freebuf(static_cast<CORBA::Octet*>(octets)); }

    // The received octets become the block without a copy when the
    // sequence gives up its buffer and that buffer suits the element type.
    void TakeAtoms(i_NET::OctetSeq& data, std::uint32_t atoms, Array<TRAITS>& array) {
        const CORBA::Octet* peek = data.get_buffer();
        if (data.release() && reinterpret_cast<std::uintptr_t>(peek) % alignof(Element_t) == 0) {
            CORBA::Octet* octets = data.get_buffer(true);
            array = Array<TRAITS>::Adopt(this->GetTraits(), reinterpret_cast<Element_t*>(octets), atoms, &FreeOctets);
            return;
        }
        array.Resize(atoms);
        if (data.length() > 0) std::memcpy(array.Data(), peek, data.length());
    }

    SuccessCode_e Fetch(i_NET::Block_var& block) {
        // A block not produced yet is asked for again, one pull at a time:
        // pulls ahead of it would only wait as well.
        if (m_next == i_NET::POSITION_NEWEST || m_waiting)
            return PullBlock(m_remotes.front().in(), m_next, m_blockSize, block, this->GetName(), m_time, &m_failures);
        const Way way = ChooseWay();
        const SuccessCode_e code = PullBy(way, block);
        if (code != eRemoteFailed || way.remote == 0) return code;
        // The signal answered over its own reference: what failed is the
        // other transport (a server listening on another address, a
        // firewall). The stream goes on without it.
        DropBulk();
        return PullBy(ChooseWay(), block);
    }

    Way ChooseWay() {
        const std::uint32_t chosen = m_chooser.Next(PullWayChooser::Clock::now());
        if (chosen != m_way) {
            m_way = chosen;
            ISIG_TRACE(3, this->GetName() << ": pulling " << (m_ways[chosen].ahead ? "ahead" : "one block at a time")
                                          << (m_ways[chosen].remote > 0 ? " over the bulk reference"
                                                                        : " over the signal's reference"));
        }
        return m_ways[chosen];
    }

    SuccessCode_e PullBy(const Way& way, i_NET::Block_var& block) {
        i_NET::RemoteSignal_ptr remote = m_remotes[way.remote].in();
        if (!way.ahead) return PullBlock(remote, m_next, m_blockSize, block, this->GetName(), m_time, &m_failures);
        std::unique_ptr<PullAhead>& ahead = m_ahead[way.remote];
        if (!ahead)
            ahead = std::make_unique<PullAhead>(remote, m_blockSize, m_pullDepth, this->GetName(), m_time, &m_failures);
        return ahead->Take(m_next, block);
    }

    void DropBulk() {
        ISIG_TRACE(2, this->GetName() << ": the bulk reference failed; pulling over the signal's reference only");
        m_ahead.resize(1);  // waits for the bulk pulls in flight
        m_remotes.resize(1);
        m_ways = WaysOf(1, m_pullDepth);
        m_chooser = PullWayChooser(static_cast<std::uint32_t>(m_ways.size()), m_trialBlocks);
        m_way = 0;
    }

    RemoteFailureNote m_failures;  // before the pullers, which note in it
    const PullTime m_time;
    const std::uint32_t m_blockSize;
    const std::uint32_t m_pullDepth;
    const std::uint32_t m_trialBlocks;
    // Dispatcher thread only (after construction):
    std::vector<i_NET::RemoteSignal_var> m_remotes;  // the signal's own reference first
    std::vector<Way> m_ways;
    std::uint64_t m_next = i_NET::POSITION_NEWEST;
    bool m_waiting = false;  // the last pull found its block not produced yet
    std::uint32_t m_way = 0;
    std::vector<std::unique_ptr<PullAhead>> m_ahead;  // by remote, made on first use
    PullWayChooser m_chooser;
};

// Asks the remote signal what it is and builds the fitting source: a
// stream or data-on-demand source of its atom type. A signal whose atom or
// access type the library does not read gives a source that only reports
// those types. A stream may also pull over `bulk`, the same signal by
// another transport (nil for none). `callDeadline` is the call time-out set
// on both references. The source is named `name`, or as the signal names
// itself when `name` is empty. CORBA exceptions are left to the caller.
SignalSourceSharedPtr CreateRemoteSignalSource(i_NET::RemoteSignal_ptr remote,
                                               i_NET::RemoteSignal_ptr bulk = i_NET::RemoteSignal::_nil(),
                                               std::chrono::milliseconds callDeadline = c_defaultCallDeadline,
                                               const std::string& name = std::string());

}  // namespace isig
