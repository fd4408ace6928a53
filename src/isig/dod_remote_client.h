#ifndef VELNOR_ISIG_DOD_REMOTE_CLIENT_H
#define VELNOR_ISIG_DOD_REMOTE_CLIENT_H
// The data-on-demand client of a remote signal. It registers its receiver
// servant with the remote signal on Open and reads block after block:
// through the remote Read call, or in Event mode from its queue, which the
// servant fills with the blocks the server pushes. A server that went away
// pushes nothing, so an Event wait asks the server now and then whether the
// registration still stands, and ends with eRemoteFailed when it does not.
//
// Close may come from another thread (the interrupt handler) at any time.
// It ends every wait: a remote read through the unregistration, an Event
// wait through the queue. A client that was closed stays closed, also when
// Close came before Open.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "isig/dod_client_base.h"
#include "isig/failure.h"
#include "isig/remote.h"

namespace isig {

template <class TRAITS>
class DodRemoteClient : public DodClientBase<TRAITS>, public SignalDispatchBase {
public:
    using Source_t = DataOnDemandRemoteSource<TRAITS>;
    using Buffer = typename DodClientBase<TRAITS>::Buffer;
    using Element_t = typename TRAITS::Element_t;

    // The value passed as the last argument of RegisterReceiver.
    static constexpr CORBA::ULong c_registration = 256;

    DodRemoteClient(const std::shared_ptr<Source_t>& source, std::string name, const TRAITS& traits)
        : DodClientBase<TRAITS>(std::move(name), traits), m_source(source) {
        m_servant = i_SignalReceiver_impl::Create(this);
        try {
            m_receiver = m_servant->Reference();
        } catch (...) {
            i_SignalReceiver_impl::Destroy(m_servant);
            throw;
        }
    }

    ~DodRemoteClient() override {
        Close();
        i_NET::SignalReceiver_var receiver;
        {
            std::lock_guard<std::mutex> lock(m_remoteLock);
            receiver = m_receiver._retn();
        }
        // Outside the remote lock: a Cancel still running on a CORBA thread
        // may need the state lock, and Destroy waits for it to end.
        i_SignalReceiver_impl::Destroy(m_servant);
    }

    using DodClientBase<TRAITS>::Open;
    using DodClientBase<TRAITS>::Read;
    using SignalDispatchBase::Dispatch;

    SuccessCode_e Open(AccessMode_e mode, std::size_t size, std::int64_t offset) override {
        ISIG_TRACE_FNC();
        std::lock_guard<std::recursive_mutex> lock(m_stateLock);
        if (m_open) return mode == m_mode ? eSuccess : eOtherMode;
        if (m_closed) return eClosed;
        if (this->m_traits.GetComponents() == 0) return eFailure;
        const std::shared_ptr<Source_t> source = m_source.lock();
        if (!source) {
            Close();
            return eClosed;
        }
        i_NET::RemoteSignal_var remote = i_NET::RemoteSignal::_duplicate(source->GetRemote());
        if (CORBA::is_nil(remote)) {
            ISIG_TRACE(1, "isig: Internal error: DOD source doesn't have reference to remote signal.");
            return eFailure;
        }
        this->m_queue.Reset();
        const CORBA::Long code = remote->RegisterReceiver(m_receiver.in(), static_cast<CORBA::Long>(mode),
                                                          static_cast<CORBA::ULongLong>(size),
                                                          static_cast<CORBA::LongLong>(offset), c_registration);
        if (code != eSuccess) return ToSuccessCode(code);
        {
            std::lock_guard<std::mutex> remoteLock(m_remoteLock);
            m_remote = remote._retn();
        }
        m_mode = mode;
        m_offset = offset;
        m_open = true;
        source->AddClient(this);
        return eSuccess;
    }

