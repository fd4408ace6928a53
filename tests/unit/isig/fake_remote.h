#pragma once
// An in-process remote signal servant for the tests of the CORBA side of
// the library. Atoms of a block are doubles of two components: atom i of a
// block read with LMT l has the elements l + i and -(l + i).
#include <omniORB4/CORBA.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "idl/signal.hh"

namespace isig::test {

class FakeRemoteSignal : public POA_i_NET::RemoteSignal {
public:
    FakeRemoteSignal(CORBA::Short atomType, CORBA::Short accessType, std::vector<std::string> components)
        : m_atomType(atomType), m_accessType(accessType), m_components(std::move(components)) {}

    i_NET::SignalInfo* GetInfo() override {
        auto* info = new i_NET::SignalInfo;
        info->name = "test.signal";
        info->atomType = m_atomType;
        info->accessType = m_accessType;
        info->blockSize = 3;
        info->components.length(static_cast<CORBA::ULong>(m_components.size()));
        for (CORBA::ULong i = 0; i < m_components.size(); ++i) info->components[i] = m_components[i].c_str();
        return info;
    }

    // Streams: three atoms per block from `position`, up to position 6;
    // then nothing, or a failure once FailPulls was called.
    CORBA::Long Pull(CORBA::ULongLong position, CORBA::ULong maxAtoms, i_NET::Block_out b) override {
        const CORBA::ULongLong start = position == i_NET::POSITION_NEWEST ? 0 : position;
        if (start >= 6) {
            if (m_failPulls) throw CORBA::TRANSIENT();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            b = new i_NET::Block;
            return i_NET::SIG_NO_DATA;
        }
        b = MakeBlock(start * 100, start, maxAtoms < 3 ? maxAtoms : 3, -1);
        return 0;
    }

    CORBA::Long RegisterReceiver(i_NET::SignalReceiver_ptr receiver, CORBA::Long mode, CORBA::ULongLong size,
                                 CORBA::LongLong offset, CORBA::ULong depth) override {
        std::lock_guard<std::mutex> lock(m_lock);
        if (size == 0) return i_NET::SIG_FAILED;
        if (!CORBA::is_nil(m_receiver)) return m_mode == mode ? i_NET::SIG_OK : i_NET::SIG_OTHER_MODE;
        m_receiver = i_NET::SignalReceiver::_duplicate(receiver);
        m_mode = mode;
        m_offset = offset;
        m_depth = depth;
        m_cancelled = false;
        ++m_registrations;
        return i_NET::SIG_OK;
    }

    void UnregisterReceiver(i_NET::SignalReceiver_ptr receiver) override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (CORBA::is_nil(m_receiver) || !m_receiver->_is_equivalent(receiver)) return;
            m_receiver = i_NET::SignalReceiver::_nil();
            m_cancelled = true;
            ++m_unregistrations;
        }
        m_changed.notify_all();
    }

    // SingleEvent waits for FireEvent or the unregistration.
    CORBA::Long Read(i_NET::SignalReceiver_ptr receiver, CORBA::ULongLong lmt, CORBA::LongLong offset,
                     CORBA::ULongLong size, i_NET::Block_out b) override {
        std::unique_lock<std::mutex> lock(m_lock);
        if (CORBA::is_nil(m_receiver) || !m_receiver->_is_equivalent(receiver)) return i_NET::SIG_CANCELLED;
        m_lastOffset = offset;
        if (m_mode == i_NET::MODE_SINGLE_EVENT) {
            ++m_waiting;
            m_changed.notify_all();
            const long events = m_events;
            m_changed.wait(lock, [&] { return m_cancelled || m_events != events; });
            --m_waiting;
            if (m_cancelled) return i_NET::SIG_CANCELLED;
        }
        b = MakeBlock(lmt, lmt, size < 3 ? size : 3, m_events);
        return i_NET::SIG_OK;
    }

    // Pushes one block to the registered receiver (Event mode) and ends SingleEvent waits.
    void FireEvent(CORBA::ULongLong lmt) {
        i_NET::SignalReceiver_var receiver;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            ++m_events;
            if (m_mode == i_NET::MODE_EVENT) receiver = i_NET::SignalReceiver::_duplicate(m_receiver);
        }
        m_changed.notify_all();
        if (!CORBA::is_nil(receiver)) {
            i_NET::Block_var block = MakeBlock(lmt, lmt, 2, m_events);
            receiver->Push(block.in());
        }
    }

    void CancelReceiver(CORBA::Long code) {
        i_NET::SignalReceiver_var receiver;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            receiver = i_NET::SignalReceiver::_duplicate(m_receiver);
        }
        if (!CORBA::is_nil(receiver)) receiver->Cancel(code);
    }

    void FailPulls() { m_failPulls = true; }

    bool WaitForReader() {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_waiting > 0; });
    }

    int Registrations() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_registrations;
    }
    int Unregistrations() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_unregistrations;
    }
    CORBA::ULong Depth() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_depth;
    }

    static i_NET::Block* MakeBlock(CORBA::ULongLong lmt, CORBA::ULongLong position, CORBA::ULongLong atoms,
                                   long event) {
        auto* block = new i_NET::Block;
        block->info.atomType = 1;
        block->info.components = 2;
        block->info.atomCount = atoms;
        block->info.lmt = lmt;
        block->info.position = position;
        block->info.event = event;
        std::vector<double> values;
        for (CORBA::ULongLong i = 0; i < atoms; ++i) {
            values.push_back(static_cast<double>(lmt + i));
            values.push_back(-static_cast<double>(lmt + i));
        }
        block->data.length(static_cast<CORBA::ULong>(values.size() * sizeof(double)));
        if (!values.empty()) std::memcpy(block->data.get_buffer(), values.data(), values.size() * sizeof(double));
        return block;
    }

private:
    const CORBA::Short m_atomType;
    const CORBA::Short m_accessType;
    const std::vector<std::string> m_components;

    std::mutex m_lock;
    std::condition_variable m_changed;
    i_NET::SignalReceiver_var m_receiver;
    CORBA::Long m_mode = 0;
    CORBA::LongLong m_offset = 0;
    CORBA::LongLong m_lastOffset = 0;
    CORBA::ULong m_depth = 0;
    bool m_cancelled = false;
    long m_events = 0;
    int m_waiting = 0;
    int m_registrations = 0;
    int m_unregistrations = 0;
    std::atomic<bool> m_failPulls{false};
};

}  // namespace isig::test
