#pragma once
// Trace statements of the signal code: the text is built only when the
// level is active, and every record names the function it comes from.
#include <sstream>
#include <string>

#include "istd/trace.h"

namespace isig::detail {

inline bool TraceActive(int level) {
    const istd::TraceFile& trace = istd::TraceFile::GetInstance();
    return trace.IsActive() && trace.GetLevel() >= level;
}

}  // namespace isig::detail

#define ISIG_TRACE(level, text)                                                                     \
    do {                                                                                            \
        if (isig::detail::TraceActive(level)) {                                                     \
            std::ostringstream isigTraceText_;                                                      \
            isigTraceText_ << text;                                                                 \
            istd::TraceFile::GetInstance().Trace(level, __PRETTY_FUNCTION__, __FILE__, __LINE__,    \
                                                 isigTraceText_.str());                             \
        }                                                                                           \
    } while (false)

#define ISIG_TRACE_FNC() istd::TraceFnc isigTraceFnc_(__PRETTY_FUNCTION__, __FILE__, __LINE__)