    // One block into `buffer`, sized beforehand to the atoms wanted.
    SuccessCode_e Read(Buffer& buffer, SignalMeta& meta, std::uint64_t lmt) {
        if (!m_open) return eClosed;
        const std::shared_ptr<Source_t> source = m_source.lock();
        if (!source) {
            Close();
            return eClosed;
        }
        if (m_mode == eEvent) return ReadEvent(buffer, meta, source->GetCallDeadline());
        i_NET::RemoteSignal_var remote = DuplicateRemote();
        if (CORBA::is_nil(remote)) return eClosed;
        SuccessCode_e code = ReadRemote(remote.in(), buffer, meta, lmt);
        if (code == eSuccess) source->CountRead(buffer.GetAtomCount());
        // The server cancels a registration it does not know (it was
        // restarted) or drops (it stops). Closed here, it is an interrupt;
        // otherwise the server was lost, as for an Event read.
        if (code == eClosed && !m_closed) {
            ISIG_TRACE(2, this->m_name << ": The server no longer knows this receiver.");
            code = eRemoteFailed;
        }
        return code;
    }

    void Close() override {
        ISIG_TRACE_FNC();
        std::unique_lock<std::recursive_mutex> lock(m_stateLock);
        m_closed = true;
        this->m_queue.Cancel(eClosed);  // ends an Event wait
        if (!m_open) return;
        m_open = false;
        if (const std::shared_ptr<Source_t> source = m_source.lock()) source->RemoveClient(this);
        i_NET::RemoteSignal_var remote;
        {
            std::lock_guard<std::mutex> remoteLock(m_remoteLock);
            remote = m_remote._retn();
        }
        if (CORBA::is_nil(remote)) {
            ISIG_TRACE(1, "isig: Missing remote signal reference.");
            return;
        }
        lock.unlock();
        if (!m_unreachable) Unregister(remote.in());
    }

    bool IsOpen() const override { return m_open; }

    // Why the last remote call that failed did (eNone while none did).
    RemoteFailure_e LastFailure() const { return m_failures.Last(); }

    // How long an Event read waits for a block before it gives eNoData;
    // 0: as long as the server keeps the registration.
    void SetTimeout(std::uint64_t milliseconds) { m_timeoutMs = milliseconds; }

    void Cancel(SuccessCode_e code) override {
        ISIG_TRACE_FNC();
        if (m_mode == eEvent)
            this->m_queue.Cancel(code);
        else
            Close();
    }

    SuccessCode_e Dispatch(const Element_t* data, std::uint64_t elements, const SignalMeta& meta) override {
        const std::uint32_t components = this->m_traits.GetComponents();
        if (components == 0 || elements % components != 0) return eFailure;
        const std::uint64_t atoms = elements / components;
        if (atoms > std::numeric_limits<std::uint32_t>::max()) return eFailure;
        auto block = std::make_shared<MetaBufferPair<TRAITS>>(
            Buffer::CopyOf(this->m_traits, data, static_cast<std::uint32_t>(atoms)), meta);
        return this->m_queue.Push(block);
    }

private:
    using Clock = std::chrono::steady_clock;

    // A wait for a pushed block, in slices of half the call deadline with a
    // check of the registration after each.
    SuccessCode_e ReadEvent(Buffer& buffer, SignalMeta& meta, std::chrono::milliseconds callDeadline) {
        const std::uint64_t timeoutMs = m_timeoutMs;
        const Clock::time_point giveUp =
            timeoutMs == 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
        const Clock::duration slice = std::max<Clock::duration>(callDeadline / 2, std::chrono::milliseconds(1));
        for (;;) {
            const Clock::time_point now = Clock::now();
            const Clock::time_point until = giveUp - now > slice ? now + slice : giveUp;
            const SuccessCode_e code = this->m_queue.PopUntil(buffer, meta, until);
            if (code != eNoData || Clock::now() >= giveUp) return code;
            const SuccessCode_e registered = CheckRegistration();
            if (registered != eSuccess) return registered;
        }
    }

