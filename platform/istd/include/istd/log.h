#pragma once
// The log: critical and error records go to standard error, one line each,
// prefixed with the program's name and the severity. Disabled by default:
// a program turns it on by setting m_enabled.
#include <atomic>
#include <string>

#include "istd/trace.h"

namespace istd {

class Log {
public:
    static std::atomic<bool> m_enabled;
    static Log& GetInstance();

    void Critical(const std::string& message);
    void Error(const std::string& message);

private:
    Log() = default;
    void Write(const char* severity, const std::string& message);
};

// The two log routines: the text goes to the trace file at level 1 (under
// this header's own name) and to the log when it is enabled; nowhere when
// neither is on. Inline, so that code of every library and of the program
// logs the same way.
inline void LogTraced(const char* function, const std::string& text) {
    TraceFile& trace = TraceFile::GetInstance();
    if (trace.IsActive() && trace.GetLevel() >= eTraceError)
        trace.Trace(eTraceError, function, "core/shared/istd/log", __LINE__, text);
}

inline void LogCritical(const std::string& text) {
    LogTraced("void istd::LogCritical(const std::string&)", text);
    if (Log::m_enabled) Log::GetInstance().Critical(text);
}

inline void LogError(const std::string& text) {
    LogTraced("void istd::LogError(const std::string&)", text);
    if (Log::m_enabled) Log::GetInstance().Error(text);
}

}  // namespace istd
