#pragma once
// Stream pulls kept in flight ahead of the reader, so that the server
// produces and sends the next blocks while the last one is handed out.
//
// `depth` pulls run at once (the ORB gives each concurrent call a
// connection of its own) for consecutive positions: position, position +
// block, ... The reader makes every depth-th pull itself, so that those
// blocks need no hand-over between threads; depth - 1 puller threads make
// the ones in between, and the reader takes their results in position
// order. A reader that asks for another position than the one predicted
// (the server skipped atoms, had no data yet, or gave a short block) drops
// the pulls in flight and starts again there.
#include <omniORB4/CORBA.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "idl/signal.hh"
#include "isig/codes.h"
#include "isig/failure.h"
#include "velnor/wire.h"

namespace isig {

// How long a call to a remote signal may take unless its source was told
// otherwise (the deadline set on its reference).
constexpr std::chrono::milliseconds c_defaultCallDeadline = velnor::wire::c_callDeadline;

// How long a pull may take: the signal's call deadline, cut short at the
// time the stream's readers give up waiting for a block (no one would take
// a block that came later, and a reader that gives up must not wait for a
// pull to a server that stopped answering).
class PullTime {
public:
    using Clock = std::chrono::steady_clock;
    using GiveUpTime = std::function<Clock::time_point()>;

    explicit PullTime(std::chrono::milliseconds callDeadline = c_defaultCallDeadline, GiveUpTime readersGiveUp = {})
        : m_callDeadline(callDeadline), m_readersGiveUp(std::move(readersGiveUp)) {}

    // The time-out of a pull that starts at `now`: zero when the readers
    // have given up already. `cut` tells whether it ends at their give-up
    // time rather than at the call deadline.
    std::chrono::milliseconds Limit(Clock::time_point now, bool& cut) const;

private:
    std::chrono::milliseconds m_callDeadline;
    GiveUpTime m_readersGiveUp;
};

// Which way of pulling a stream's blocks is fastest, found out by trying.
// Pulls in flight ahead overlap the server's work with the reader's only
// when the two have processors of their own; when they share one, the
// hand-overs between the pulling threads cost more than they give. And the
// local socket moves blocks with the least work in all, but its receiver
// also frees what the sender allocated, which makes large blocks dearer
// on the reader's processor than over TCP. So a stream takes turns: a
// trial of `trialBlocks` blocks for each way in order, then the fastest
// way for `keep` (way 0 unless another was faster by more than the
// measuring noise), then trials again. The first block of a trial is not
// timed: it pays for the change of way.
class PullWayChooser {
public:
    using Clock = std::chrono::steady_clock;

    // The first trial of each way begins with `leadIns[way]` more untimed
    // blocks (none where not given): a new TCP connection is slow until
    // its windows have grown.
    explicit PullWayChooser(std::uint32_t ways, std::uint32_t trialBlocks = 32,
                            Clock::duration keep = std::chrono::seconds(2), std::vector<std::uint32_t> leadIns = {});

    // The way (0 to ways - 1) of the next block; `now` is when the reader
    // asks for it.
    std::uint32_t Next(Clock::time_point now);

private:
    void BeginTrial(std::uint32_t way, Clock::time_point now);
    std::uint32_t Fastest() const;

    std::uint32_t m_trialBlocks;
    Clock::duration m_keep;
    std::vector<std::uint32_t> m_leadIns;  // left for each way's first trial
    bool m_keeping = false;
    std::uint32_t m_way = 0;
    std::uint32_t m_blocks = 0;        // blocks asked for in this trial
    std::uint32_t m_untimed = 1;       // blocks of this trial before the timing starts
    Clock::time_point m_timedFrom{};   // when the first timed block was asked for
    Clock::time_point m_keptSince{};
    std::vector<Clock::duration> m_perBlock;  // of each way's last trial
};

// One Pull within the time `time` gives (set on `remote`, which only the
// calling thread may use): the server's code; eNoData, with a block of no
// atoms at `position`, when the readers have given up before or during the
// pull; eRemoteFailed for a CORBA exception (traced with `name`, and noted
// in `failures` when given).
SuccessCode_e PullBlock(i_NET::RemoteSignal_ptr remote, std::uint64_t position, std::uint32_t atoms,
                        i_NET::Block_var& block, const std::string& name, const PullTime& time = PullTime(),
                        RemoteFailureNote* failures = nullptr);

class PullAhead {
public:
    // Starts the depth - 1 pullers; they pull nothing until the first Take.
    // Every pull keeps within `time`; each puller calls through a reference
    // of its own to the signal, so that its time-out is its own.
    // Failed pulls are noted in `failures` when given.
    PullAhead(i_NET::RemoteSignal_ptr remote, std::uint32_t blockAtoms, std::uint32_t depth, std::string name,
              PullTime time = PullTime(), RemoteFailureNote* failures = nullptr);
    // Waits for the pulls in flight to return and joins the pullers.
    ~PullAhead();
    PullAhead(const PullAhead&) = delete;
    PullAhead& operator=(const PullAhead&) = delete;

    // The result of the pull at `position` (not POSITION_NEWEST), waiting
    // for it. One reader thread only.
    SuccessCode_e Take(std::uint64_t position, i_NET::Block_var& block);

    // Pulls made so far, also dropped ones (for tests and traces).
    std::uint64_t GetPullCount() const;

private:
    struct Slot {
        std::uint64_t position = 0;
        bool done = false;
        SuccessCode_e code = eFailure;
        i_NET::Block_var block;
    };
    using SlotPtr = std::shared_ptr<Slot>;

    void Run();
    void StopAll();
    // With m_lock: unless the next pull is the one at `position`, drops the
    // pulls in flight and continues from `position`.
    void AimAtLocked(std::uint64_t position);
    bool ReadersTurnLocked() const;
    bool MayIssueLocked() const;
    // The position of the next pull; counts it.
    std::uint64_t IssueLocked();

    const i_NET::RemoteSignal_var m_remote;  // the reader's own pulls
    const std::uint32_t m_blockAtoms;
    const std::uint32_t m_depth;
    const std::string m_name;
    const PullTime m_time;
    RemoteFailureNote* const m_failures;

    mutable std::mutex m_lock;  // guards everything below
    std::condition_variable m_changed;
    bool m_stop = false;
    bool m_issuing = false;           // m_issue is the position of the next pull
    std::uint64_t m_issue = 0;
    std::uint64_t m_sequence = 0;     // pulls issued since the reader (re)started
    std::deque<SlotPtr> m_window;     // the pullers' pulls in position order, in flight or done
    std::uint64_t m_pulls = 0;
    std::vector<std::thread> m_pullers;
};

}  // namespace isig