    // eSuccess while the server keeps this client's Event registration. In
    // that mode the server answers a Read at once, without a block; it
    // answers SIG_CANCELLED when it no longer knows the receiver (it was
    // restarted, or dropped the receiver).
    SuccessCode_e CheckRegistration() {
        i_NET::RemoteSignal_var remote = DuplicateRemote();
        if (CORBA::is_nil(remote) || !m_open) return eClosed;
        CORBA::Long code = i_NET::SIG_CANCELLED;
        try {
            i_NET::Block_var block;
            code = remote->Read(m_receiver.in(), 0, 0, 1, block.out());
        } catch (const CORBA::Exception& e) {
            ISIG_TRACE(2, this->m_name << ": Can't access remote signal: " << e._name());
            m_failures.Note(ClassifyCurrentFailure());
            // Not asked again to unregister: it would not answer either.
            m_unreachable = true;
            return m_open ? eRemoteFailed : eClosed;
        }
        if (!m_open) return eClosed;  // closed meanwhile: the unregistration answered
        if (code != i_NET::SIG_CANCELLED) return eSuccess;
        ISIG_TRACE(2, this->m_name << ": The server no longer knows this receiver.");
        return eRemoteFailed;
    }

    i_NET::RemoteSignal_ptr DuplicateRemote() {
        std::lock_guard<std::mutex> lock(m_remoteLock);
        return i_NET::RemoteSignal::_duplicate(m_remote.in());
    }

    SuccessCode_e ReadRemote(i_NET::RemoteSignal_ptr remote, Buffer& buffer, SignalMeta& meta, std::uint64_t lmt) {
        const std::uint32_t components = this->m_traits.GetComponents();
        std::uint64_t elementsRead = 0;
        SuccessCode_e code = eFailure;
        try {
            code = ReadDodRemote(remote, m_receiver.in(), lmt, m_offset, components, buffer.Data(),
                                 buffer.ElementCount(), meta, elementsRead);
        } catch (const CORBA::SystemException& e) {
            ISIG_TRACE(3, "Can't access remote signal: " << e._name() << " (minor " << e.minor() << ")");
            m_failures.Note(ClassifyCurrentFailure());
            return eRemoteFailed;
        } catch (const CORBA::Exception& e) {
            ISIG_TRACE(3, "Can't access remote signal: " << e._name());
            m_failures.Note(RemoteFailure_e::eOther);
            return eRemoteFailed;
        } catch (const std::exception& e) {
            ISIG_TRACE(3, "Can't access remote signal: " << e.what());
            return eRemoteFailed;
        } catch (...) {
            ISIG_TRACE(3, "Can't access remote signal: unknown error.");
            return eRemoteFailed;
        }
        if (code == eSuccess) buffer.Resize(static_cast<std::uint32_t>(elementsRead / components));
        return code;
    }

    void Unregister(i_NET::RemoteSignal_ptr remote) {
        try {
            remote->UnregisterReceiver(m_receiver.in());
        } catch (const CORBA::Exception& e) {
            ISIG_TRACE(2, "Can't access remote signal: " << e._name());
        } catch (...) {
            ISIG_TRACE(2, "Can't access remote signal.");
        }
    }

    std::recursive_mutex m_stateLock;  // serialises Open and Close
    std::mutex m_remoteLock;           // guards m_remote and m_receiver
    i_NET::RemoteSignal_var m_remote;
    i_SignalReceiver_impl* m_servant = nullptr;
    i_NET::SignalReceiver_var m_receiver;
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closed{false};
    std::atomic<AccessMode_e> m_mode{eNow};
    std::atomic<std::int64_t> m_offset{0};
    std::atomic<std::uint64_t> m_timeoutMs{0};
    std::atomic<bool> m_unreachable{false};  // a check of the registration got no answer
    RemoteFailureNote m_failures;
    const std::weak_ptr<Source_t> m_source;
};

}  // namespace isig

#endif
