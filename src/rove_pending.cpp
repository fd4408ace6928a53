// The signal command parses all its options and reaches this handler; the
// signal readers replace it.
#include "istd/exception.h"
#include "istd/trace_statement.h"
#include "rove_handlers.h"
#include "rove_params.h"

void Signal(const mci::Node& /*node*/) {
    ISTD_TRACE_FNC("void Signal(const mci::Node&)", c_traceFile);
    throw istd::Exception("signal: not supported yet", true);
}
