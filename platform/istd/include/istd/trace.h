#pragma once
// Trace file and function trace scopes.
//
// Record layout, one line per record:
//   <seconds.micros> L<level> T<thread> <file>:<line> <function>: <message>
// Scopes write "> enter" on entry and "< exit" on exit at the highest level (4).
#include <atomic>
#include <string>

namespace istd {

enum TraceLevel_e : int { eTraceOff = 0, eTraceError = 1, eTraceInfo = 2, eTraceDetail = 3, eTraceAll = 4 };

class TraceFile {
public:
    static TraceFile& GetInstance();
    // Opens the trace sink: a file name, or "-" for standard error. The second
    // text is a prefix written at the head of every record (may be empty).
    static void Init(const std::string& fileName, const std::string& prefix);

    // Turns tracing on with the given level (0 keeps it off).
    void Start(int level);
    void Stop();
    void GetLevel(int& level) const { level = m_level.load(std::memory_order_relaxed); }
    int GetLevel() const { return m_level.load(std::memory_order_relaxed); }
    bool IsActive() const { return m_active.load(std::memory_order_relaxed); }

    void Trace(int level, const char* function, const char* file, int line, const std::string& message);

    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

private:
    TraceFile() = default;
    std::atomic<bool> m_active{false};
    std::atomic<int> m_level{0};
};

// Records entry and exit of a function at level 4.
class TraceFnc {
public:
    TraceFnc(const char* signature, const char* file, int line);
    ~TraceFnc();
    TraceFnc(const TraceFnc&) = delete;
    TraceFnc& operator=(const TraceFnc&) = delete;

private:
    const char* m_signature;
    const char* m_file;
    int m_line;
    bool m_entered;
};

}  // namespace istd
