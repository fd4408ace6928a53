#pragma once
// The time limits of the library's remote calls: those of the wire
// contract, or shorter ones when VELNOR_CALL_DEADLINE_MS asks for them.
// That variable is meant for tests of the fault paths, which must not wait
// ten seconds for each stopped server; it is read once per process.
#include <chrono>
#include <optional>

namespace mci::detail {

struct Deadlines {
    std::chrono::milliseconds call;     // registry and signal calls
    std::chrono::milliseconds quick;    // checks and clean-up
    std::chrono::milliseconds connect;  // opening a connection
};

// The limits in force in this process.
const Deadlines& ClientDeadlines();

// The call deadline VELNOR_CALL_DEADLINE_MS gives: its decimal milliseconds
// kept within [c_shortestCallDeadline, the contract's call deadline], or
// nothing when `text` is null, empty or not a plain number.
std::optional<std::chrono::milliseconds> CallDeadlineFrom(const char* text);
constexpr std::chrono::milliseconds c_shortestCallDeadline{100};

}  // namespace mci::detail
