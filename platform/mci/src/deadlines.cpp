#include "deadlines.h"

#include "velnor/wire.h"

namespace mci::detail {

const Deadlines& ClientDeadlines() {
    static const Deadlines deadlines{velnor::wire::c_callDeadline, velnor::wire::c_quickDeadline,
                                     velnor::wire::c_connectTimeout};
    return deadlines;
}

}  // namespace mci::detail
