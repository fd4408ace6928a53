#pragma once
// The CORBA side of the signal library: remote sources, the remote
// data-on-demand read and the receiver servant. Only the tool's signal
// readers include this header; everything else uses the CORBA-free ones.
#include <algorithm>
#include <omniORB4/CORBA.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "idl/signal.hh"
#include "isig/array.h"
#include "isig/client_base.h"
#include "isig/codes.h"
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

// A data-on-demand source. Keeps the remote signal reference and the set
// of its open clients.
template <class TRAITS>
class DataOnDemandRemoteSource : public TypedSignalSource<TRAITS> {
public:
    DataOnDemandRemoteSource(i_NET::RemoteSignal_ptr remote, std::string name, TRAITS traits)
        : TypedSignalSource<TRAITS>(std::move(name), std::move(traits)),
          m_remote(i_NET::RemoteSignal::_duplicate(remote)) {}

    std::int32_t SignalAccessType() const override { return eAccessDod; }
    SignalStatistics GetStatistics() const override {
        return {SignalStatItem{this->GetName(), m_atomsRead.load(), 0, this->GetTraits().GetAtomSize()}};
    }

    // Borrowed; callers duplicate it to keep it.
    i_NET::RemoteSignal_ptr GetRemote() const { return m_remote.in(); }

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
    mutable std::mutex m_clientsLock;  // guards m_clients
    std::set<SignalClientBase*> m_clients;
    std::atomic<std::uint64_t> m_atomsRead{0};
};

// A stream source: the dispatcher takes block after block. After the first
// block (whose position the server chooses) `pullDepth` pulls are kept in
// flight ahead of it (PullAhead) while that proves faster than pulling one
// block at a time (PullDepthChooser); a depth of 1 pulls one block at a time.
template <class TRAITS>
class RemoteStream : public Stream<TRAITS> {
public:
    static constexpr std::uint32_t c_defaultPullDepth = 2;

    RemoteStream(i_NET::RemoteSignal_ptr remote, std::string name, TRAITS traits, std::uint32_t blockSize,
                 std::uint32_t pullDepth = c_defaultPullDepth)
        : Stream<TRAITS>(std::move(name), std::move(traits), eDispatcherThread),
          m_remote(i_NET::RemoteSignal::_duplicate(remote)),
          m_blockSize(blockSize > 0 ? blockSize : 1),
          m_pullDepth(pullDepth > 0 ? pullDepth : 1),
          m_chooser(TrialBlocks(std::uint64_t{m_blockSize} * this->GetTraits().GetAtomSize())) {}
    ~RemoteStream() override { this->Shutdown(); }

    std::uint32_t GetBlockSize() override { return m_blockSize; }

protected:
    void StartSource() override { m_next = i_NET::POSITION_NEWEST; }

    // The pullers end with the dispatcher: none outlives a dispatch.
    void EndSource() override { m_ahead.reset(); }

    SuccessCode_e ReadBlock(Array<TRAITS>& array, SignalMeta& meta) override {
        i_NET::Block_var block;
        const SuccessCode_e code = Fetch(block);
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

    // Trials of some 2 MiB (4 to 32 blocks): long enough to time, short
    // enough that the slower way costs little of a run.
    static std::uint32_t TrialBlocks(std::uint64_t blockBytes) {
        const std::uint64_t blocks = blockBytes > 0 ? (std::uint64_t{2} << 20) / blockBytes : 32;
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
        if (m_next == i_NET::POSITION_NEWEST || m_pullDepth < 2 || !m_chooser.PullAhead(PullDepthChooser::Clock::now()))
            return PullBlock(m_remote.in(), m_next, m_blockSize, block, this->GetName());
        if (!m_ahead) m_ahead = std::make_unique<PullAhead>(m_remote.in(), m_blockSize, m_pullDepth, this->GetName());
        return m_ahead->Take(m_next, block);
    }

    const i_NET::RemoteSignal_var m_remote;
    const std::uint32_t m_blockSize;
    const std::uint32_t m_pullDepth;
    // Dispatcher thread only:
    std::uint64_t m_next = i_NET::POSITION_NEWEST;
    std::unique_ptr<PullAhead> m_ahead;
    PullDepthChooser m_chooser;
};

// Asks the remote signal what it is and builds the fitting source: a
// stream or data-on-demand source of its atom type. A signal whose atom or
// access type the library does not read gives a source that only reports
// those types. CORBA exceptions are left to the caller.
SignalSourceSharedPtr CreateRemoteSignalSource(i_NET::RemoteSignal_ptr remote);

}  // namespace isig
