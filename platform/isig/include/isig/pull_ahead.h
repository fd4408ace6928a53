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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "idl/signal.hh"
#include "isig/codes.h"

namespace isig {

// Whether pulling ahead pays, found out by trying. Pulls in flight ahead
// overlap the server's work with the reader's only when the two have
// processors of their own; when they share one, the hand-overs between
// the pulling threads cost more than they give. So a stream takes turns:
// a trial of `trialBlocks` blocks pulled ahead, one of as many pulled one
// at a time, then the faster way (ahead unless one at a time was faster by
// more than the measuring noise) for `keep`, then trials again.
class PullDepthChooser {
public:
    using Clock = std::chrono::steady_clock;

    explicit PullDepthChooser(std::uint32_t trialBlocks = 32,
                              Clock::duration keep = std::chrono::seconds(2));

    // True when the next block is to be pulled ahead; `now` is when the
    // reader asks for it.
    bool PullAhead(Clock::time_point now);

private:
    enum class Phase { TrialAhead, TrialSingle, Keep };

    void Begin(Phase phase, Clock::time_point now);
    // Ends a trial phase: its time per block, the first block left out (it
    // pays for the change of way).
    Clock::duration Finish(Clock::time_point now) const;

    const std::uint32_t m_trialBlocks;
    const Clock::duration m_keep;
    Phase m_phase = Phase::TrialAhead;
    bool m_ahead = true;
    std::uint32_t m_blocks = 0;        // blocks asked for in this phase
    Clock::time_point m_timedFrom{};   // when the phase's second block was asked for
    Clock::time_point m_phaseStart{};
    Clock::duration m_aheadPerBlock{};
};

// One Pull: the server's code, or eRemoteFailed for a CORBA exception
// (traced with `name`).
SuccessCode_e PullBlock(i_NET::RemoteSignal_ptr remote, std::uint64_t position, std::uint32_t atoms,
                        i_NET::Block_var& block, const std::string& name);

class PullAhead {
public:
    // Starts the depth - 1 pullers; they pull nothing until the first Take.
    PullAhead(i_NET::RemoteSignal_ptr remote, std::uint32_t blockAtoms, std::uint32_t depth, std::string name);
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

    const i_NET::RemoteSignal_var m_remote;
    const std::uint32_t m_blockAtoms;
    const std::uint32_t m_depth;
    const std::string m_name;

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
