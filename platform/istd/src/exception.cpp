#include "istd/exception.h"

#include "istd/log.h"
#include "istd/trace.h"

namespace istd {

void LoggedAssert(const char* file, int line, const char* function, const std::string& message) {
    TraceFile& trace = TraceFile::GetInstance();
    if (trace.IsActive() && trace.GetLevel() >= eTraceError) trace.Trace(eTraceError, function, file, line, message);
    if (Log::m_enabled) Log::GetInstance().Error(std::string(file) + ":" + std::to_string(line) + ": " + message);
}

}  // namespace istd
