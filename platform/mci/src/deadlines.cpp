#include "deadlines.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "velnor/wire.h"

namespace mci::detail {

std::optional<std::chrono::milliseconds> CallDeadlineFrom(const char* text) {
    if (!text || *text == '\0') return std::nullopt;
    const std::string digits(text);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    // Longer numbers lie far above the bound, and past what stol reads.
    if (digits.size() > 9) return velnor::wire::c_callDeadline;
    const std::chrono::milliseconds asked{std::stol(digits)};
    return std::clamp<std::chrono::milliseconds>(asked, c_shortestCallDeadline, velnor::wire::c_callDeadline);
}

const Deadlines& ClientDeadlines() {
    static const Deadlines deadlines = [] {
        const std::chrono::milliseconds call =
            CallDeadlineFrom(std::getenv("VELNOR_CALL_DEADLINE_MS")).value_or(velnor::wire::c_callDeadline);
        // A shorter call deadline shortens the others with it.
        return Deadlines{call, std::min<std::chrono::milliseconds>(velnor::wire::c_quickDeadline, call),
                         std::min<std::chrono::milliseconds>(velnor::wire::c_connectTimeout, call)};
    }();
    return deadlines;
}

}  // namespace mci::detail
