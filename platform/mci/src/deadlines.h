#pragma once
// The time limits of the library's remote calls.
#include <chrono>

namespace mci::detail {

struct Deadlines {
    std::chrono::milliseconds call;     // registry and signal calls
    std::chrono::milliseconds quick;    // checks and clean-up
    std::chrono::milliseconds connect;  // opening a connection
};

// The limits in force in this process.
const Deadlines& ClientDeadlines();

}  // namespace mci::detail
