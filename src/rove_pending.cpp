// The listen and signal commands parse all their options and reach these
// handlers; the notification listener and the signal readers replace them.
#include "istd/exception.h"
#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_params.h"

void Listen(mci::Node& /*node*/) {
    ISTD_TRACE_FNC("void Listen(mci::Node&)", c_traceFile);
    throw istd::Exception("listen: not supported yet", true);
}

void Signal(const mci::Node& /*node*/) {
    ISTD_TRACE_FNC("void Signal(const mci::Node&)", c_traceFile);
    throw istd::Exception("signal: not supported yet", true);
}
