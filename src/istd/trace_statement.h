#pragma once
// Levelled trace statements and function trace scopes; the two log
// routines (istd::LogCritical, istd::LogError) come with istd/log.h.
//
// A trace statement tests the trace file's active flag and the active level
// before it builds its text, so a statement whose level is off costs one
// flag test and one level query.
#include <sstream>
#include <string>

#include "istd/log.h"
#include "istd/trace.h"

namespace istd {

inline int TraceActiveLevel() {
    int level = 0;
    TraceFile::GetInstance().GetLevel(level);
    return level;
}

inline bool TraceEnabled(int level) {
    TraceFile& file = TraceFile::GetInstance();
    return file.IsActive() && TraceActiveLevel() >= level;
}

inline void TraceWrite(int level, const char* function, const char* file, int line, const std::string& message) {
    TraceFile::GetInstance().Trace(level, function, file, line, message);
}

}  // namespace istd

// ISTD_TRACE(2, __PRETTY_FUNCTION__, "velnor-rove", "read size: " << size);
// The message parts are only evaluated when the level is active.
#define ISTD_TRACE(level, function, file, parts)                                              \
    do {                                                                                       \
        if (::istd::TraceEnabled(level)) {                                                     \
            std::ostringstream istdTraceText_;                                                 \
            istdTraceText_ << parts;                                                           \
            ::istd::TraceWrite((level), (function), (file), __LINE__, istdTraceText_.str());  \
        }                                                                                      \
    } while (false)

// A function trace scope, closed when the enclosing block is left.
#define ISTD_TRACE_FNC(signature, file) ::istd::TraceFnc istdTraceFnc_((signature), (file), __LINE__)

